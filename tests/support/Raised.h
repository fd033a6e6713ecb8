#pragma once
// Runs f and returns the exception of type E it raised (empty, with a test failure, when it
// raised none), so tests can check both the type and its fields in two lines.
#include <gtest/gtest.h>

#include <optional>

namespace tarnwick::test {

template <class E, class F>
std::optional<E> Raised(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "no exception raised";
    return std::nullopt;
}

}  // namespace tarnwick::test
