#include "support/refuse.h"

#include <linux/audit.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace tovrel::test {

namespace {

struct Named {
  std::string_view name;
  long value;
};

constexpr Named kCalls[] = {
    {"read", SYS_read},
    {"write", SYS_write},
    {"open", SYS_open},
    {"openat", SYS_openat},
    {"close", SYS_close},
    {"close_range", SYS_close_range},
    {"pipe2", SYS_pipe2},
    {"dup3", SYS_dup3},
    {"link", SYS_link},
    {"linkat", SYS_linkat},
    {"rename", SYS_rename},
    {"renameat", SYS_renameat},
    {"renameat2", SYS_renameat2},
    {"unlinkat", SYS_unlinkat},
    {"mkdirat", SYS_mkdirat},
    {"fchmod", SYS_fchmod},
    {"fchmodat", SYS_fchmodat},
    {"newfstatat", SYS_newfstatat},
    {"statx", SYS_statx},
    {"sendfile", SYS_sendfile},
    {"copy_file_range", SYS_copy_file_range},
    {"splice", SYS_splice},
    {"fcntl", SYS_fcntl},
    {"clone", SYS_clone},
    {"clone3", SYS_clone3},
    {"fork", SYS_fork},
    {"vfork", SYS_vfork},
    {"execve", SYS_execve},
    {"kill", SYS_kill},
    {"pidfd_open", SYS_pidfd_open},
    {"pidfd_send_signal", SYS_pidfd_send_signal},
    {"waitid", SYS_waitid},
    {"wait4", SYS_wait4},
    {"eventfd2", SYS_eventfd2},
    {"poll", SYS_poll},
    {"ppoll", SYS_ppoll},
    {"getrandom", SYS_getrandom},
    {"mmap", SYS_mmap},
    {"prlimit64", SYS_prlimit64},
    {"setsid", SYS_setsid},
    {"nanosleep", SYS_nanosleep},
    {"clock_nanosleep", SYS_clock_nanosleep},
    {"rt_sigaction", SYS_rt_sigaction},
    {"sigaltstack", SYS_sigaltstack},
};

constexpr Named kErrnos[] = {
    {"EPERM", EPERM},           {"ENOENT", ENOENT}, {"EINTR", EINTR},   {"EIO", EIO},
    {"EAGAIN", EAGAIN},         {"ENOMEM", ENOMEM}, {"EACCES", EACCES}, {"EXDEV", EXDEV},
    {"EINVAL", EINVAL},         {"EMFILE", EMFILE}, {"ENOSPC", ENOSPC}, {"ENOSYS", ENOSYS},
    {"EOPNOTSUPP", EOPNOTSUPP}, {"EISDIR", EISDIR}, {"EBADF", EBADF},   {"EFBIG", EFBIG},
};

long lookup(std::string_view text, const Named* table, std::size_t size, const std::string& rule) {
  for (std::size_t i = 0; i < size; ++i) {
    if (table[i].name == text) return table[i].value;
  }
  try {
    std::size_t used = 0;
    const long value = std::stol(std::string(text), &used, 0);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  throw std::invalid_argument("refusal rule: cannot read '" + std::string(text) + "' in " + rule);
}

std::uint32_t number(std::string_view text, const std::string& rule) {
  try {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(std::string(text), &used, 0);
    if (used == text.size() && value <= 0xffffffffULL) return static_cast<std::uint32_t>(value);
  } catch (const std::exception&) {
  }
  throw std::invalid_argument("refusal rule: not a 32-bit number '" + std::string(text) + "' in " +
                              rule);
}

sock_filter statement(std::uint16_t code, std::uint32_t k) { return {code, 0, 0, k}; }
sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t jt, std::uint8_t jf) {
  return {code, jt, jf, k};
}

constexpr std::uint32_t kNrOffset = offsetof(seccomp_data, nr);

}  // namespace

SyscallFilter::SyscallFilter(const std::vector<std::string>& rules) {
  rules_empty_ = rules.empty();
  // Other architectures' calls (none here) pass untouched.
  program_.push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
  program_.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
  program_.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  program_.push_back(statement(BPF_LD | BPF_W | BPF_ABS, kNrOffset));
  for (const std::string& rule : rules) {
    const std::size_t colon = rule.rfind(':');
    if (colon == std::string::npos)
      throw std::invalid_argument("refusal rule: no ':ERRNO' in " + rule);
    const long err =
        lookup(std::string_view(rule).substr(colon + 1), kErrnos, std::size(kErrnos), rule);
    const std::string head = rule.substr(0, colon);
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
      const std::size_t slash = head.find('/', start);
      parts.push_back(head.substr(start, slash - start));
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    if (parts.size() != 1 && parts.size() != 4) {
      throw std::invalid_argument("refusal rule: want NAME or NAME/ARG/MASK/VALUE in " + rule);
    }
    const auto nr = static_cast<std::uint32_t>(lookup(parts[0], kCalls, std::size(kCalls), rule));
    const std::uint32_t refuse =
        SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(err) & SECCOMP_RET_DATA);
    if (parts.size() == 1) {
      program_.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1));
      program_.push_back(statement(BPF_RET | BPF_K, refuse));
      continue;
    }
    const std::uint32_t arg = number(parts[1], rule);
    if (arg > 5) throw std::invalid_argument("refusal rule: argument index over 5 in " + rule);
    const std::uint32_t mask = number(parts[2], rule);
    const std::uint32_t value = number(parts[3], rule);
    // Not this call: skip the five that test its argument (A still holds the number).
    program_.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 5));
    program_.push_back(
        statement(BPF_LD | BPF_W | BPF_ABS,
                  static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * arg)));
    program_.push_back(statement(BPF_ALU | BPF_AND | BPF_K, mask));
    program_.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 1));
    program_.push_back(statement(BPF_RET | BPF_K, refuse));
    program_.push_back(statement(BPF_LD | BPF_W | BPF_ABS, kNrOffset));
  }
  program_.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
}

bool SyscallFilter::install() const {
  if (rules_empty_) return true;
  sock_fprog prog{static_cast<unsigned short>(program_.size()),
                  const_cast<sock_filter*>(program_.data())};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

}  // namespace tovrel::test
