// Turns the driver's checks into GoogleTest results, so that a failing test says in one line what the
// person at the terminal would have seen instead.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "driver.hpp"

// The fault-injection library is built beside the test executables; the stage starts a program with
// it when a test gives a fault plan or a kill log.
inline const bool fault_library_known = [] {
    demo::use_fault_library(demo::executable_dir() + "/libfaults.so");
    return true;
}();

inline testing::AssertionResult shown(const demo::Check& check)
{
    if (check.ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << check.what;
}

// The whole number that makes up the rest of `line` after `prefix`, if that is what the line is.
inline std::optional<int> number_after(std::string_view line, std::string_view prefix)
{
    if (!line.starts_with(prefix) || line.size() == prefix.size())
        return std::nullopt;
    int value = 0;
    const char* end = line.data() + line.size();
    auto [stop, error] = std::from_chars(line.data() + prefix.size(), end, value);
    if (error != std::errc{} || stop != end)
        return std::nullopt;
    return value;
}
