// Turns the paths of the command line into the sorted list of files to check.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sonara_cli {

// One entry of the list: a file to check, or a path that could not be checked (error set).
struct Input {
    std::string path;
    std::string error;
};

struct WalkOptions {
    bool recurse = true;
    // Called for every path that is skipped on purpose (FIFO, socket, device), with why.
    std::function<void(const std::string &path, const std::string &why)> warn;
};

// Named files are checked whatever their names; named directories are walked for names ending
// in ".wav" in any case, into subdirectories unless recurse is off. Links to files are followed,
// links to directories are not, so the walk cannot loop. A path that can't be looked at or a
// directory that can't be listed becomes an entry with its error. The result is sorted by path
// bytes and holds each path once.
std::vector<Input> collect_inputs(const std::vector<std::string> &paths, const WalkOptions &options);

// True when name ends in ".wav", compared without regard to case.
bool has_wav_extension(const std::string &name);

}  // namespace sonara_cli
