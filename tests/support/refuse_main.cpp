// refuse RULE... -- PROGRAM [ARG]...: runs PROGRAM with the system calls that the rules name
// refused (see refuse.h), for trying a fallback by hand.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "support/refuse.h"

int main(int argc, char** argv) {
  std::vector<std::string> rules;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) rules.emplace_back(argv[i]);
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: refuse RULE... -- PROGRAM [ARG]...\n");
    return 2;
  }
  try {
    const tovrel::test::SyscallFilter filter(rules);
    if (!filter.install()) {
      std::perror("refuse: seccomp");
      return 126;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "refuse: %s\n", e.what());
    return 2;
  }
  ::execvp(argv[i + 1], argv + i + 1);
  std::perror("refuse: exec");
  return 127;
}
