#include "configuration_path.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace sonara_cli {

std::string program_directory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    return program.parent_path().string();
}

std::vector<std::string> default_configuration_candidates() {
    const std::string directory = program_directory();
    if (directory.empty()) return {};
    return {directory + "/" SONARA_BIN_TO_DATA "/sonara/cv_configuration.json",
            directory + "/cv_configuration.json"};
}

std::string default_configuration() {
    for (const std::string &candidate : default_configuration_candidates()) {
        if (::access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return "";
}

}  // namespace sonara_cli
