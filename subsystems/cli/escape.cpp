#include "escape.h"

#include <cstdio>

namespace sonara_cli {

std::string escape_control(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace sonara_cli
