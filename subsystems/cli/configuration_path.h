// Where the default configuration is found when --config is not given.
#pragma once

#include <string>
#include <vector>

namespace sonara_cli {

// The folder holding the running program, from /proc/self/exe; empty when it can't be read.
std::string program_directory();

// The candidates in the order they are tried: the installed share/sonara/cv_configuration.json
// (relative to the program, so any install prefix works), then the one beside the program (a
// build folder).
std::vector<std::string> default_configuration_candidates();

// The first candidate that exists; empty when none does.
std::string default_configuration();

}  // namespace sonara_cli
