#include "child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "base/output.h"
#include "json/writer.h"
#include "support/run.h"

namespace tovrel::cas::test {

namespace {

namespace fs = std::filesystem;

int open_or_throw(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("open " + path);
  return fd;
}

struct Prepared {
  std::string out_path, err_path;
  int in_fd = -1, out_fd = -1, err_fd = -1;
};

Prepared prepare(const std::string& dir, std::size_t index, const ChildOptions& o) {
  Prepared p;
  const std::string base = dir + "/" + std::to_string(index);
  p.out_path = base + ".out";
  p.err_path = base + ".err";
  if (o.stdin_fd >= 0) {
    p.in_fd = ::fcntl(o.stdin_fd, F_DUPFD_CLOEXEC, 3);
  } else if (o.stdin_path) {
    p.in_fd = open_or_throw(*o.stdin_path, O_RDONLY);
  } else if (o.stdin_data) {
    tovrel::test::write_file(base + ".in", *o.stdin_data);
    p.in_fd = open_or_throw(base + ".in", O_RDONLY);
  } else {
    p.in_fd = open_or_throw("/dev/null", O_RDONLY);
  }
  if (o.stdout_reader_gone) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    ::close(fds[0]);
    p.out_fd = fds[1];
    tovrel::test::write_file(p.out_path, "");
  } else {
    p.out_fd = open_or_throw(p.out_path, O_WRONLY | O_CREAT | O_TRUNC);
  }
  p.err_fd = open_or_throw(p.err_path, O_WRONLY | O_CREAT | O_TRUNC);
  return p;
}

pid_t start(const CasCommands& command, const Prepared& p, const ChildOptions& o, int barrier = -1,
            int barrier_write = -1) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid > 0) {
    ::close(p.in_fd);
    ::close(p.out_fd);
    ::close(p.err_fd);
    return pid;
  }
  ::dup2(p.in_fd, 0);
  ::dup2(p.out_fd, 1);
  ::dup2(p.err_fd, 2);
  ::signal(SIGPIPE, SIG_IGN);  // as the program's start-up does
  if (o.cwd && ::chdir(o.cwd->c_str()) != 0) ::_exit(126);
  if (o.file_size_limit) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{*o.file_size_limit, *o.file_size_limit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
  }
  if (barrier_write >= 0) ::close(barrier_write);
  if (barrier >= 0) {
    char c;
    while (::read(barrier, &c, 1) < 0) {
    }
  }
  // Nothing of the test's own descriptors stays open in the child (there is no exec to close
  // them), so that a pipe or socket end the test closes is closed.
  ::close_range(3, ~0u, 0);
  const json::JsonValue result = handle_cas(command);
  (void)base::stdout_writer().write(json::to_compact(result) + "\n");
  base::exit_process(0);
}

Outcome finish(pid_t pid, const Prepared& p) {
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  Outcome r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = tovrel::test::read_file(p.out_path);
  r.err = tovrel::test::read_file(p.err_path);
  return r;
}

}  // namespace

Outcome run_cas(const CasCommands& command, const ChildOptions& options) {
  tovrel::test::TempDir io;
  const Prepared p = prepare(io.path(), 0, options);
  return finish(start(command, p, options), p);
}

std::vector<Outcome> run_cas_together(const std::vector<CasCommands>& commands,
                                      const std::vector<std::string>& stdins) {
  tovrel::test::TempDir io;
  int barrier[2];
  if (::pipe2(barrier, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<Prepared> prepared;
  std::vector<pid_t> pids;
  for (std::size_t k = 0; k < commands.size(); ++k) {
    ChildOptions o;
    o.stdin_data = stdins[k];
    prepared.push_back(prepare(io.path(), k, o));
    pids.push_back(start(commands[k], prepared.back(), o, barrier[0], barrier[1]));
  }
  ::close(barrier[0]);
  ::close(barrier[1]);  // releases every child at once (each read sees end of file)
  std::vector<Outcome> out;
  for (std::size_t k = 0; k < pids.size(); ++k) out.push_back(finish(pids[k], prepared[k]));
  return out;
}

std::vector<std::string> files_under(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_directory()) out.push_back(e.path().lexically_relative(root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tovrel::cas::test
