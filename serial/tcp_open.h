// What the TCP devices of the two systems share when they open.
#pragma once

#include <string>

namespace serial {

// Sets what LastTcpOpenFailure() tells ("" after a success).
void SetLastTcpOpenFailure(const std::string& why);
// The failure text of a name the resolver does not know.
std::string NoSuchHost(const std::string& host, const std::string& reason);

}  // namespace serial
