// The port listing with its two sources given, so that tests can point it
// at directories of their own.
#pragma once

#include <string>
#include <vector>

namespace serial {

// `ttyClassDir` is the sysfs tty class (/sys/class/tty), `devDir` where the
// device nodes live (/dev), `linkDir` the virtual-port directory.
void EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                      const std::string& linkDir, std::vector<std::string>& Ports);

}  // namespace serial
