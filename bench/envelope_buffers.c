/* A floor under `envelope open` of 1 MiB of variables: only the fresh memory that any reading
 * of it touches, without parsing or cryptography. Reads standard input into a buffer of its
 * size, fills a buffer of 3/4 of that (the decoded ciphertext) and another of the same size
 * (the plaintext), and writes the last to standard output. Built by bench/json.sh. */
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int main(void) {
  struct stat st;
  if (fstat(0, &st) != 0) return 2;
  size_t cap = (size_t)st.st_size + 1, got = 0;
  char* in = malloc(cap);
  if (!in) return 2;
  for (ssize_t n; (n = read(0, in + got, cap - got)) > 0;) got += (size_t)n;
  size_t m = got / 4 * 3;
  char *decoded = malloc(m), *plain = malloc(m);
  if (!decoded || !plain) return 2;
  for (size_t i = 0; i < m; ++i) decoded[i] = (char)(in[i] ^ 1);
  for (size_t i = 0; i < m; ++i) plain[i] = (char)(decoded[i] ^ 2);
  for (size_t done = 0; done < m;) {
    ssize_t n = write(1, plain + done, m - done);
    if (n <= 0) return 1;
    done += (size_t)n;
  }
  return 0;
}
