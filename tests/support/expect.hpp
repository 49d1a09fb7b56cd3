// Turns the driver's checks into GoogleTest results, so that a failing test says in one line what the
// person at the terminal would have seen instead.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "driver.hpp"
#include "lines.hpp"

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

// Whether `text` holds `part` somewhere; a failure quotes the text.
inline testing::AssertionResult holds(const std::string& text, std::string_view part)
{
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

using demo::number_after;
