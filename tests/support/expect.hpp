// Turns the driver's checks into GoogleTest results, so that a failing test says in one line what the
// person at the terminal would have seen instead.
#pragma once

#include <gtest/gtest.h>

#include "driver.hpp"

inline testing::AssertionResult shown(const demo::Check& check)
{
    if (check.ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << check.what;
}
