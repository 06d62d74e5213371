/* Times whole commands: runs each of the given commands ROUNDS times, interleaved, with
 * stdout and stderr on /dev/null (stdin from the file named by $STDIN_FILE, if set), and
 * prints the median wall time of each in microseconds.
 * usage: spawn_timer ROUNDS 'cmd1 args' 'cmd2 args' ...   (words split at blanks) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static int cmp(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  int rounds = atoi(argv[1]);
  int n = argc - 2;
  char** words[64];
  double* times[64];
  for (int i = 0; i < n; ++i) {
    words[i] = calloc(64, sizeof(char*));
    char* s = strdup(argv[i + 2]);
    int w = 0;
    for (char* t = strtok(s, " "); t && w < 63; t = strtok(NULL, " ")) words[i][w++] = t;
    times[i] = calloc((size_t)rounds, sizeof(double));
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const char* stdin_file = getenv("STDIN_FILE");
  if (stdin_file) posix_spawn_file_actions_addopen(&fa, 0, stdin_file, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < n; ++i) {
      struct timespec a, b;
      pid_t pid;
      clock_gettime(CLOCK_MONOTONIC, &a);
      if (posix_spawnp(&pid, words[i][0], &fa, NULL, words[i], environ) != 0) return 1;
      int st;
      waitpid(pid, &st, 0);
      clock_gettime(CLOCK_MONOTONIC, &b);
      times[i][r] = (double)(b.tv_sec - a.tv_sec) * 1e6 + (double)(b.tv_nsec - a.tv_nsec) / 1e3;
    }
  }
  for (int i = 0; i < n; ++i) {
    qsort(times[i], (size_t)rounds, sizeof(double), cmp);
    printf("%.1f\n", times[i][rounds / 2]);
  }
  return 0;
}
