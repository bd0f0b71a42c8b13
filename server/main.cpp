#include <iostream>

#include "server/server_app.h"

int main(int argc, char** argv) {
  zuvsrv::BlockStopSignals();
  return zuvsrv::RunServer(argc, argv, std::cout, std::cerr);
}
