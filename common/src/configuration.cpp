// Configuration reader: walks one JSON object with the SAX interface, so members reach the
// callbacks in document order and a repeated member is reported once per occurrence.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "file_reader.h"
#include "libcommon.h"

namespace {

using json = nlohmann::json;

// x truncated toward zero, saturated to the signed 32-bit range.
int to_int(double x) {
    if (std::isnan(x)) return 0;
    const double t = std::trunc(x);
    if (t >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (t <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int>(t);
}

int to_int(int64_t x) {
    if (x > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (x < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int>(x);
}

int to_int(uint64_t x) {
    return x > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int>(x);
}

// A number member of an entry object, in both forms.
struct EntryNumber {
    bool present = false;
    int i = 0;
    double d = 0.0;
};

// Receives the parser's events. Only two levels matter: the members of the top-level object
// (depth 1) and the members of an entry object (depth 2); anything deeper is skipped.
class Walker : public nlohmann::json_sax<json> {
public:
    Walker(const ConfigurationCallbacks &callbacks, const char *text, size_t size)
        : callbacks_(callbacks), text_(text), size_(size) {}

    bool refused() const { return refused_; }

    bool null() override { return scalar("null"); }
    bool boolean(bool value) override {
        if (in_entry_member()) {
            if (entry_key_ == "enable") {
                enable_ = value;
                enable_wrong_type_ = false;
                return true;
            }
            if (is_number_key(entry_key_)) return wrong_type(entry_key_.c_str(), "a number");
            return true;
        }
        return scalar("a boolean");
    }
    bool number_integer(number_integer_t value) override {
        return number(to_int(static_cast<int64_t>(value)), static_cast<double>(value));
    }
    bool number_unsigned(number_unsigned_t value) override {
        return number(to_int(static_cast<uint64_t>(value)), static_cast<double>(value));
    }
    bool number_float(number_float_t value, const string_t &) override {
        return number(to_int(static_cast<double>(value)), static_cast<double>(value));
    }
    bool string(string_t &value) override {
        if (depth_ == 1 && member_ == "version") {
            if (callbacks_.version != nullptr) callbacks_.version(callbacks_.user, value.c_str());
            return true;
        }
        return scalar("a string");
    }
    bool binary(binary_t &) override { return scalar("binary data"); }

    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t &value) override {
        if (depth_ == 1) {
            member_ = value;
        } else if (depth_ == 2 && entry_open_) {
            entry_key_ = value;
        }
        return true;
    }

    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &error) override {
        // Line and column from the bytes themselves: some parser errors (number overflow) carry
        // no position of their own.
        size_t line = 1;
        size_t column = 0;
        const size_t end = position < size_ ? position : size_;
        for (size_t k = 0; k < end; ++k) {
            if (text_[k] == '\n') {
                ++line;
                column = 0;
            } else {
                ++column;
            }
        }
        refused_ = true;
        if (value_closed_) {
            // The parser's position counts the offending byte itself.
            const size_t offset = position > 0 ? position - 1 : 0;
            LOG(LOG_ERROR,
                "configuration syntax error at line %zu, column %zu: content after the JSON value "
                "at byte offset %zu",
                line, column, offset);
            return false;
        }
        const char *message = error.what();
        // Drop the parser's "[json.exception...] " tag and its own position, given above.
        if (const char *bracket = std::strstr(message, "] "); bracket != nullptr) message = bracket + 2;
        if (std::strncmp(message, "parse error at line ", 20) == 0) {
            if (const char *colon = std::strstr(message, ": "); colon != nullptr) message = colon + 2;
        }
        // The parser quotes the text it last read, which may be long or hold anything.
        LogText safe;
        LOG(LOG_ERROR, "configuration syntax error at line %zu, column %zu: %s", line, column,
            log_text(&safe, message));
        return false;
    }

private:
    static bool is_number_key(const std::string &key) {
        return key == "min" || key == "max" || key == "value";
    }

    // True while a value directly inside an entry object is being reported.
    bool in_entry_member() const { return depth_ == 2 && entry_open_; }

    bool not_an_object() {
        LOG(LOG_ERROR, "configuration refused: the top level must be a JSON object");
        refused_ = true;
        return false;
    }

    bool wrong_type(const char *key, const char *expected) {
        LogText member, entry_key;
        LOG(LOG_ERROR, "configuration refused: %s.%s must be %s", log_text(&member, member_.c_str()),
            log_text(&entry_key, key), expected);
        refused_ = true;
        return false;
    }

    void ignore_member(const char *shape) {
        LogText member;
        LOG(LOG_NOTICE, "configuration member \"%s\" ignored: %s is not an entry",
            log_text(&member, member_.c_str()), shape);
    }

    // A non-number scalar value.
    bool scalar(const char *shape) {
        if (depth_ == 0) return not_an_object();
        if (depth_ == 1) {
            ignore_member(shape);
        } else if (in_entry_member()) {
            if (is_number_key(entry_key_)) return wrong_type(entry_key_.c_str(), "a number");
            if (entry_key_ == "enable") enable_wrong_type_ = true;
        }
        return true;
    }

    bool number(int i, double d) {
        if (depth_ == 0) return not_an_object();
        if (depth_ == 1) {
            ignore_member("a number");
        } else if (in_entry_member()) {
            EntryNumber *slot = entry_key_ == "min" ? &min_ : entry_key_ == "max" ? &max_
                              : entry_key_ == "value" ? &value_ : nullptr;
            if (slot != nullptr) *slot = EntryNumber{true, i, d};
            else if (entry_key_ == "enable") enable_wrong_type_ = true;
        }
        return true;
    }

    bool open(bool object) {
        if (depth_ == 0 && !object) return not_an_object();
        if (depth_ == 1) {
            if (!object) {
                ignore_member("an array");
            } else if (member_ == "version") {
                ignore_member("an object");  // its members are skipped like any nested value
            } else {
                entry_open_ = true;
                entry_key_.clear();
                min_ = max_ = value_ = EntryNumber{};
                enable_ = true;
                enable_wrong_type_ = false;
            }
        } else if (in_entry_member()) {
            if (is_number_key(entry_key_)) return wrong_type(entry_key_.c_str(), "a number");
            if (entry_key_ == "enable") enable_wrong_type_ = true;
        }
        ++depth_;
        return true;
    }

    bool close() {
        --depth_;
        if (depth_ == 0) value_closed_ = true;
        if (depth_ == 1 && entry_open_) {
            entry_open_ = false;
            return finish_entry();
        }
        return true;
    }

    // Decides what the object just closed was and reports it.
    bool finish_entry() {
        const char *name = member_.c_str();
        const bool is_entry = min_.present || max_.present || value_.present;
        if (!is_entry) {
            if (callbacks_.object != nullptr) callbacks_.object(callbacks_.user, name);
            return true;
        }
        if (enable_wrong_type_) return wrong_type("enable", "a boolean");
        LogText safe_name;
        if (min_.present != max_.present) {
            LOG(LOG_ERROR, "configuration refused: %s has \"%s\" without \"%s\"",
                log_text(&safe_name, name), min_.present ? "min" : "max", min_.present ? "max" : "min");
            refused_ = true;
            return false;
        }
        if (min_.present) {
            if (callbacks_.range != nullptr &&
                callbacks_.range(callbacks_.user, name, min_.i, min_.d, max_.i, max_.d, enable_) == -1) {
                LOG(LOG_ERROR, "configuration refused: entry %s was rejected", log_text(&safe_name, name));
                refused_ = true;
                return false;
            }
            return true;
        }
        if (callbacks_.number != nullptr) callbacks_.number(callbacks_.user, name, value_.i, value_.d, enable_);
        return true;
    }

    const ConfigurationCallbacks &callbacks_;
    const char *text_;
    size_t size_;
    bool refused_ = false;
    bool value_closed_ = false;  // the top-level value has ended: only whitespace may follow
    int depth_ = 0;
    std::string member_;     // current member of the top-level object
    bool entry_open_ = false;
    std::string entry_key_;  // current member of the entry object
    EntryNumber min_, max_, value_;
    bool enable_ = true;
    bool enable_wrong_type_ = false;
};

bool sha256_hex(const char *data, size_t size, char out[65]) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1 || length != 32) return false;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int k = 0; k < length; ++k) {
        out[2 * k] = kHex[digest[k] >> 4];
        out[2 * k + 1] = kHex[digest[k] & 0x0f];
    }
    out[64] = '\0';
    return true;
}

bool read_text(const char *text, size_t size, const ConfigurationCallbacks *callbacks) {
    if (callbacks == nullptr) {
        LOG(LOG_ERROR, "configuration refused: null callbacks record");
        return false;
    }
    // The parser takes a NUL byte for the end of the text and would accept whatever follows it;
    // a text read from memory ends at its first NUL, so only a file can hold one.
    if (const void *nul = std::memchr(text, '\0', size); nul != nullptr) {
        LOG(LOG_ERROR, "configuration refused: a NUL byte at byte offset %zu",
            static_cast<size_t>(static_cast<const char *>(nul) - text));
        return false;
    }
    try {
        Walker walker(*callbacks, text, size);
        const bool parsed = json::sax_parse(text, text + size, &walker);
        if (!parsed || walker.refused()) {
            if (!walker.refused()) LOG(LOG_ERROR, "configuration refused: parsing stopped");
            return false;
        }
    } catch (const std::exception &error) {
        LogText safe;
        LOG(LOG_ERROR, "configuration refused: %s", log_text(&safe, error.what()));
        return false;
    }
    char hash[65];
    if (!sha256_hex(text, size, hash)) {
        LOG(LOG_ERROR, "configuration refused: cannot compute its SHA-256");
        return false;
    }
    if (callbacks->hash != nullptr) callbacks->hash(callbacks->user, hash, 64);
    return true;
}

}  // namespace

extern "C" bool configuration_read_memory(const char *text, const ConfigurationCallbacks *callbacks) {
    if (text == nullptr) {
        LOG(LOG_ERROR, "configuration refused: null text");
        return false;
    }
    return read_text(text, std::strlen(text), callbacks);
}

extern "C" bool configuration_read_file(const char *path, const ConfigurationCallbacks *callbacks) {
    if (path == nullptr) {
        LOG(LOG_ERROR, "configuration refused: null path");
        return false;
    }
    unsigned char *data = nullptr;
    size_t size = 0;
    const int error = common_internal::read_whole_file(path, &data, &size);
    if (error != 0) {
        LOG(LOG_ERROR, "cannot read configuration %s: %s", path,
            error == EINVAL ? "not a regular file" : std::strerror(error));
        return false;
    }
    const bool ok = read_text(reinterpret_cast<const char *>(data), size, callbacks);
    std::free(data);
    return ok;
}
