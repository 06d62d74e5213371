// The arithmetic on clock readings.

#include "base/clock.h"

#include <limits>

#include <gtest/gtest.h>

namespace tovrel::base {
namespace {

TEST(Clock, ElapsedBorrowsAndNeverGoesBelowZero) {
  const struct {
    timespec from, to;
    Duration expected;
    double ms;
  } cases[] = {
      {{5, 0}, {5, 0}, {0, 0}, 0.0},
      {{5, 900'000'000}, {7, 100'000'000}, {1, 200'000'000}, 1200.0},
      {{5, 100}, {5, 350}, {0, 250}, 0.00025},
      {{7, 0}, {5, 0}, {0, 0}, 0.0},  // backwards: zero
      {{5, 2}, {5, 1}, {0, 0}, 0.0},
      {{0, 0}, {1'700'000'000, 5}, {1'700'000'000, 5}, 1.700000000000000005e12},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(elapsed(c.from, c.to), c.expected) << c.from.tv_sec << "." << c.from.tv_nsec;
    EXPECT_DOUBLE_EQ(elapsed_ms(c.from, c.to), c.ms) << c.from.tv_sec << "." << c.from.tv_nsec;
  }
}

TEST(Clock, LaterCarriesAndRefusesWhatNoTimespecHolds) {
  const auto t = later(timespec{10, 600'000'000}, Duration{2, 700'000'000});
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->tv_sec, 13);
  EXPECT_EQ(t->tv_nsec, 300'000'000);
  const auto ms = later(timespec{1, 900'000'000}, std::chrono::milliseconds(1'200));
  ASSERT_TRUE(ms.has_value());
  EXPECT_EQ(ms->tv_sec, 3);
  EXPECT_EQ(ms->tv_nsec, 100'000'000);
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<time_t>::max());
  EXPECT_FALSE(later(timespec{10, 0}, Duration{kMax - 10, 0}).has_value());
  EXPECT_TRUE(later(timespec{10, 0}, Duration{kMax - 11, 0}).has_value());
}

TEST(Clock, UntilIsZeroOncePassed) {
  const timespec pause = until(timespec{3, 800'000'000}, timespec{5, 100'000'000});
  EXPECT_EQ(pause.tv_sec, 1);
  EXPECT_EQ(pause.tv_nsec, 300'000'000);
  const timespec passed = until(timespec{6, 0}, timespec{5, 100'000'000});
  EXPECT_EQ(passed.tv_sec, 0);
  EXPECT_EQ(passed.tv_nsec, 0);
}

}  // namespace
}  // namespace tovrel::base
