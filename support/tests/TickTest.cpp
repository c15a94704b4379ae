#include "support/Tick.h"

#include <gtest/gtest.h>

namespace tandrel::support {
namespace {

struct DeltaCase {
    const char* Name;
    std::uint32_t Old, New, Expected;
};

class TickDeltaTable : public ::testing::TestWithParam<DeltaCase> {};

TEST_P(TickDeltaTable, GivesElapsedMilliseconds) {
    EXPECT_EQ(TickDelta(GetParam().Old, GetParam().New), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Tick, TickDeltaTable,
                         ::testing::Values(DeltaCase{"equal", 500, 500, 0},
                                           DeltaCase{"forward", 100, 350, 250},
                                           DeltaCase{"across_wrap", 0xFFFFFFF0u, 0x10u, 0x20u},
                                           DeltaCase{"wrap_to_zero", 0xFFFFFFFFu, 0, 1}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Tick, NeverRunsBackwards) {
    const std::uint32_t a = GetTick();
    const std::uint32_t b = GetTick();
    EXPECT_LT(TickDelta(a, b), 60'000u);  // monotonic: a later reading is never "before"
}

}  // namespace
}  // namespace tandrel::support
