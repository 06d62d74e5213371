#include "envelope/env_map.h"

#include <array>

#include "envelope/messages.h"

namespace tovrel::envelope {
namespace {

// Names a child must never receive from an envelope: they steer the loader, the interpreter,
// the shell or the runtime itself.
constexpr std::array<std::string_view, 23> DENIED_ENV_NAMES = {
    "TMP",
    "PATH",
    "HOME",
    "USER",
    "LANG",
    "TERM",
    "TEMP",
    "SHELL",
    "TMPDIR",
    "PYTHONPATH",
    "PYTHONHOME",
    "USER_SPACE",
    "LD_PRELOAD",
    "PYTHON_PATH",
    "VIRTUAL_ENV",
    "CONDA_PREFIX",
    "KOV_REMOTE_NAME",
    "KOV_NODE_CONFIG",
    "LD_LIBRARY_PATH",
    "KOV_KERNEL_PYTHON",
    "DYLD_LIBRARY_PATH",
    "KOV_SIGNING_KEY_DIR",
    "DYLD_INSERT_LIBRARIES",
};

// Families of names that belong to the loader, CI systems and cloud credentials.
constexpr std::array<std::string_view, 11> DENIED_ENV_PREFIXES = {
    "LD_",     "CI_",     "SSL_",    "AWS_",      "MODAL_",        "AZURE_",
    "GOOGLE_", "GITHUB_", "DOCKER_", "SUPABASE_", "KOV_INTERNAL_",
};

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::vector<std::string> validate_env_map(const json::Object& map) {
  std::vector<std::string> problems;
  if (map.size() > MAX_ENV_VARS) problems.push_back(msg::too_many_variables(map.size()));
  std::size_t total = 0;
  for (const auto& [name, value] : map) {
    if (!value.is_string()) {
      problems.push_back(msg::value_not_string(name));
      continue;
    }
    const std::string& text = value.as_string();
    if (text.find('\0') != std::string::npos) problems.push_back(msg::value_has_nul(name));
    if (text.size() > MAX_ENV_VALUE_BYTES) {
      problems.push_back(msg::value_too_large(name, text.size()));
    }
    total += name.size() + text.size();
  }
  if (total > MAX_ENV_TOTAL_BYTES) problems.push_back(msg::total_too_large(total));
  return problems;
}

bool is_safe_env_name(std::string_view name) {
  if (name.empty()) return false;
  if (!is_ascii_letter(name[0]) && name[0] != '_') return false;
  for (char c : name) {
    if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '_') return false;
  }
  for (std::string_view denied : DENIED_ENV_NAMES) {
    if (name == denied) return false;
  }
  for (std::string_view prefix : DENIED_ENV_PREFIXES) {
    if (name.starts_with(prefix)) return false;
  }
  return true;
}

}  // namespace tovrel::envelope
