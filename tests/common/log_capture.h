// Routes libcommon's log into memory for one test and restores the default afterwards.
#ifndef SONARA_TESTS_COMMON_LOG_CAPTURE_H
#define SONARA_TESTS_COMMON_LOG_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "libcommon.h"

class LogCapture {
public:
    explicit LogCapture(int level = LOG_DEBUG) : stream_(open_memstream(&buffer_, &length_)) {
        log_init(level, stream_, 0, 0);
    }
    ~LogCapture() {
        log_init(LOG_NOTICE, nullptr, 0, 0);
        std::fclose(stream_);
        std::free(buffer_);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, length_);
    }

private:
    char *buffer_ = nullptr;
    size_t length_ = 0;
    FILE *stream_;
};

#endif
