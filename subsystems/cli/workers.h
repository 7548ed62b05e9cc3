// Checks a list of inputs on several threads and hands the reports back in list order.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "checker.h"
#include "walk.h"

namespace sonara_cli {

// Each checker serves one worker thread (one session per thread). emit runs on the calling
// thread, once per input, in the inputs' order, whatever order the checks finish in; workers
// stay at most a bounded number of reports ahead of it, so waiting reports take little memory.
void check_in_order(const std::vector<Input> &inputs, std::vector<std::unique_ptr<Checker>> &checkers,
                    const std::function<void(size_t index, FileReport &&report)> &emit);

}  // namespace sonara_cli
