#include "ordered_pool.h"

#include <chrono>
#include <exception>
#include <string>
#include <system_error>

namespace sonara_archive {
namespace {

// How often a reader waiting for a long check looks at the cancel flag.
constexpr auto CANCEL_POLL = std::chrono::milliseconds(50);

}  // namespace

OrderedPool::OrderedPool(const std::vector<Item> &items, std::vector<std::unique_ptr<Checker>> &checkers,
                         const std::function<void(const std::string &)> &warn)
    : items_(items), checkers_(checkers), done_(items.size()) {
    ahead_ = 16 * (checkers.empty() ? 1 : checkers.size());
    threads_.reserve(checkers.size());
    for (auto &checker : checkers) {
        try {
            threads_.emplace_back(&OrderedPool::work, this, std::ref(*checker));
        } catch (const std::system_error &error) {
            warn("could not start worker thread " + std::to_string(threads_.size() + 1) + " (" + error.what() +
                 "): going on with " + std::to_string(threads_.size() == 0 ? 1 : threads_.size()));
            break;
        }
    }
}

OrderedPool::~OrderedPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    taken_.notify_all();
    for (std::thread &thread : threads_) thread.join();
}

FileReport OrderedPool::check(Checker &checker, size_t index) {
    try {
        return checker.check(items_[index]);
    } catch (const std::exception &error) {
        // Out of memory while copying the results out: this file is reported as not checked,
        // and the run goes on.
        FileReport report;
        report.path = items_[index].path;
        report.error = std::string("not checked: ") + error.what();
        return report;
    }
}

void OrderedPool::work(Checker &checker) {
    for (;;) {
        size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            taken_.wait(lock, [&] {
                return stopping_ || next_claim_ >= items_.size() || next_claim_ < next_out_ + ahead_;
            });
            if (stopping_ || next_claim_ >= items_.size() || cancelled_.load(std::memory_order_relaxed)) return;
            index = next_claim_++;
        }
        FileReport report = check(checker, index);
        {
            const std::lock_guard lock(mutex_);
            done_[index] = std::move(report);
        }
        finished_.notify_all();
    }
}

bool OrderedPool::next(FileReport &report) {
    if (cancelled_.load(std::memory_order_relaxed) || next_out_ >= items_.size()) return false;
    if (threads_.empty()) {
        // No worker could be started: the reader checks each item itself.
        report = check(*checkers_.front(), next_out_++);
        return true;
    }
    std::unique_lock lock(mutex_);
    while (!done_[next_out_].has_value()) {
        if (cancelled_.load(std::memory_order_relaxed)) return false;
        finished_.wait_for(lock, CANCEL_POLL);
    }
    report = std::move(*done_[next_out_]);
    done_[next_out_].reset();
    ++next_out_;
    lock.unlock();
    taken_.notify_all();
    return true;
}

}  // namespace sonara_archive
