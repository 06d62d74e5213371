#pragma once
// Which sanitizer this test program is built with, for the few tests that cannot run under
// one: TOVREL_ASAN (AddressSanitizer), TOVREL_TSAN (ThreadSanitizer), and TOVREL_SANITIZED
// for either (both reserve terabytes of address space for their shadow memory, so no run
// under them fits below a lowered address-space limit).

#if defined(__SANITIZE_ADDRESS__)
#define TOVREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVREL_ASAN 1
#endif
#endif

#if defined(__SANITIZE_THREAD__)
#define TOVREL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOVREL_TSAN 1
#endif
#endif

#if defined(TOVREL_ASAN) || defined(TOVREL_TSAN)
#define TOVREL_SANITIZED 1
#endif
