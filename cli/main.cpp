// zuv: the fiscal printer from the command line. `zuv --help` lists the
// subcommands.
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#include "utf8_console.h"
#else
#include <unistd.h>
#endif

#include <csignal>
#include <iostream>

#include "app.h"

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A closed connection shows up as an error of the write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
  zuvcli::UseUtf8Console();
#endif
  zuvcli::Io io{std::cin, std::cout, std::cerr, ::isatty(0) == 1, ::isatty(2) == 1};
  return zuvcli::RunZuv(argc, argv, io);
}
