#pragma once
// Makes chosen system calls fail on demand in a process that is about to exec the binary under
// test, so that fallbacks behind a refused call run in the tests. The binary is static, so
// preloading cannot reach its calls; a seccomp filter, installed in the child between fork and
// exec and inherited across the exec, can.
//
// A rule is NAME:ERRNO, or NAME/ARG/MASK/VALUE:ERRNO to refuse only the calls whose argument
// ARG (0-5, its low 32 bits) masked with MASK equals VALUE. NAME is a system call's name
// (openat, linkat, clone, pidfd_open, ...), ERRNO a name (EPERM, ENOSYS, ...) or a number;
// numbers may be written in hex. Examples:
//   pidfd_open:ENOSYS                       no pidfds
//   openat/2/0x410000/0x410000:EOPNOTSUPP   no O_TMPFILE
//   clone/0/0x100/0:EAGAIN                  no fork (clone without CLONE_VM); threads and
//                                           vfork still work

#include <linux/filter.h>

#include <string>
#include <vector>

namespace tovrel::test {

class SyscallFilter {
 public:
  // Throws std::invalid_argument naming the rule it cannot read.
  explicit SyscallFilter(const std::vector<std::string>& rules);

  bool empty() const { return rules_empty_; }

  // Installs the filter on the calling thread (with no_new_privs, so no privilege is needed).
  // Allocates nothing: safe between fork and exec. Returns false with errno set on failure.
  bool install() const;

 private:
  std::vector<sock_filter> program_;
  bool rules_empty_ = true;
};

}  // namespace tovrel::test
