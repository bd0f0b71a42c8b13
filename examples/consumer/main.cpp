// Lists the speeds the driver offers and, given a port name (a tty or
// tcp://HOST:PORT), tests the printer's connection there.
#include <cstdio>

#include "driver/comportzuv.h"

int main(int argc, char** argv) {
  zuv::TComPortZUV::Init("GBR");
  std::printf("speeds:");
  for (int baud : zuv::TComPortZUV::GetBaudRates()) std::printf(" %d", baud);
  std::printf("\n");
  if (argc < 2) return 0;
  if (!zuv::TComPortZUV::OpenPort(argv[1], 115200, true, false) || !zuv::TFiscal::TestVeze()) {
    std::printf("no printer on %s: %s\n", argv[1],
                zuv::TComPortZUV::ErrorMessage(zuv::ErrorCode).c_str());
    return 1;
  }
  std::printf("printer on %s answered\n", argv[1]);
  return 0;
}
