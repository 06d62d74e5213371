#include "base/output.h"
#include "cli/front.h"

namespace tovrel::cli {

// Placeholder until the command-line parser lands: only `time now` and `time after --ms N`.
Cli parse_command_line(int argc, char** argv) {
  std::vector<std::string_view> a(argv + 1, argv + argc);
  if (a.size() == 2 && a[0] == "time" && a[1] == "now") return Cli{TimeCommands{Now{}}};
  if (a.size() == 4 && a[0] == "time" && a[1] == "after" && a[2] == "--ms") {
    return Cli{TimeCommands{AfterArgs{std::stoull(std::string(a[3]))}}};
  }
  base::internal_failure("the command-line parser is not available yet");
}

}  // namespace tovrel::cli
