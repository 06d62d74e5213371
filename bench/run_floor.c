/* The floor of `tovrel exec run`: a static C runner that starts a command with posix_spawn,
 * its standard input the null device and its standard output and error two pipes, drains
 * both with poll into memory (buffers grown by realloc), reaps it, and then writes what it
 * captured of standard output to its own. No JSON, no timeout, no decoding: what is left is
 * the cost of starting, capturing and printing.
 * usage: run_floor CMD [ARGS...]   (CMD looked up on PATH) */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct buffer {
  char* data;
  size_t size, capacity;
};

/* One read into `b`; 0 at end of file or on an error, 1 otherwise. */
static int drain(int fd, struct buffer* b) {
  if (b->capacity - b->size < 65536) {
    b->capacity = b->capacity ? b->capacity * 2 : 65536;
    b->data = realloc(b->data, b->capacity);
    if (!b->data) exit(101);
  }
  ssize_t n = read(fd, b->data + b->size, b->capacity - b->size);
  if (n < 0 && errno == EINTR) return 1;
  if (n <= 0) return 0;
  b->size += (size_t)n;
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return 1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  pid_t pid;
  if (posix_spawnp(&pid, argv[1], &fa, NULL, argv + 1, environ) != 0) return 1;
  close(out[1]);
  close(err[1]);
  struct buffer bufs[2] = {{0}, {0}};
  struct pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_pipes = 2;
  while (open_pipes > 0) {
    if (poll(p, 2, -1) < 0 && errno != EINTR) return 1;
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd >= 0 && p[i].revents && !drain(p[i].fd, &bufs[i])) {
        close(p[i].fd);
        p[i].fd = -1;
        --open_pipes;
      }
    }
  }
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  for (size_t done = 0; done < bufs[0].size;) {
    ssize_t n = write(1, bufs[0].data + done, bufs[0].size - done);
    if (n <= 0) return 1;
    done += (size_t)n;
  }
  return 0;
}
