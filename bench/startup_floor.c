/* The start-up floor: a statically linked C program that reads the wall clock once and prints
 * the same JSON line as `tovrel time now`. */
#include <stdio.h>
#include <time.h>

int main(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  unsigned long long ns =
      (unsigned long long)ts.tv_sec * 1000000000ull + (unsigned long long)ts.tv_nsec;
  printf("{\"timestamp_ms\":%llu,\"timestamp_ns\":%llu}\n", ns / 1000000ull, ns);
  return 0;
}
