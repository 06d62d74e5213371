/* The start-up floor: a statically linked C program that reads the wall clock once and prints
 * the same JSON line as `tovrel time now`. Built with -DOPENSSL_START_UP and libcrypto, it also
 * carries what linking libcrypto alone costs every start: its CPU-feature probe, which runs
 * before main (CPUID traps to the hypervisor on a virtual machine). */
#include <stdio.h>
#include <time.h>
#ifdef OPENSSL_START_UP
#include <openssl/crypto.h>
#endif

int main(int argc, char** argv) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  unsigned long long ns =
      (unsigned long long)ts.tv_sec * 1000000000ull + (unsigned long long)ts.tv_nsec;
#ifdef OPENSSL_START_UP
  if (argc > 1000) OPENSSL_cleanse(argv, 1); /* never runs; only links libcrypto in */
#else
  (void)argc;
  (void)argv;
#endif
  printf("{\"timestamp_ms\":%llu,\"timestamp_ns\":%llu}\n", ns / 1000000ull, ns);
  return 0;
}
