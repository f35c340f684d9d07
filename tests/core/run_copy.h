// CopyAll for tests that name the parts of a run's request one by one.
#pragma once

#include <utility>

#include "core/copy_run.h"

namespace ostrivane::test {

// CopyAll of the request made of these parts.
inline RunResult RunCopy(PathList sources, PathList destinations, SameFilePolicy policy,
                         AskYesNo ask = {}, ShowProgress progress = {}, bool emptyFirst = false,
                         RunOptions options = {}) {
    RunRequest request;
    request.sources = std::move(sources);
    request.destinations = std::move(destinations);
    request.policy = policy;
    request.ask = std::move(ask);
    request.progress = std::move(progress);
    request.emptyFirst = emptyFirst;
    request.options = std::move(options);
    return CopyAll(request);
}

}  // namespace ostrivane::test
