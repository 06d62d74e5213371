// tovrel: start-up, then the front end.

#include "base/output.h"
#include "cli/front.h"
#include "cli/startup.h"

int main(int argc, char** argv) {
  tovrel::cli::start_up();
  const int status = tovrel::cli::run(argc, argv);
  tovrel::base::exit_process(status);
}
