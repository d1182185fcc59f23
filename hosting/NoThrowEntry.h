// Entries that the runtime or a target calls let no exception out: the entry owns that duty, the body
// it runs owns the work.
#pragma once

#include "platform/ComBase.h"

#include <utility>

namespace profilermultiplexer {

// The body's result, or onException when the body throws.
template <class Result, class Body> Result NoThrowEntry(Result onException, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onException;
    }
}

// For HRESULT entries: a thrown exception becomes E_FAIL.
template <class Body> HRESULT NoThrowEntry(Body&& body) noexcept {
    return NoThrowEntry<HRESULT>(E_FAIL, std::forward<Body>(body));
}

} // namespace profilermultiplexer
