// sonara: checks archives of recordings. Its subcommand check is a command line over the
// archive engine (libsonara_archive): the engine walks, reads, checks and writes the records;
// this program parses the options, prints what the engine hands out and exits with its status.
#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "configuration_path.h"
#include "libcommon.h"
#include "options.h"
#include "progress.h"
#include "sonara_archive.h"

namespace {

using namespace sonara_cli;

struct CheckOptions {
    std::vector<std::string> paths;
    std::string files_from;
    std::string files0_from;
    bool no_recurse = false;
    std::string configuration;
    unsigned jobs = 0;
    bool all = false;
    bool strict = false;
    double max_clipped = SONARA_ARCHIVE_DEFAULT_MAX_CLIPPED;
    bool decode = false;
    bool segments = false;
    uint64_t max_size = SONARA_ARCHIVE_DEFAULT_MAX_SIZE;
    int format = SONARA_ARCHIVE_TEXT;
    std::string summary_json;
    bool quiet = false;
    int log_level = LOG_ERROR;
};

// The program's and the library's versions, as the engine reports them: no session needed.
std::string version_text() {
    return std::string("sonara ") + sonara_archive_version() + "\nlibsonara " +
           sonara_archive_component_version("libsonara") + ", vendor " + sonara_archive_component_version("vendor");
}

void warn(const std::string &message) { std::fprintf(stderr, "sonara: %s\n", message.c_str()); }

// The archive a signal stops: set while the run goes on.
SonaraArchive *volatile running_archive = nullptr;

extern "C" void stop_on_signal(int signal) {
    SonaraArchive *archive = running_archive;
    if (archive != nullptr) sonara_archive_cancel(archive, signal);
}

void stop_on_signals() {
    struct sigaction action {};
    action.sa_handler = stop_on_signal;
    action.sa_flags = SA_RESTART;  // a write the signal interrupts goes on: no record is torn
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Buffers a check frees are kept in the heap for the next file rather than handed back to the
// kernel and mapped anew: at most the trim threshold plus the top pad stay allocated per arena
// between files, a constant; buffers above the mapping threshold are still returned at once.
void keep_check_buffers_in_the_heap() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
}

bool write_all(const char *text, size_t size) { return std::fwrite(text, 1, size, stdout) == size; }

int run_check(CheckOptions options) {
    log_init(options.log_level, nullptr, 0, 0);
    keep_check_buffers_in_the_heap();
    if (options.paths.empty() && options.files_from.empty() && options.files0_from.empty()) {
        warn("no paths to check (give PATH..., --files-from or --files0-from)");
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    if (options.configuration.empty()) {
        options.configuration = default_configuration();
        if (options.configuration.empty()) {
            std::string tried;
            for (const std::string &candidate : default_configuration_candidates()) tried += " " + candidate;
            warn("no default configuration (tried" + tried + "); give --config");
            return SONARA_ARCHIVE_EXIT_USAGE;
        }
    }
    FILE *summary_file = nullptr;
    if (!options.summary_json.empty()) {
        summary_file = std::fopen(options.summary_json.c_str(), "w");
        if (summary_file == nullptr) {
            warn("cannot write the summary to " + options.summary_json + ": " + std::strerror(errno));
            return SONARA_ARCHIVE_EXIT_USAGE;
        }
    }

    SonaraArchiveOptions settings;
    sonara_archive_options_init(&settings);
    settings.configuration = options.configuration.c_str();
    settings.format = options.format;
    settings.jobs = options.jobs;
    settings.all = options.all;
    settings.strict = options.strict;
    settings.decode = options.decode;
    settings.segments = options.segments;
    settings.recurse = !options.no_recurse;
    settings.max_size = options.max_size;
    settings.max_clipped = options.max_clipped;
    SonaraArchive *archive = nullptr;
    char error[512] = "";
    if (sonara_archive_create(&settings, &archive, error, sizeof error) != 0) {
        warn(error);
        if (summary_file != nullptr) std::fclose(summary_file);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    struct Destroy {
        SonaraArchive *archive;
        ~Destroy() {
            running_archive = nullptr;
            sonara_archive_destroy(archive);
        }
    } destroy{archive};

    int added = 0;
    if (!options.files_from.empty()) added = sonara_archive_add_list(archive, options.files_from.c_str(), false);
    if (added == 0 && !options.files0_from.empty()) {
        added = sonara_archive_add_list(archive, options.files0_from.c_str(), true);
    }
    for (size_t i = 0; added == 0 && i < options.paths.size(); ++i) {
        added = sonara_archive_add_path(archive, options.paths[i].c_str());
    }
    if (added != 0) {
        warn(sonara_archive_error(archive));
        if (summary_file != nullptr) std::fclose(summary_file);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    sonara_archive_collect(archive);

    running_archive = archive;
    stop_on_signals();
    bool output_failed = !write_all(sonara_archive_header(archive), std::strlen(sonara_archive_header(archive)));
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) == 1, sonara_archive_count(archive));
    double audio_seconds = 0.0;
    SonaraArchiveRecord record{};
    while (sonara_archive_next(archive, &record)) {
        // A record goes out whole or not at all: a stop lands between two records.
        output_failed = !write_all(record.text, record.text_size) || output_failed;
        audio_seconds += record.audio_seconds;
        progress.update(record.index + 1, audio_seconds);
    }
    progress.finish();
    output_failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || output_failed;
    if (output_failed) warn("writing the results failed");

    int status = sonara_archive_exit_status(archive, output_failed);
    if (!options.quiet) std::fputs(sonara_archive_summary_text(archive), stderr);
    if (summary_file != nullptr) {
        const char *json = sonara_archive_summary_json(archive, status);
        const bool written = std::fputs(json, summary_file) >= 0;
        if (std::fclose(summary_file) != 0 || !written) {
            warn("cannot write the summary to " + options.summary_json);
            if (status < SONARA_ARCHIVE_EXIT_NOT_CHECKED) status = SONARA_ARCHIVE_EXIT_NOT_CHECKED;
        }
    }
    return status;
}

// A CLI11 check that answers in plain words.
CLI::Validator plain(const std::string &allowed, std::function<bool(const std::string &)> valid) {
    return CLI::Validator(
        [allowed, valid](std::string &value) -> std::string {
            return valid(value) ? std::string() : "'" + value + "' is not " + allowed;
        },
        "");
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"Checks the technical fitness of voice recordings with libsonara."};
    app.name("sonara");
    app.set_version_flag("--version", version_text, "Print the program's and the library's versions");
    app.require_subcommand(1);

    CheckOptions options;
    std::string jobs_text;
    std::string max_size_text;
    std::string max_clipped_text;
    std::string format_text = "text";
    std::string log_level_text;
    CLI::App *check = app.add_subcommand("check", "Check recordings, folders and lists of them");
    check->add_option("PATH", options.paths,
                      "Files, folders (walked for *.wav) and list files (.txt .lst .list: one path a line)");
    check->add_option("--files-from", options.files_from,
                      "Read paths to check, one per line ('#' lines skipped), from FILE (- for standard input)")
        ->type_name("FILE");
    check->add_option("--files0-from", options.files0_from,
                      "Read NUL-separated paths to check from FILE (- for standard input), as find -print0 writes them")
        ->type_name("FILE");
    check->add_flag("--no-recurse", options.no_recurse, "Check only the files directly in each folder");
    check->add_option("-c,--config", options.configuration,
                      "Configuration file, or a folder holding cv_configuration.json "
                      "(default: the installed one, then the one beside the program)")
        ->type_name("FILE|DIR");
    check->add_option("-j,--jobs", jobs_text, "Worker threads, one session each (default: online processors)")
        ->type_name("N")
        ->check(plain("a whole number of jobs from 1 to 1000000",
                      [](const std::string &v) { return parse_whole(v, 1, 1000000).has_value(); }));
    check->add_flag("--all", options.all, "Obtain every value (v_check_all) instead of stopping at the first failure");
    check->add_flag("--strict", options.strict,
                    "Also fail non-finite values, headers whose fields disagree or are not integer PCM, "
                    "clipped or silent channels, and decoded lengths that differ from the header's");
    check->add_option("--max-clipped", max_clipped_text,
                      "With --strict: the share of a channel's samples that may be clipped (default 0.001)")
        ->type_name("SHARE")
        ->check(plain("a share from 0 to 1", [](const std::string &v) { return parse_real(v, 0.0, 1.0).has_value(); }));
    check->add_flag("--decode", options.decode,
                    "Decode recordings that are not integer PCM WAV (FLAC, Ogg Vorbis, Opus, MP3, A-law, "
                    "u-law, ADPCM, GSM or float WAV) to 16-bit PCM WAV and check that; folders are also "
                    "walked for .flac .ogg .oga .opus .mp3");
    check->add_flag("--segments", options.segments, "Records carry each channel's speech segments");
    check->add_option("--max-size", max_size_text,
                      "Report larger files as too large without reading them, and with --decode refuse "
                      "a decoded WAV larger than this (default 4G)")
        ->type_name("SIZE")
        ->check(plain("a size: a whole number of bytes, or with K, M, G or T (1024-based), up to 16E",
                      [](const std::string &v) { return parse_size(v).has_value(); }));
    check->add_option("-f,--format", format_text, "Output format: text (default), jsonl or csv")
        ->type_name("FORMAT")
        ->check(plain("a format: text, jsonl or csv", [](const std::string &v) {
            return v == "text" || v == "jsonl" || v == "csv";
        }));
    check->add_option("--summary-json", options.summary_json, "Also write the summary as JSON to FILE")
        ->type_name("FILE");
    check->add_flag("-q,--quiet", options.quiet, "No summary and no progress line on standard error");
    check->add_option("--log-level", log_level_text,
                      "Library log lines on standard error from this level on: 1 debug ... 5 errors (default), 6 none")
        ->type_name("LEVEL")
        ->check(plain("a level from 1 to 6", [](const std::string &v) { return parse_whole(v, 1, 6).has_value(); }));
    check->footer(
        "Exit status: 0 every file passed, 1 some file failed a check (or --strict), "
        "2 usage or configuration error, 3 some input could not be checked or none was found, "
        "130/143 stopped by SIGINT/SIGTERM.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &success) {
        return app.exit(success);  // --help, --version
    } catch (const CLI::ParseError &error) {
        app.exit(error);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    if (!jobs_text.empty()) options.jobs = static_cast<unsigned>(*parse_whole(jobs_text, 1, 1000000));
    if (!max_size_text.empty()) options.max_size = *parse_size(max_size_text);
    if (!max_clipped_text.empty()) options.max_clipped = *parse_real(max_clipped_text, 0.0, 1.0);
    if (!log_level_text.empty()) options.log_level = static_cast<int>(*parse_whole(log_level_text, 1, 6));
    options.format = format_text == "jsonl" ? SONARA_ARCHIVE_JSONL
                     : format_text == "csv" ? SONARA_ARCHIVE_CSV
                                            : SONARA_ARCHIVE_TEXT;
    return run_check(options);
}
