// Start-up: the stack overflow report, the other faults, a failed allocation.
//
// The stack overflow report needs a finite stack limit (`ulimit -s`, 8 MiB by default), of at
// most 256 MiB: the test recurses until the limit is reached, so under `ulimit -s unlimited` the
// stack grows until memory runs out, and a limit of gigabytes costs as much memory and seconds
// of time. The test is skipped there, with the reason.

#include "cli/startup.h"

#include <signal.h>
#include <sys/resource.h>

#include <new>
#include <string>

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

// Why the stack overflow cannot be tried under this stack limit, or "" when it can.
std::string stack_limit_unsuited() {
  constexpr rlim_t kLargest = rlim_t{256} << 20;
  rlimit limit;
  if (getrlimit(RLIMIT_STACK, &limit) != 0) return "the stack limit cannot be read";
  if (limit.rlim_cur == RLIM_INFINITY) {
    return "the stack has no limit (ulimit -s unlimited), so it would grow until memory runs out";
  }
  if (limit.rlim_cur > kLargest) {
    return "the stack limit (" + std::to_string(limit.rlim_cur >> 20) +
           " MiB) is over 256 MiB: filling it would cost as much memory, and seconds";
  }
  return "";
}
#endif

TEST(StartUpDeathTest, StackOverflowIsReportedThenAborts) {
#ifdef TOVREL_ASAN
  GTEST_SKIP() << "the address sanitizer reports stack overflows itself";
#else
  if (const std::string why = stack_limit_unsuited(); !why.empty()) GTEST_SKIP() << why;
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
