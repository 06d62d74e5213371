#include "cli/front.h"

#include "base/output.h"
#include "base/overloaded.h"
#include "cli/parse.h"
#include "cli/time.h"
#include "json/writer.h"

namespace tovrel::cli {

using base::Overloaded;

json::JsonValue dispatch_command(Commands command) {
  return std::visit(
      Overloaded{
          [](exec::ExecCommands& c) { return exec::handle_exec(std::move(c)); },
          [](cas::CasCommands& c) { return cas::handle_cas(std::move(c)); },
          [](identity::SignArgs& a) { return identity::handle_sign(a.key_dir, a.hash); },
          [](identity::VerifyArgs& a) {
            return identity::handle_verify(a.hash, a.signature, a.public_key);
          },
          [](identity::KeypairCommands& c) { return identity::handle_keypair(std::move(c)); },
          [](envelope::EnvelopeCommands& c) {
            return envelope::handle_envelope_open(std::get<envelope::OpenArgs>(c).key_dir);
          },
          [](TimeCommands& t) {
            return std::visit(Overloaded{[](Now&) { return time_now(); },
                                         [](AfterArgs& a) { return time_after(a.ms); }},
                              t);
          },
      },
      command);
}

void print_result(const json::JsonValue& result) {
  std::string line = json::to_compact(result);
  line += '\n';
  if (auto err = base::stdout_writer().write(line)) {
    base::printing_failed(*err);
  }
}

int run(int argc, char** argv) {
  json::JsonValue result;
  {
    Cli cli = parse_command_line(argc, argv);
    result = dispatch_command(std::move(cli.command));
  }
  print_result(result);
  return 0;
}

}  // namespace tovrel::cli
