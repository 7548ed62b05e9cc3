// A capture of libcommon's log for one test. It hands log_init a real FILE* (a temporary file),
// so the logger writes exactly as it would to a caller's stream, and restores the default logger
// (level 3, standard error) when it goes out of scope so no later test writes into a closed file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "libcommon.h"

namespace test_support {

class LogCapture {
public:
    // Everything at `level` and above is captured.
    explicit LogCapture(int level = LOG_DEBUG) : file_(std::tmpfile()) { log_init(level, file_, 0, 0); }
    ~LogCapture() {
        log_init(LOG_NOTICE, nullptr, 0, 0);
        if (file_ != nullptr) std::fclose(file_);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    FILE *file() const { return file_; }

    // Everything written so far. Reading leaves the file positioned at its end, so the logger
    // keeps appending after a look.
    std::string text() const {
        std::string all;
        if (file_ == nullptr) return all;
        std::fflush(file_);
        std::rewind(file_);
        char buffer[4096];
        size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, file_)) > 0) all.append(buffer, read);
        std::fseek(file_, 0, SEEK_END);
        return all;
    }

    // text() split at each newline; a last line without one still counts.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::string line;
        for (char c : text()) {
            if (c == '\n') {
                result.push_back(line);
                line.clear();
            } else {
                line.push_back(c);
            }
        }
        if (!line.empty()) result.push_back(line);
        return result;
    }

    bool contains(const std::string &piece) const { return text().find(piece) != std::string::npos; }

private:
    FILE *file_;
};

}  // namespace test_support
