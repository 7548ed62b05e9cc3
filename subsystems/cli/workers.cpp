#include "workers.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace sonara_cli {

void check_in_order(const std::vector<Input> &inputs, std::vector<std::unique_ptr<Checker>> &checkers,
                    const std::function<void(size_t index, FileReport &&report)> &emit) {
    const size_t count = inputs.size();
    const size_t ahead = 16 * checkers.size();  // reports a worker may finish before they are emitted
    std::vector<std::optional<FileReport>> done(count);
    std::mutex mutex;
    std::condition_variable finished;  // a report is ready
    std::condition_variable emitted;   // the emitting thread moved on
    size_t next = 0;                   // the next input a worker takes
    size_t emitted_count = 0;

    auto work = [&](Checker &checker) {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock lock(mutex);
                emitted.wait(lock, [&] { return next >= count || next < emitted_count + ahead; });
                if (next >= count) return;
                index = next++;
            }
            FileReport report;
            try {
                report = checker.check(inputs[index]);
            } catch (const std::exception &error) {
                // Out of memory while copying the results out: this file is reported as not
                // checked, and the run goes on.
                report = FileReport{};
                report.path = inputs[index].path;
                report.error = std::string("not checked: ") + error.what();
            }
            {
                const std::lock_guard lock(mutex);
                done[index] = std::move(report);
            }
            finished.notify_one();
        }
    };

    std::vector<std::thread> threads;
    threads.reserve(checkers.size());
    for (auto &checker : checkers) threads.emplace_back(work, std::ref(*checker));

    for (size_t index = 0; index < count; ++index) {
        FileReport report;
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&] { return done[index].has_value(); });
            report = std::move(*done[index]);
            done[index].reset();
            emitted_count = index + 1;
        }
        emitted.notify_all();
        emit(index, std::move(report));
    }
    for (std::thread &thread : threads) thread.join();
}

}  // namespace sonara_cli
