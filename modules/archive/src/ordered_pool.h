// Checks the items on worker threads, one checker (session) each, and hands the reports out in
// item order whatever order the checks finish in. Workers run at most a bounded number of
// reports ahead of the reader, so waiting reports take little memory.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "checker.h"
#include "sources.h"

namespace sonara_archive {

class OrderedPool {
public:
    // Starts one thread per checker; a thread the system refuses lowers the count (warn says
    // so) and the run goes on; with none at all the reader's thread checks each item itself.
    OrderedPool(const std::vector<Item> &items, std::vector<std::unique_ptr<Checker>> &checkers,
                const std::function<void(const std::string &)> &warn);
    // Stops handing out work and waits for the checks in hand.
    ~OrderedPool();
    OrderedPool(const OrderedPool &) = delete;
    OrderedPool &operator=(const OrderedPool &) = delete;

    // The next report in item order; false once every item was handed out or after cancel().
    bool next(FileReport &report);
    // Safe from a signal handler: only stores a flag that next() and the workers poll.
    void cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    unsigned threads() const { return static_cast<unsigned>(threads_.size()); }

private:
    void work(Checker &checker);
    FileReport check(Checker &checker, size_t index);

    const std::vector<Item> &items_;
    std::vector<std::unique_ptr<Checker>> &checkers_;
    std::vector<std::optional<FileReport>> done_;
    std::mutex mutex_;
    std::condition_variable finished_;  // a report is ready
    std::condition_variable taken_;     // the reader moved on
    size_t next_claim_ = 0;             // the next item a worker takes
    size_t next_out_ = 0;               // the next item the reader gets
    size_t ahead_ = 0;
    bool stopping_ = false;
    std::atomic<bool> cancelled_{false};
    std::vector<std::thread> threads_;
};

}  // namespace sonara_archive
