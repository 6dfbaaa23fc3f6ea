#include "records/number.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "tests/cases.hpp"

namespace pairstat {
namespace {

TEST(number, written) {
    for (const auto& [text, want] : cases("numbers.txt")) {
        double x = 0.0;
        std::from_chars(text.data(), text.data() + text.size(), x);
        EXPECT_EQ(number(x), want) << text;
    }
}

// Every double the program writes reads back, bit for bit, as the same double.
TEST(number, readback) {
    std::mt19937_64 random(20261206);
    for (int i = 0; i < 200000; ++i) {
        double x = std::bit_cast<double>(random());
        if (std::isnan(x)) continue;
        std::string text = number(x);
        double back = 0.0;
        ASSERT_TRUE(parsenumber(text.data(), text.data() + text.size(), back)) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(x)) << text;
    }
}

}  // namespace
}  // namespace pairstat
