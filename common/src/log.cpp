// Process-wide logger: one formatted line per call, written whole under a lock.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "libcommon.h"

namespace {

std::atomic<int> g_min_level{LOG_NOTICE};
std::mutex g_mutex;
FILE *g_target = nullptr;  // null: standard error

const char *level_name(int level) {
    switch (level) {
    case LOG_DEBUG: return "DEBUG";
    case LOG_INFO: return "INFO";
    case LOG_NOTICE: return "NOTICE";
    case LOG_WARN: return "WARN";
    case LOG_ERROR: return "ERROR";
    default: return level < LOG_DEBUG ? "DEBUG" : "ERROR";
    }
}

const char *base_name(const char *path) {
    if (path == nullptr) return "?";
    const char *slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

void write_line(const char *line, size_t length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    FILE *target = g_target != nullptr ? g_target : stderr;
    std::fwrite(line, 1, length, target);
    std::fflush(target);
}

}  // namespace

extern "C" void log_log(int level, const char *file, int line, const char *fmt, ...) {
    if (level < g_min_level.load(std::memory_order_relaxed) || fmt == nullptr) return;

    char prefix[256];
    int prefix_length = std::snprintf(prefix, sizeof prefix, "%s %s:%d: ", level_name(level),
                                      base_name(file), line);
    if (prefix_length < 0) return;
    if (static_cast<size_t>(prefix_length) >= sizeof prefix) prefix_length = sizeof prefix - 1;

    va_list args;
    va_start(args, fmt);
    va_list measure;
    va_copy(measure, args);
    const int message_length = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (message_length < 0) {
        va_end(args);
        return;
    }

    // Prefix, message, newline and terminator in one block so the line goes out in one write.
    const size_t total = static_cast<size_t>(prefix_length) + static_cast<size_t>(message_length) + 2;
    char stack_buffer[1024];
    char *buffer = total <= sizeof stack_buffer ? stack_buffer : static_cast<char *>(std::malloc(total));
    if (buffer == nullptr) {
        va_end(args);
        static const char kNoMemory[] = "ERROR libcommon: log line dropped, out of memory\n";
        write_line(kNoMemory, sizeof kNoMemory - 1);
        return;
    }
    std::memcpy(buffer, prefix, static_cast<size_t>(prefix_length));
    std::vsnprintf(buffer + prefix_length, static_cast<size_t>(message_length) + 1, fmt, args);
    va_end(args);
    buffer[total - 2] = '\n';
    buffer[total - 1] = '\0';

    write_line(buffer, total - 1);
    if (buffer != stack_buffer) std::free(buffer);
}

extern "C" int log_init(int level, void *target, int /*reserved1*/, int /*reserved2*/) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_target = static_cast<FILE *>(target);
    g_min_level.store(level, std::memory_order_relaxed);
    return 0;
}

namespace {

// Bytes in the UTF-8 sequence that lead starts, or 0 when lead can't start one.
size_t utf8_length(unsigned char lead) {
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 0;
}

}  // namespace

extern "C" const char *log_text(LogText *buffer, const char *text) {
    static const char kNull[] = "(null)";
    if (buffer == nullptr) return kNull;
    if (text == nullptr) {
        std::memcpy(buffer->text, kNull, sizeof kNull);
        return buffer->text;
    }
    static const char kHex[] = "0123456789abcdef";
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    size_t used = 0;
    bool cut = false;
    while (*in != 0) {
        // One unit of output: an escape, one whole UTF-8 character or one plain byte.
        char unit[8];
        size_t length = 0;
        size_t consumed = 1;
        const unsigned char c = in[0];
        const size_t sequence = utf8_length(c);
        bool whole = sequence > 0;
        for (size_t k = 1; whole && k < sequence; ++k) whole = (in[k] & 0xc0) == 0x80;
        if (c == '\\') {
            unit[length++] = '\\';
            unit[length++] = '\\';
        } else if (c == '\n' || c == '\r' || c == '\t') {
            unit[length++] = '\\';
            unit[length++] = c == '\n' ? 'n' : c == '\r' ? 'r' : 't';
        } else if (c == 0xc2 && in[1] >= 0x80 && in[1] <= 0x9f) {  // a C1 control, U+0080..U+009F
            std::memcpy(unit, "\\u00", 4);
            length = 4;
            unit[length++] = kHex[in[1] >> 4];
            unit[length++] = kHex[in[1] & 0x0f];
            consumed = 2;
        } else if (whole) {
            std::memcpy(unit, in, sequence);
            length = consumed = sequence;
        } else if (c < 0x20 || c >= 0x7f) {  // other controls, DEL, bytes outside UTF-8
            unit[length++] = '\\';
            unit[length++] = 'x';
            unit[length++] = kHex[c >> 4];
            unit[length++] = kHex[c & 0x0f];
        } else {
            unit[length++] = static_cast<char>(c);
        }
        if (used + length > LOG_TEXT_LIMIT) {
            cut = true;
            break;
        }
        std::memcpy(buffer->text + used, unit, length);
        used += length;
        in += consumed;
    }
    if (cut) {
        std::memcpy(buffer->text + used, LOG_TEXT_CUT_MARK, sizeof LOG_TEXT_CUT_MARK);
    } else {
        buffer->text[used] = '\0';
    }
    return buffer->text;
}
