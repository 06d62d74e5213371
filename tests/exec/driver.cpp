#include "driver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "base/output.h"
#include "exec/exec.h"
#include "json/writer.h"

namespace tovrel::exec::testing {

namespace {

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The options of the exec subcommands, as `--name value` or `--name=value`.
ExecCommands decode(const std::vector<std::string>& args) {
  if (args.size() < 2 || args[0] != "exec") throw std::runtime_error("not an exec command");
  const std::string& sub = args[1];
  RunArgs run;
  SpawnArgs spawn;
  KillArgs kill;
  for (std::size_t i = 2; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    const std::size_t eq = name.find('=');
    if (name == "--stdin-pipe") {
      run.stdin_pipe = spawn.stdin_pipe = true;
      continue;
    }
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else {
      value = args.at(++i);
    }
    if (name == "--cmd") {
      run.cmd = spawn.cmd = value;
    } else if (name == "--arg") {
      run.args.push_back(value);
      spawn.args.push_back(value);
    } else if (name == "--cwd") {
      run.cwd = value;
    } else if (name == "--stdin") {
      run.stdin = spawn.stdin = value;
    } else if (name == "--env") {
      run.envs.push_back(value);
      spawn.envs.push_back(value);
    } else if (name == "--timeout") {
      run.timeout = std::strtod(value.c_str(), nullptr);
    } else if (name == "--log") {
      spawn.log = value;
    } else if (name == "--pid") {
      kill.pid = static_cast<std::uint32_t>(std::stoul(value));
    } else if (name == "--grace") {
      kill.grace = std::strtod(value.c_str(), nullptr);
    } else {
      throw std::runtime_error("unknown option " + name);
    }
  }
  if (sub == "run") return run;
  if (sub == "stream") {
    return StreamArgs{run.cmd, run.args, run.cwd, run.stdin, run.stdin_pipe, run.envs, run.timeout};
  }
  if (sub == "spawn") return spawn;
  if (sub == "kill") return kill;
  if (sub == "status") return StatusArgs{kill.pid};
  throw std::runtime_error("unknown exec subcommand " + sub);
}

[[noreturn]] void run_in_child(ExecCommands command) {
  const json::JsonValue result = handle_exec(std::move(command));
  std::string line = json::to_compact(result);
  line += '\n';
  if (auto err = base::stdout_writer().write(line)) {
    base::internal_failure("failed printing to stdout: " + *err);
  }
  base::exit_process(0);
}

test::RunResult run_forked(const std::vector<std::string>& args, const CliOptions& o) {
  ExecCommands command = decode(args);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe");
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (o.stdin_data) {
      dup2(in[0], 0);
    } else {
      const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
      dup2(null, 0);
      close(null);
    }
    dup2(out[1], 1);
    dup2(err[1], 2);
    // No exec follows, so close-on-exec does not apply: drop every end but the standard ones.
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    signal(SIGPIPE, SIG_IGN);  // as the binary's start-up does
    run_in_child(std::move(command));
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (o.stdout_reader_gone) {
    close(out[0]);
    out[0] = -1;
  }
  std::string data = o.stdin_data.value_or("");
  std::size_t offset = 0;
  int in_fd = in[1];
  fcntl(in_fd, F_SETFL, O_NONBLOCK);
  if (data.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  test::RunResult r;
  const double deadline = now_seconds() + o.timeout_seconds;
  bool killed = false;
  int fds[2] = {out[0], err[0]};
  std::string* sinks[2] = {&r.out, &r.err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[3];
    int map[3];
    nfds_t n = 0;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] >= 0) {
        p[n] = {fds[i], POLLIN, 0};
        map[n++] = i;
      }
    }
    if (in_fd >= 0) {
      p[n] = {in_fd, POLLOUT, 0};
      map[n++] = 2;
    }
    const int ready = poll(p, n, 100);
    if (now_seconds() > deadline && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (ready <= 0) continue;
    for (nfds_t j = 0; j < n; ++j) {
      if (!p[j].revents) continue;
      if (map[j] == 2) {
        const ssize_t w = write(in_fd, data.data() + offset, data.size() - offset);
        if (w > 0) offset += static_cast<std::size_t>(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || offset == data.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
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
  if (in_fd >= 0) close(in_fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    r.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
  return r;
}

}  // namespace

bool binary_has_parser() {
  static const bool has = [] {
    const test::RunResult r = test::tovrel({"exec", "status", "--pid", "1"});
    return r.status == 0 && r.out.find("\"alive\"") != std::string::npos;
  }();
  return has;
}

AsyncRun start_exec_cli(const std::vector<std::string>& args) {
  int out[2];
  if (pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe");
  const bool binary = binary_has_parser();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    close(null);
    close(out[0]);
    close(out[1]);
    if (binary) {
      std::vector<std::string> argv_strings = {TOVREL_BIN};
      argv_strings.insert(argv_strings.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : argv_strings) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(TOVREL_BIN, argv.data());
      _exit(127);
    }
    signal(SIGPIPE, SIG_IGN);
    run_in_child(decode(args));
  }
  close(out[1]);
  return AsyncRun{pid, out[0]};
}

int wait_exec_cli(const AsyncRun& run) {
  close(run.stdout_fd);
  int status = 0;
  while (waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

test::RunResult exec_cli(const std::vector<std::string>& args, const CliOptions& options) {
  if (binary_has_parser()) {
    test::RunOptions o;
    o.stdin_data = options.stdin_data;
    o.stdout_reader_gone = options.stdout_reader_gone;
    o.timeout_seconds = options.timeout_seconds;
    return test::run(args, o);
  }
  return run_forked(args, options);
}

}  // namespace tovrel::exec::testing
