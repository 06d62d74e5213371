/* The floor of a streaming store: reads standard input in 128 KiB chunks, hashes each with
 * SHA-256 and writes it to the file named by argv[1], in one thread; prints the hex digest.
 * usage: hash_write OUT < input */
#define OPENSSL_SUPPRESS_DEPRECATED
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <openssl/sha.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out < 0) return 1;
  static unsigned char buf[128 * 1024];
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  for (;;) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n < 0) return 1;
    if (n == 0) break;
    SHA256_Update(&ctx, buf, (size_t)n);
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(out, buf + off, (size_t)(n - off));
      if (w <= 0) return 1;
      off += w;
    }
  }
  unsigned char md[32];
  SHA256_Final(md, &ctx);
  for (int i = 0; i < 32; ++i) printf("%02x", md[i]);
  printf("\n");
  return close(out) != 0;
}
