#include "exec/process.h"

#include <string.h>

extern char** environ;

namespace tovrel::exec {

ProcessCommand command_new(std::string program) {
  ProcessCommand command;
  command.arguments.push_back(program);
  command.program = std::move(program);
  return command;
}

void command_add_args(ProcessCommand& command, const std::vector<std::string>& args) {
  command.arguments.insert(command.arguments.end(), args.begin(), args.end());
}

void command_env_set(ProcessCommand& command, std::string name, std::string value) {
  command.env_overrides.insert_or_assign(std::move(name), std::move(value));
}

void apply_env_entries(ProcessCommand& command, const std::vector<std::string>& envs) {
  for (const std::string& entry : envs) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    command_env_set(command, entry.substr(0, eq), entry.substr(eq + 1));
  }
}

void command_set_cwd(ProcessCommand& command, std::string dir) {
  command.working_directory = std::move(dir);
}

std::vector<std::string> child_environment(const ProcessCommand& command) {
  std::vector<std::string> out;
  if (command.env_overrides.empty()) {
    for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
    return out;
  }
  std::map<std::string, std::string> merged;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = strchr(*e, '=');
    if (!eq) continue;  // not a variable; nothing to hand on
    merged.emplace(std::string(const_cast<const char*>(*e), eq), std::string(eq + 1));
  }
  for (const auto& [name, value] : command.env_overrides) merged.insert_or_assign(name, value);
  out.reserve(merged.size());
  for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
  return out;
}

}  // namespace tovrel::exec
