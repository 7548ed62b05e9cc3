// sonara: checks archives of WAV recordings through libsonara. The first subcommand, check,
// walks files and folders, checks each file on one session per worker thread and writes one
// record per file, in sorted path order, as text, JSON Lines or CSV.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "checker.h"
#include "configuration_path.h"
#include "escape.h"
#include "libcommon.h"
#include "output.h"
#include "progress.h"
#include "sonara.h"
#include "summary.h"
#include "walk.h"
#include "workers.h"

namespace {

using namespace sonara_cli;

// Exit statuses.
constexpr int EXIT_ALL_PASSED = 0;
constexpr int EXIT_CHECK_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_UNREADABLE = 3;

constexpr uint64_t DEFAULT_MAX_SIZE = uint64_t{4} << 30;  // 4 GiB
constexpr int LOG_SILENT = LOG_ERROR + 1;

struct CheckOptions {
    std::vector<std::string> paths;
    std::string files_from;
    bool no_recurse = false;
    std::string configuration;
    unsigned jobs = 0;
    bool all = false;
    bool strict = false;
    uint64_t max_size = DEFAULT_MAX_SIZE;
    OutputFormat format = OutputFormat::text;
    std::string summary_json;
    bool quiet = false;
    int log_level = LOG_ERROR;
};

// The library's version block, as a session creation writes it before the configuration is
// read: an empty configuration text is refused after that, with the logger muted meanwhile.
std::string version_text() {
    Session probe{};
    log_init(LOG_SILENT, nullptr, 0, 0);
    v_create_session_from_memory(&probe, "{}");
    log_init(LOG_NOTICE, nullptr, 0, 0);
    if (probe.payment != nullptr) v_destroy_session(&probe);
    std::string vendor(probe.vendor, strnlen(probe.vendor, sizeof probe.vendor));
    return "sonara " SONARA_VERSION "\nlibsonara " + std::to_string(probe.major) + "." +
           std::to_string(probe.minor) + "." + std::to_string(probe.patch) + ", vendor " + vendor;
}

void warn(const std::string &message) { std::fprintf(stderr, "sonara: %s\n", message.c_str()); }

// The paths of --files-from: one per line, empty lines skipped. false when it can't be read.
bool read_path_list(const std::string &source, std::vector<std::string> &paths) {
    std::ifstream file;
    std::istream *in = &std::cin;
    if (source != "-") {
        file.open(source);
        if (!file) return false;
        in = &file;
    }
    std::string line;
    while (std::getline(*in, line)) {
        if (!line.empty()) paths.push_back(line);
    }
    return !in->bad();
}

unsigned online_processors() {
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1u;
}

// Every check allocates and frees buffers of a few to some tens of MiB. By default glibc hands
// many of them back to the kernel and maps them anew for the next file, and the page faults cost
// a third of the run time (more with two workers faulting at once). Kept in the heap instead, a
// worker reuses them: at most the trim threshold plus the top pad stay allocated per arena
// between files, a constant; buffers above the mapping threshold are still returned at once.
void keep_check_buffers_in_the_heap() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
}

int run_check(CheckOptions options) {
    log_init(options.log_level, nullptr, 0, 0);
    keep_check_buffers_in_the_heap();
    if (!options.files_from.empty() && !read_path_list(options.files_from, options.paths)) {
        warn("cannot read the path list " + escape_control(options.files_from));
        return EXIT_USAGE;
    }
    if (options.paths.empty()) {
        warn("no paths to check (give PATH... or --files-from)");
        return EXIT_USAGE;
    }
    if (options.configuration.empty()) {
        options.configuration = default_configuration();
        if (options.configuration.empty()) {
            std::string tried;
            for (const std::string &candidate : default_configuration_candidates()) tried += " " + candidate;
            warn("no default configuration (tried" + tried + "); give --config");
            return EXIT_USAGE;
        }
    }
    std::unique_ptr<std::ofstream> summary_file;
    if (!options.summary_json.empty()) {
        summary_file = std::make_unique<std::ofstream>(options.summary_json);
        if (!*summary_file) {
            warn("cannot write the summary to " + escape_control(options.summary_json));
            return EXIT_USAGE;
        }
    }

    CheckSettings settings{options.configuration, options.all, options.strict, options.max_size};
    std::vector<std::unique_ptr<Checker>> checkers;
    checkers.push_back(std::make_unique<Checker>(settings));
    if (!checkers.front()->created()) {
        warn("configuration refused: " + escape_control(options.configuration));
        return EXIT_USAGE;
    }

    const auto start = std::chrono::steady_clock::now();
    WalkOptions walk;
    walk.recurse = !options.no_recurse;
    walk.warn = [](const std::string &path, const std::string &why) {
        warn(escape_control(path) + ": " + why);
    };
    const std::vector<Input> inputs = collect_inputs(options.paths, walk);

    unsigned jobs = options.jobs != 0 ? options.jobs : online_processors();
    if (jobs > inputs.size()) jobs = inputs.empty() ? 1u : static_cast<unsigned>(inputs.size());
    while (checkers.size() < jobs) {
        checkers.push_back(std::make_unique<Checker>(settings));
        if (!checkers.back()->created()) {
            warn("configuration refused: " + escape_control(options.configuration));
            return EXIT_USAGE;
        }
    }

    std::fputs(output_header(options.format, options.strict).c_str(), stdout);
    Summary summary;
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) == 1, inputs.size());
    check_in_order(inputs, checkers, [&](size_t index, FileReport &&report) {
        const std::string record = output_record(options.format, report, options.strict);
        std::fwrite(record.data(), 1, record.size(), stdout);
        summary.add(report);
        progress.update(index + 1, summary.audio_seconds());
    });
    progress.finish();
    const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int status = EXIT_ALL_PASSED;
    if (summary.errors() > 0 || !written) {
        status = EXIT_UNREADABLE;
    } else if (summary.failed() > 0) {
        status = EXIT_CHECK_FAILED;
    }
    if (!written) warn("writing the results failed");
    if (inputs.empty()) warn("no WAV files found");
    if (!options.quiet) std::fputs(summary.text(wall, jobs).c_str(), stderr);
    if (summary_file) {
        *summary_file << summary.json(wall, jobs, status);
        summary_file->close();
        if (!*summary_file) warn("cannot write the summary to " + escape_control(options.summary_json));
    }
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"Checks the technical fitness of WAV voice recordings with libsonara."};
    app.name("sonara");
    app.set_version_flag("--version", version_text, "Print the program's and the library's versions");
    app.require_subcommand(1);

    CheckOptions options;
    CLI::App *check = app.add_subcommand("check", "Check WAV files and folders of them");
    check->add_option("PATH", options.paths, "Files and folders to check (folders are walked for *.wav)");
    check->add_option("--files-from", options.files_from, "Read paths to check, one per line, from FILE (- for standard input)")
        ->type_name("FILE");
    check->add_flag("--no-recurse", options.no_recurse, "Check only the files directly in each folder");
    check->add_option("-c,--config", options.configuration,
                      "Configuration file, or a folder holding cv_configuration.json "
                      "(default: the installed one, then the one beside the program)")
        ->type_name("FILE|DIR");
    check->add_option("-j,--jobs", options.jobs, "Worker threads, one session each (default: online processors)")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    check->add_flag("--all", options.all, "Obtain every value (v_check_all) instead of stopping at the first failure");
    check->add_flag("--strict", options.strict,
                    "Also fail non-finite values and headers whose fields disagree or are not integer PCM");
    check->add_option("--max-size", options.max_size, "Report larger files as too large without reading them (default 4GiB)")
        ->transform(CLI::AsSizeValue(false))
        ->option_text("SIZE (bytes, or with K, M, G: 1024-based)");
    const std::map<std::string, OutputFormat> formats = {
        {"text", OutputFormat::text}, {"jsonl", OutputFormat::jsonl}, {"csv", OutputFormat::csv}};
    check->add_option("-f,--format", options.format, "Output format: text, jsonl or csv (default text)")
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case))
        ->option_text("text|jsonl|csv");
    check->add_option("--summary-json", options.summary_json, "Also write the summary as JSON to FILE")
        ->type_name("FILE");
    check->add_flag("-q,--quiet", options.quiet, "No summary and no progress line on standard error");
    check->add_option("--log-level", options.log_level,
                      "Library log lines on standard error from this level on: 1 debug ... 5 errors (default), 6 none")
        ->check(CLI::Range(1, 6))
        ->type_name("LEVEL");
    check->footer(
        "Exit status: 0 every file passed, 1 some file failed a check (or --strict), "
        "2 usage or configuration error, 3 some input could not be read.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &success) {
        return app.exit(success);  // --help, --version
    } catch (const CLI::ParseError &error) {
        app.exit(error);
        return EXIT_USAGE;
    }
    return run_check(options);
}
