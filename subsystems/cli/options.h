// Parsing of option values the way a user reads the messages: the option, what was given and
// what is allowed, in plain words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonara_cli {

// A size in bytes: digits, optionally followed by K, M, G or T (1024-based, "KiB"/"KB" also
// read). Nothing for a negative, a fraction, other text or a value past 2^64 - 1.
std::optional<uint64_t> parse_size(const std::string &text);

// A whole number within [minimum, maximum]; nothing otherwise.
std::optional<long long> parse_whole(const std::string &text, long long minimum, long long maximum);

// A real number within [minimum, maximum]; nothing otherwise (NaN included).
std::optional<double> parse_real(const std::string &text, double minimum, double maximum);

}  // namespace sonara_cli
