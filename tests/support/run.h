#pragma once
// Runs the built tovrel binary (or any program) as a subprocess and captures what it did.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tovrel::test {

struct RunResult {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;   // the signal that ended it, if any
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
};

struct RunOptions {
  std::optional<std::string> stdin_data;  // none: stdin is /dev/null
  std::optional<std::string> argv0;       // none: the program path
  std::string program = TOVREL_BIN;
  std::optional<std::string> cwd;
  std::map<std::string, std::string> env_set;  // added to (or replacing in) the environment
  std::vector<std::string> env_unset;
  bool close_stdout = false;               // start with descriptor 1 closed
  bool stdout_reader_gone = false;         // stdout is a pipe whose reader has closed
  std::optional<std::string> stderr_path;  // stderr is this file, opened for writing
  bool stderr_reader_gone = false;         // stderr is a pipe whose reader has closed
  double timeout_seconds = 60;             // killed with SIGKILL after this
  std::vector<std::string> refuse;         // system calls refused in the child (refuse.h)
  std::optional<unsigned> uid;             // run as this user and group (needs root)
  // RLIMIT_FSIZE in bytes (ulimit -f), set in the child before its exec.
  std::optional<unsigned long> file_size_limit;
};

// A user other than root to run a permission case as, when the tests run as root (where every
// permission is granted); none when they do not run as root.
std::optional<unsigned> other_user();

// Runs `program` with `args` (argv[1..]) and waits for it.
RunResult run(const std::vector<std::string>& args, const RunOptions& options = {});

// Shorthand: runs tovrel with `args` and `stdin_data`.
RunResult tovrel(const std::vector<std::string>& args, std::optional<std::string> stdin_data = {});

// A fresh empty directory under the system's temporary directory, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

}  // namespace tovrel::test
