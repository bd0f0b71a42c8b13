// The port listing's order, and on Linux the listing with its sources
// given, so that tests can point it at directories of their own.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace serial {

// The listing's order: ASCII letters compared without regard to case, so
// COM10 comes before COM2; equal names keep their order.
inline void SortPortNames(std::vector<std::string>& names) {
  const auto lower = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u - 'A' + 'a' : u;
  };
  std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return lower(x) < lower(y); });
  });
}

#ifndef _WIN32
// `ttyClassDir` is the sysfs tty class (/sys/class/tty), `devDir` where the
// device nodes live (/dev), `linkDir` the virtual-port directory.
void EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                      const std::string& linkDir, std::vector<std::string>& Ports);
#endif

}  // namespace serial
