// What the harnesses in bench/ share: a figure measured after a failed setup would
// be wrong, so a failure stops the harness with a message instead.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "store/box_lock.h"

namespace velka::bench {

[[noreturn]] inline void Stop(std::string_view why) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(why.size()), why.data());
    std::exit(1);
}

// Stops unless `result` (a Result or a Status) is ok.
template <typename R>
void Require(const R& result) {
    if (!result) Stop(result.error().message);
}

// The box lock for a harness that writes store files, in one expression:
// store::Save(Held(path), path, records).
inline store::BoxLock Held(const std::string& box_path) {
    auto held = store::BoxLock::Take(box_path);
    Require(held);
    return std::move(*held);
}

}  // namespace velka::bench
