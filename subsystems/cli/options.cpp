#include "options.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace sonara_cli {

std::optional<uint64_t> parse_size(const std::string &text) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits == 0) return std::nullopt;
    uint64_t value = 0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + digits, value);
    if (read.ec != std::errc()) return std::nullopt;  // past 2^64 - 1
    std::string unit;
    for (size_t i = digits; i < text.size(); ++i) unit += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    if (unit.size() > 1 && (unit.substr(1) == "IB" || unit.substr(1) == "B")) unit.resize(1);
    unsigned shift = 0;
    if (unit.empty() || unit == "B") {
        shift = 0;
    } else if (unit == "K") {
        shift = 10;
    } else if (unit == "M") {
        shift = 20;
    } else if (unit == "G") {
        shift = 30;
    } else if (unit == "T") {
        shift = 40;
    } else {
        return std::nullopt;
    }
    if (shift != 0 && value > (std::numeric_limits<uint64_t>::max() >> shift)) return std::nullopt;
    return value << shift;
}

std::optional<long long> parse_whole(const std::string &text, long long minimum, long long maximum) {
    long long value = 0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size()) return std::nullopt;
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

std::optional<double> parse_real(const std::string &text, double minimum, double maximum) {
    double value = 0.0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size()) return std::nullopt;
    if (!(value >= minimum && value <= maximum)) return std::nullopt;
    return value;
}

}  // namespace sonara_cli
