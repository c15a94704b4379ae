#include "support/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace tandrel::support {
namespace {

TEST(ScopeGuard, RunsOnceWhenTheScopeEnds) {
    int runs = 0;
    {
        TScopeGuard guard([&] { ++runs; });
        EXPECT_EQ(runs, 0);
    }
    EXPECT_EQ(runs, 1);
}

TEST(ScopeGuard, RunsWhenAnExceptionLeavesTheScope) {
    int runs = 0;
    EXPECT_THROW(
        {
            TScopeGuard guard([&] { ++runs; });
            throw std::runtime_error("x");
        },
        std::runtime_error);
    EXPECT_EQ(runs, 1);
}

TEST(ScopeGuard, GuardsRunInReverseOrder) {
    std::string order;
    {
        TScopeGuard first([&] { order += "1"; });
        TScopeGuard second([&] { order += "2"; });
    }
    EXPECT_EQ(order, "21");
}

}  // namespace
}  // namespace tandrel::support
