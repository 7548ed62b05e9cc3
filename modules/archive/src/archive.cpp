// The C interface of the archive engine: one handle from the options to the records.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "checker.h"
#include "escape.h"
#include "ordered_pool.h"
#include "output.h"
#include "sonara_archive.h"
#include "sonara_vocabulary.h"
#include "sources.h"
#include "summary.h"

#ifndef SONARA_ARCHIVE_VERSION
#define SONARA_ARCHIVE_VERSION "unknown"
#endif

namespace {

using namespace sonara_archive;

// More workers than this only cost memory: each holds a session and a thread stack.
constexpr unsigned MAX_JOBS = 1024;

unsigned online_processors() {
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1u;
}

void copy_error(const std::string &text, char *error, size_t error_size) {
    if (error == nullptr || error_size == 0) return;
    std::snprintf(error, error_size, "%s", text.c_str());
}

const char *return_code_text(int code) {
    for (const auto &entry : sonara_vocabulary::SESSION_RETURN_CODES) {
        if (entry.code == code) return entry.text;
    }
    return "unknown code";
}

}  // namespace

struct SonaraArchive {
    SonaraArchiveOptions options{};
    CheckSettings settings;
    OutputFormat format = OutputFormat::text;
    RecordShape shape;
    Sources sources{WalkRules{}};
    bool collected = false;
    std::vector<Item> items;
    std::vector<std::unique_ptr<Checker>> checkers;
    std::unique_ptr<OrderedPool> pool;
    std::string header;
    std::string error;
    // The record handed out last, whose texts the caller reads until the next call.
    FileReport report;
    std::string record_text;
    Summary summary;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point last;
    bool started = false;
    bool finished = false;
    std::atomic<int> cancel_signal{-1};  // -1: not cancelled
    std::string summary_text;
    std::string summary_json;

    void warn(const std::string &text) const {
        if (options.warn != nullptr) {
            options.warn(options.warn_user, text.c_str());
        } else {
            std::fprintf(stderr, "sonara: %s\n", text.c_str());
        }
    }

    double wall_seconds() const {
        return started ? std::chrono::duration<double>(last - start).count() : 0.0;
    }

    int fail(const std::string &text) {
        error = text;
        return SONARA_ARCHIVE_EXIT_USAGE;
    }

    // The checkers beyond the first, one per worker thread; a session the system can't give
    // lowers the count instead of ending the run.
    void add_checkers(unsigned jobs) {
        while (checkers.size() < jobs) {
            auto checker = std::make_unique<Checker>(settings);
            if (!checker->created()) {
                warn("could not create session " + std::to_string(checkers.size() + 1) + ": going on with " +
                     std::to_string(checkers.size()));
                break;
            }
            checkers.push_back(std::move(checker));
        }
    }

    void begin() {
        started = true;
        start = last = std::chrono::steady_clock::now();
        sonara_archive_collect(this);
        if (items.empty()) warn("no recordings found");
        unsigned jobs = options.jobs != 0 ? options.jobs : online_processors();
        if (jobs > MAX_JOBS) {
            warn(std::to_string(jobs) + " jobs asked for: going on with " + std::to_string(MAX_JOBS));
            jobs = MAX_JOBS;
        }
        if (jobs > items.size()) jobs = items.empty() ? 1u : static_cast<unsigned>(items.size());
        add_checkers(jobs);
        pool = std::make_unique<OrderedPool>(items, checkers, [this](const std::string &text) { warn(text); });
        if (cancel_signal.load() >= 0) pool->cancel();
    }
};

extern "C" {

SONARA_ARCHIVE_API void sonara_archive_options_init(SonaraArchiveOptions *options) {
    if (options == nullptr) return;
    std::memset(options, 0, sizeof *options);
    options->struct_size = sizeof *options;
    options->format = SONARA_ARCHIVE_TEXT;
    options->recurse = true;
    options->max_size = SONARA_ARCHIVE_DEFAULT_MAX_SIZE;
    options->max_clipped = SONARA_ARCHIVE_DEFAULT_MAX_CLIPPED;
}

SONARA_ARCHIVE_API int sonara_archive_create(const SonaraArchiveOptions *options, SonaraArchive **out,
                                             char *error, size_t error_size) {
    if (out == nullptr) return SONARA_ARCHIVE_EXIT_USAGE;
    *out = nullptr;
    if (options == nullptr || options->struct_size != sizeof *options) {
        copy_error("options missing or of another version (struct_size)", error, error_size);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    if (options->format < SONARA_ARCHIVE_TEXT || options->format > SONARA_ARCHIVE_CSV) {
        copy_error("unknown record format " + std::to_string(options->format), error, error_size);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    if (!(options->max_clipped >= 0.0 && options->max_clipped <= 1.0)) {
        copy_error("the clipped share must lie between 0 and 1", error, error_size);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    if (options->configuration == nullptr && options->configuration_text == nullptr) {
        copy_error("no configuration given", error, error_size);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    auto archive = std::make_unique<SonaraArchive>();
    archive->options = *options;
    archive->options.configuration = nullptr;  // copied below; the caller's texts may go
    archive->options.configuration_text = nullptr;
    CheckSettings &settings = archive->settings;
    if (options->configuration != nullptr) {
        settings.configuration = options->configuration;
        if (settings.configuration.empty()) {
            copy_error("the configuration path is empty", error, error_size);
            return SONARA_ARCHIVE_EXIT_USAGE;
        }
    } else {
        settings.configuration_text = options->configuration_text;
    }
    settings.all = options->all;
    settings.strict = options->strict;
    settings.decode = options->decode;
    settings.segments = options->segments;
    settings.max_size = options->max_size;
    settings.strict_rules.max_clipped = options->max_clipped;
    archive->format = static_cast<OutputFormat>(options->format);
    archive->shape = {options->strict, options->decode};
    archive->sources = Sources(WalkRules{options->recurse, options->decode});
    archive->header = output_header(archive->format, archive->shape);

    auto first = std::make_unique<Checker>(settings);
    if (!first->created()) {
        const std::string source = options->configuration != nullptr
                                       ? "configuration " + escape_control(settings.configuration)
                                       : std::string("configuration text");
        copy_error(source + " refused (code " + std::to_string(first->creation_code()) + ": " +
                       return_code_text(first->creation_code()) + ")",
                   error, error_size);
        return SONARA_ARCHIVE_EXIT_USAGE;
    }
    archive->checkers.push_back(std::move(first));
    *out = archive.release();
    return SONARA_ARCHIVE_EXIT_PASSED;
}

SONARA_ARCHIVE_API void sonara_archive_destroy(SonaraArchive *archive) { delete archive; }

SONARA_ARCHIVE_API int sonara_archive_add_path(SonaraArchive *archive, const char *path) {
    if (archive == nullptr || path == nullptr) return SONARA_ARCHIVE_EXIT_USAGE;
    if (archive->started || archive->collected) return archive->fail("sources are added before the run starts");
    archive->error.clear();
    std::string why;
    return archive->sources.add_path(path, why) ? 0 : archive->fail(why);
}

SONARA_ARCHIVE_API int sonara_archive_add_list(SonaraArchive *archive, const char *list, bool nul_separated) {
    if (archive == nullptr || list == nullptr) return SONARA_ARCHIVE_EXIT_USAGE;
    if (archive->started || archive->collected) return archive->fail("sources are added before the run starts");
    archive->error.clear();
    std::string why;
    return archive->sources.add_list(list, nul_separated, why) ? 0 : archive->fail(why);
}

SONARA_ARCHIVE_API int sonara_archive_add_item(SonaraArchive *archive, const char *path, const char *error) {
    if (archive == nullptr || path == nullptr) return SONARA_ARCHIVE_EXIT_USAGE;
    if (archive->started || archive->collected) return archive->fail("sources are added before the run starts");
    archive->sources.add_item(path, error != nullptr ? error : "");
    return 0;
}

SONARA_ARCHIVE_API int sonara_archive_collect(SonaraArchive *archive) {
    if (archive == nullptr) return SONARA_ARCHIVE_EXIT_USAGE;
    if (!archive->collected) {
        archive->items = archive->sources.collect();
        archive->collected = true;
    }
    return 0;
}

SONARA_ARCHIVE_API size_t sonara_archive_count(const SonaraArchive *archive) {
    return archive != nullptr ? archive->items.size() : 0;
}

SONARA_ARCHIVE_API const char *sonara_archive_item_path(const SonaraArchive *archive, size_t index) {
    if (archive == nullptr || index >= archive->items.size()) return nullptr;
    return archive->items[index].path.c_str();
}

SONARA_ARCHIVE_API const char *sonara_archive_item_error(const SonaraArchive *archive, size_t index) {
    if (archive == nullptr || index >= archive->items.size()) return nullptr;
    const std::string &error = archive->items[index].error;
    return error.empty() ? nullptr : error.c_str();
}

SONARA_ARCHIVE_API const char *sonara_archive_header(const SonaraArchive *archive) {
    return archive != nullptr ? archive->header.c_str() : "";
}

SONARA_ARCHIVE_API bool sonara_archive_next(SonaraArchive *archive, SonaraArchiveRecord *record) {
    if (archive == nullptr || record == nullptr || archive->finished) return false;
    if (!archive->started) archive->begin();
    const size_t index = archive->summary.files();
    if (!archive->pool->next(archive->report)) {
        archive->finished = true;
        archive->last = std::chrono::steady_clock::now();
        return false;
    }
    const FileReport &report = archive->report;
    archive->summary.add(report);
    archive->last = std::chrono::steady_clock::now();
    archive->record_text = output_record(archive->format, report, archive->shape);
    record->index = index;
    record->count = archive->items.size();
    record->path = report.path.c_str();
    record->text = archive->record_text.c_str();
    record->text_size = archive->record_text.size();
    record->state = report.checked() ? report.state : -1;
    record->checked = report.checked();
    record->passed = report.checked() && !report.failed();
    record->audio_seconds = report.audio_seconds;
    return true;
}

SONARA_ARCHIVE_API void sonara_archive_cancel(SonaraArchive *archive, int signal) {
    if (archive == nullptr) return;
    archive->cancel_signal.store(signal);
    // The pool exists from the first next() on; before that, begin() passes the flag on.
    if (archive->pool) archive->pool->cancel();
}

SONARA_ARCHIVE_API unsigned sonara_archive_jobs(const SonaraArchive *archive) {
    if (archive == nullptr || !archive->pool) return 0;
    const unsigned threads = archive->pool->threads();
    return threads == 0 ? 1 : threads;
}

SONARA_ARCHIVE_API int sonara_archive_exit_status(const SonaraArchive *archive, bool output_failed) {
    if (archive == nullptr) return SONARA_ARCHIVE_EXIT_USAGE;
    const int signal = archive->cancel_signal.load();
    if (signal == SIGINT) return SONARA_ARCHIVE_EXIT_INTERRUPTED;
    if (signal == SIGTERM) return SONARA_ARCHIVE_EXIT_TERMINATED;
    const Summary &summary = archive->summary;
    if (output_failed || summary.errors() > 0 || summary.files() == 0) return SONARA_ARCHIVE_EXIT_NOT_CHECKED;
    if (summary.failed() > 0) return SONARA_ARCHIVE_EXIT_FAILED;
    return SONARA_ARCHIVE_EXIT_PASSED;
}

SONARA_ARCHIVE_API const char *sonara_archive_summary_text(SonaraArchive *archive) {
    if (archive == nullptr) return "";
    archive->summary_text = archive->summary.text(archive->wall_seconds(), sonara_archive_jobs(archive));
    return archive->summary_text.c_str();
}

SONARA_ARCHIVE_API const char *sonara_archive_summary_json(SonaraArchive *archive, int exit_status) {
    if (archive == nullptr) return "";
    archive->summary_json = archive->summary.json(archive->wall_seconds(), sonara_archive_jobs(archive), exit_status);
    return archive->summary_json.c_str();
}

SONARA_ARCHIVE_API const char *sonara_archive_error(const SonaraArchive *archive) {
    return archive != nullptr ? archive->error.c_str() : "";
}

SONARA_ARCHIVE_API const char *sonara_archive_version(void) { return SONARA_ARCHIVE_VERSION; }

SONARA_ARCHIVE_API size_t sonara_archive_options_size(void) { return sizeof(SonaraArchiveOptions); }

SONARA_ARCHIVE_API size_t sonara_archive_record_size(void) { return sizeof(SonaraArchiveRecord); }

}  // extern "C"
