#pragma once
// The exact help and error texts the command-line tests compare against (plain, no colour).

#include <string>

namespace tovrel::cli::expected {

inline const std::string kTry = "\n\nFor more information, try '--help'.\n";

inline const std::string kRootHelp =
    "Tovrel microkernel \u2014 Execute, Memory, Identity, Time\n"
    "\n"
    "Usage: tovrel <COMMAND>\n"
    "\n"
    "Commands:\n"
    "  exec      Execute primitive \u2014 process lifecycle\n"
    "  cas       Memory primitive \u2014 content-addressed storage\n"
    "  sign      Sign a hash with Ed25519\n"
    "  verify    Verify an Ed25519 signature\n"
    "  keypair   Keypair management\n"
    "  envelope  Open a sealed secret envelope (decrypt + validate + filter)\n"
    "  time      Time primitive\n"
    "  help      Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print help\n";

inline const std::string kSignHelp =
    "Sign a hash with Ed25519\n"
    "\n"
    "Usage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>\n"
    "\n"
    "Options:\n"
    "      --key-dir <KEY_DIR>  Directory containing private_key.pem\n"
    "      --hash <HASH>        SHA256 hex digest to sign\n"
    "  -h, --help               Print help\n";

inline const std::string kKeypairHelp =
    "Keypair management\n"
    "\n"
    "Usage: tovrel keypair <COMMAND>\n"
    "\n"
    "Commands:\n"
    "  generate         Generate a new Ed25519 keypair and X25519 encryption keypair\n"
    "  fingerprint      Compute Ed25519 public key fingerprint\n"
    "  box-fingerprint  Compute X25519 public key fingerprint\n"
    "  help             Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print help\n";

inline const std::string kGenerateHelp =
    "Generate a new Ed25519 keypair and X25519 encryption keypair\n"
    "\n"
    "Usage: tovrel keypair generate --key-dir <KEY_DIR>\n"
    "\n"
    "Options:\n"
    "      --key-dir <KEY_DIR>  \n"
    "  -h, --help               Print help\n";

inline const std::string kRunHelp =
    "Run a command, wait for completion, capture output\n"
    "\n"
    "Usage: tovrel exec run [OPTIONS] --cmd <CMD>\n"
    "\n"
    "Options:\n"
    "      --cmd <CMD>          \n"
    "      --arg <ARGS>         \n"
    "      --cwd <CWD>          \n"
    "      --stdin <STDIN>      \n"
    "      --stdin-pipe         \n"
    "      --env <ENVS>         \n"
    "      --timeout <TIMEOUT>  [default: 300]\n"
    "  -h, --help               Print help\n";

inline const std::string kKillHelp =
    "Kill a process by PID\n"
    "\n"
    "Usage: tovrel exec kill [OPTIONS] --pid <PID>\n"
    "\n"
    "Options:\n"
    "      --pid <PID>      \n"
    "      --grace <GRACE>  [default: 3]\n"
    "  -h, --help           Print help\n";

inline const std::string kHelpHelp =
    "Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Usage: tovrel help [COMMAND]...\n"
    "\n"
    "Arguments:\n"
    "  [COMMAND]...  Print help for the subcommand(s)\n";

inline const std::string kCasHelp =
    "Memory primitive \u2014 content-addressed storage\n"
    "\n"
    "Usage: tovrel cas <COMMAND>\n"
    "\n"
    "Commands:\n"
    "  store   Store content from stdin\n"
    "  fetch   Fetch content by hash\n"
    "  verify  Verify integrity of stored content\n"
    "  has     Check if a hash exists\n"
    "  help    Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print help\n";

inline const std::string kStreamHelp =
    "Stream a command's output with raw passthrough (no JSON wrapping)\n"
    "\n"
    "Usage: tovrel exec stream [OPTIONS] --cmd <CMD>\n"
    "\n"
    "Options:\n"
    "      --cmd <CMD>          \n"
    "      --arg <ARGS>         \n"
    "      --cwd <CWD>          \n"
    "      --stdin <STDIN>      \n"
    "      --stdin-pipe         \n"
    "      --env <ENVS>         \n"
    "      --timeout <TIMEOUT>  [default: 300]\n"
    "  -h, --help               Print help\n";

}  // namespace tovrel::cli::expected
