#include <iostream>

#include "server/server_app.h"
#include "server/stop_request.h"

int main(int argc, char** argv) {
  zuvsrv::PrepareStopRequests();
  return zuvsrv::RunServer(argc, argv, std::cout, std::cerr);
}
