#include "support/run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/refuse.h"

extern char** environ;

namespace tovrel::test {

namespace {

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The built binary, copied once into a folder every user can reach, for the cases run as
// another user where the build folder lies out of their reach (a clone under a mode-700
// home, say). The copy goes when the test program ends.
class SharedCopy {
 public:
  SharedCopy() {
    std::string dir = "/tmp/tovrel-bin-XXXXXX";
    if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp");
    dir_ = dir;
    path_ = dir + "/tovrel";
    std::filesystem::copy_file(TOVREL_BIN, path_);
    if (chmod(dir_.c_str(), 0755) != 0 || chmod(path_.c_str(), 0755) != 0) {
      throw std::runtime_error("chmod");
    }
  }
  ~SharedCopy() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

// Whether a user who is neither owner nor group member may exec `path`: every folder on the
// way and the file itself carry the others' execute bit.
bool others_may_exec(const std::string& path) {
  struct stat st;
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (stat(path.substr(0, slash).c_str(), &st) != 0 || !(st.st_mode & S_IXOTH)) return false;
  }
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXOTH);
}

// The build folder's binary where the other user can reach it, else the shared copy.
const std::string& program_path(const RunOptions& o) {
  if (!o.uid || o.program != TOVREL_BIN) return o.program;
  static const bool reachable = others_may_exec(o.program);
  if (reachable) return o.program;
  static const SharedCopy copy;
  return copy.path();
}

}  // namespace

RunResult run(const std::vector<std::string>& args, const RunOptions& o) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe");
  }
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool drop = o.env_set.count(name) > 0;
    for (const auto& u : o.env_unset) drop = drop || u == name;
    if (!drop) env_strings.push_back(entry);
  }
  for (const auto& [k, v] : o.env_set) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings;
  argv_strings.push_back(o.argv0 ? *o.argv0 : o.program);
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  if (o.stdout_reader_gone) {
    // Closed before the child exists, so no process ever holds the read end.
    close(out[0]);
    out[0] = -1;
  }
  if (o.stderr_reader_gone || o.stderr_path) {
    close(err[0]);
    err[0] = -1;
  }
  const SyscallFilter filter(o.refuse);
  const std::string& program = program_path(o);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    if (o.close_stdout) {
      close(1);
    } else {
      dup2(out[1], 1);
    }
    if (o.stderr_path) {
      const int fd = open(o.stderr_path->c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) _exit(126);
      dup2(fd, 2);
    } else {
      dup2(err[1], 2);
    }
    if (o.cwd && chdir(o.cwd->c_str()) != 0) _exit(126);
    signal(SIGPIPE, SIG_DFL);
    if (o.uid && (setgroups(0, nullptr) != 0 || setgid(*o.uid) != 0 || setuid(*o.uid) != 0)) {
      _exit(126);
    }
    if (o.file_size_limit) {
      const rlimit limit{*o.file_size_limit, *o.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (!filter.install()) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed stdin from a thread so a child that writes before reading cannot deadlock us.
  std::string data = o.stdin_data.value_or("");
  std::thread feeder([fd = in[1], data] {
    signal(SIGPIPE, SIG_IGN);
    std::size_t off = 0;
    while (off < data.size()) {
      const ssize_t n = write(fd, data.data() + off, data.size() - off);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      off += static_cast<std::size_t>(n);
    }
    close(fd);
  });
  RunResult r;
  const double deadline = now_seconds() + o.timeout_seconds;
  bool killed = false;
  int fds[2] = {out[0], err[0]};
  std::string* sinks[2] = {&r.out, &r.err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[2];
    int n = 0;
    int map[2];
    for (int i = 0; i < 2; ++i) {
      if (fds[i] >= 0) {
        p[n] = {fds[i], POLLIN, 0};
        map[n++] = i;
      }
    }
    const int ready = poll(p, static_cast<nfds_t>(n), 100);
    if (now_seconds() > deadline && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (ready <= 0) continue;
    for (int j = 0; j < n; ++j) {
      if (!p[j].revents) continue;
      char buf[65536];
      const ssize_t got = read(p[j].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[map[j]]->append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(p[j].fd);
        fds[map[j]] = -1;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  feeder.join();
  if (WIFEXITED(status)) {
    r.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
  return r;
}

std::optional<unsigned> other_user() {
  if (geteuid() != 0) return std::nullopt;
  return 65534;  // nobody
}

RunResult tovrel(const std::vector<std::string>& args, std::optional<std::string> stdin_data) {
  RunOptions o;
  o.stdin_data = std::move(stdin_data);
  return run(args, o);
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/tovrel-test-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything writable first so modes set by a test do not stop the clean-up.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

}  // namespace tovrel::test
