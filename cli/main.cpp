// zuv: the fiscal printer from the command line. `zuv --help` lists the
// subcommands.
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "app.h"

int main(int argc, char** argv) {
  // A closed connection shows up as an error of the write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  zuvcli::Io io{std::cin, std::cout, std::cerr, ::isatty(0) == 1, ::isatty(2) == 1};
  return zuvcli::RunZuv(argc, argv, io);
}
