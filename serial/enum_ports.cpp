#include "enum_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "names.h"

namespace serial {

namespace {

// Entry names of a directory; false when it cannot be read at all.
bool ListDir(const std::string& dir, std::vector<std::string>& names) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return true;
}

std::string LinkTargetName(const std::string& link) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  const std::string target(buf, static_cast<size_t>(n));
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

// The legacy 8250 driver registers a fixed number of ports whether or not
// there is a UART behind them; those report the type PORT_UNKNOWN. Serial
// core publishes the type in sysfs, which spares opening the device (and
// raising its modem lines); the ioctl is the fallback.
bool PhantomUart(const std::string& classEntry, const std::string& devPath) {
  if (std::FILE* f = std::fopen((classEntry + "/type").c_str(), "r")) {
    int type = -1;
    const bool read = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    if (read) return type == PORT_UNKNOWN;
  }
  const int fd = ::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  struct serial_struct info = {};
  const bool unknown = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
  ::close(fd);
  return unknown;
}

}  // namespace

void EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                      const std::string& linkDir, std::vector<std::string>& Ports) {
  std::vector<std::string> found;
  std::vector<std::string> ttys, links;
  const bool haveTtys = ListDir(ttyClassDir, ttys);
  const bool haveLinks = ListDir(linkDir, links);
  if (!haveTtys && !haveLinks) return;

  for (const std::string& name : ttys) {
    // Virtual terminals and pseudo-terminals have no device driver behind them.
    const std::string driver = LinkTargetName(ttyClassDir + "/" + name + "/device/driver");
    if (driver.empty()) continue;
    // Newer kernels bind 8250 ports to the serial-base "port" driver.
    if ((driver == "serial8250" || driver == "port") &&
        PhantomUart(ttyClassDir + "/" + name, devDir + "/" + name))
      continue;
    found.push_back(name);
  }
  for (const std::string& name : links) {
    struct stat st;
    if (::stat((linkDir + "/" + name).c_str(), &st) != 0) continue;  // dangling
    if (std::find(found.begin(), found.end(), name) == found.end()) found.push_back(name);
  }
  SortPortNames(found);
  Ports = std::move(found);
}

void EnumComPorts(std::vector<std::string>& Ports) {
  EnumComPortsFrom("/sys/class/tty", "/dev", PortDirectory(), Ports);
}

}  // namespace serial
