// One worker's session: reads a file, checks it through libsonara and copies the result out.
#pragma once

#include <cstdint>
#include <string>

#include "report.h"
#include "sonara.h"
#include "walk.h"

namespace sonara_cli {

struct CheckSettings {
    std::string configuration;  // file or directory, as v_create_session takes it
    bool all = false;           // v_check_all instead of v_check
    bool strict = false;
    uint64_t max_size = 0;
};

class Checker {
public:
    explicit Checker(const CheckSettings &settings);
    ~Checker();
    Checker(const Checker &) = delete;
    Checker &operator=(const Checker &) = delete;

    // False when the configuration was refused (the library has logged why).
    bool created() const { return created_; }
    const std::string &configuration_version() const { return version_; }
    const std::string &configuration_hash() const { return hash_; }

    FileReport check(const Input &input);

private:
    CheckSettings settings_;
    Session session_{};
    bool created_ = false;
    std::string version_;
    std::string hash_;
};

}  // namespace sonara_cli
