#include "escape.h"

#include <cstdint>
#include <cstdio>

namespace sonara_archive {
namespace {

// The length of the UTF-8 character starting at text[at], or 0 when the bytes there are not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t character_length(const std::string &text, size_t at, uint32_t *code_point) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) {
        *code_point = first;
        return 1;
    }
    size_t length = 0;
    uint32_t value = 0;
    uint32_t minimum = 0;
    if ((first & 0xE0) == 0xC0) {
        length = 2, value = first & 0x1F, minimum = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3, value = first & 0x0F, minimum = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4, value = first & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code_point = value;
    return length;
}

std::string hex_escape(const char *format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string escape_control(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t code_point = 0;
        const size_t length = character_length(text, at, &code_point);
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (length == 0 || byte < 0x20 || byte == 0x7f) {
            out += hex_escape("\\x%02x", byte);
            ++at;
        } else if (byte == '\\') {
            out += "\\\\";
            ++at;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        uint32_t code_point = 0;
        const size_t length = character_length(text, at, &code_point);
        if (length == 0) {
            out += hex_escape("\\udc%02x", static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        at += length;
        switch (code_point) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\b': out += "\\b"; continue;
        case '\f': out += "\\f"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        default: break;
        }
        if (code_point < 0x20 || (code_point >= 0x7f && code_point < 0x10000)) {
            out += hex_escape("\\u%04x", code_point);
        } else if (code_point >= 0x10000) {
            const uint32_t offset = code_point - 0x10000;
            out += hex_escape("\\u%04x", 0xD800 + (offset >> 10));
            out += hex_escape("\\u%04x", 0xDC00 + (offset & 0x3FF));
        } else {
            out += static_cast<char>(code_point);
        }
    }
    return out + "\"";
}

std::string without_partial_character(const std::string &text) {
    // Step back over at most three continuation bytes to the last lead byte.
    size_t lead = text.size();
    for (size_t back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        if ((static_cast<unsigned char>(text[lead]) & 0xC0) != 0x80) break;
    }
    if (lead >= text.size()) return text;
    uint32_t code_point = 0;
    const unsigned char first = static_cast<unsigned char>(text[lead]);
    if (first < 0x80) return text;
    return character_length(text, lead, &code_point) == text.size() - lead ? text : text.substr(0, lead);
}

std::string valid_utf8(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t code_point = 0;
        const size_t length = character_length(text, at, &code_point);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

}  // namespace sonara_archive
