// Start-up: the stack overflow report.

#include "cli/startup.h"

#include <signal.h>

#include <new>

#include <gtest/gtest.h>

#include "support/sanitizers.h"

namespace tovrel::cli {
namespace {

#ifndef TOVREL_ASAN
// Recurses until the stack runs out (the bound is never reached). The volatile buffer, indexed
// by the depth so that no compiler can shrink it, keeps each frame over 1 KiB: the machine stack
// then runs out after a few thousand calls, long before ThreadSanitizer's own shadow call stack
// (64Ki frames per thread), whose fault is not a stack overflow of ours.
volatile long g_limit = 1L << 40;
int recurse(long depth) {
  volatile char frame[1024];
  frame[depth % sizeof frame] = static_cast<char>(depth);
  if (depth >= g_limit) return 0;
  return recurse(depth + 1) + frame[depth % sizeof frame];
}
#endif

TEST(StartUpDeathTest, StackOverflowIsReportedThenAborts) {
#ifdef TOVREL_ASAN
  GTEST_SKIP() << "the address sanitizer reports stack overflows itself";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        install_stack_overflow_handler();
        recurse(0);
      },
      "^tovrel: stack overflow\n$");
#endif
}

// A fault outside the stack's reach is not taken for an overflow: it keeps its default action.
TEST(StartUpDeathTest, OtherFaultsKeepTheirDefaultAction) {
#if defined(TOVREL_ASAN) || defined(TOVREL_TSAN)
  GTEST_SKIP() << "the sanitizers report faults themselves";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        install_stack_overflow_handler();
        int* volatile nowhere = nullptr;  // a null pointer no compiler can see through
        *nowhere = 1;
      },
      ::testing::KilledBySignal(SIGSEGV), "^$");
#endif
}

TEST(StartUpDeathTest, AllocationFailureIsAnInternalFailure) {
#if defined(TOVREL_ASAN) || defined(TOVREL_TSAN)
  GTEST_SKIP() << "the sanitizers' allocators report a failed allocation themselves";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        install_out_of_memory_handler();
        // 64 TiB: more than the machine can back, so the allocation fails.
        volatile std::size_t huge = std::size_t{1} << 46;
        void* p = ::operator new(huge);
        ::operator delete(p);
      },
      ::testing::ExitedWithCode(101), "^tovrel: internal error: memory allocation failed\n$");
#endif
}

}  // namespace
}  // namespace tovrel::cli
