#include "detect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "comportzuv.h"
#include "dropped_ports.h"
#include "protocol.h"

namespace zuv {

namespace {

// The last path element: "/dev/ttyS0" and "ttyS0" name the same console.
std::string BaseName(const std::string& port) {
  const size_t slash = port.rfind('/');
  return slash == std::string::npos ? port : port.substr(slash + 1);
}

// Puts the driver back as a probe found it, also when the probe throws.
class ProbeGuard {
 public:
  explicit ProbeGuard(int64_t budgetMs) : savedBudget_(ReplyBudgetMs), savedDebug_(DebugMode) {
    ReplyBudgetMs = budgetMs;
  }
  ~ProbeGuard() {
    TComPortZUV::ClosePort();
    ReleaseDroppedPorts();  // a port that failed mid-probe still holds its device
    ReplyBudgetMs = savedBudget_;
    DebugMode = savedDebug_;
  }
  ProbeGuard(const ProbeGuard&) = delete;
  ProbeGuard& operator=(const ProbeGuard&) = delete;

 private:
  int64_t savedBudget_;
  bool savedDebug_;
};

}  // namespace

TPortNote ExplainOpenFailure(const std::string& port) {
  serial::TComPort probe;
  probe.SetPort(port);
  try {
    probe.Open();
    probe.Close();
    return {port, TPortFinding::Unusable, 0, "opened only on the second attempt"};
  } catch (const serial::EComPort& e) {
    if (e.WinCode() == EBUSY) return {port, TPortFinding::Busy, 0, "held by another process"};
    const std::string reason = e.WinCode() > 0 ? std::strerror(e.WinCode()) : e.what();
    return {port, TPortFinding::Unusable, 0, reason};
  } catch (const std::exception& e) {
    return {port, TPortFinding::Unusable, 0, e.what()};
  }
}

namespace {

// Tries one port at every speed; the note says what came of it.
TPortNote ProbePort(const std::string& port, const std::vector<int>& rates, bool trace) {
  for (int rate : rates) {
    if (!TComPortZUV::OpenPort(port, rate, true, trace)) return ExplainOpenFailure(port);
    if (TFiscal::TestVeze()) return {port, TPortFinding::Answered, rate, ""};
    if (ErrorCode == linkerr::PortFault) return {port, TPortFinding::Lost, 0, "port fault during the probe"};
  }
  return {port, TPortFinding::Silent, 0, ""};
}

}  // namespace

std::vector<std::string> ConsolePorts(const std::string& consolesFile) {
  std::vector<std::string> names;
  std::ifstream in(consolesFile);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name;
    if (words >> name) names.push_back(name);
  }
  return names;
}

TDetectResult DetectPrinter(const TDetectOptions& options) {
  const int64_t start = MonotonicMs();
  TDetectResult result;
  std::vector<std::string> ports = options.ports;
  if (ports.empty()) {
    const std::vector<std::string> consoles = ConsolePorts(options.consolesFile);
    for (const std::string& port : TComPortZUV::GetPorts()) {
      const bool console =
          std::find(consoles.begin(), consoles.end(), BaseName(port)) != consoles.end();
      if (console)
        result.notes.push_back({port, TPortFinding::Console, 0, "system console"});
      else
        ports.push_back(port);
    }
  }
  std::vector<int> rates = TComPortZUV::GetBaudRates();
  std::sort(rates.rbegin(), rates.rend());  // fastest first

  {
    ProbeGuard guard(options.probeBudgetMs);
    for (const std::string& port : ports) {
      result.notes.push_back(ProbePort(port, rates, options.trace));
      const TPortNote& note = result.notes.back();
      if (note.finding == TPortFinding::Answered) {
        result.found = true;
        result.port = note.port;
        result.baud = note.baud;
        break;
      }
    }
  }
  result.elapsedMs = MonotonicMs() - start;
  return result;
}

const char* PortFindingName(TPortFinding finding) {
  switch (finding) {
    case TPortFinding::Answered: return "answered";
    case TPortFinding::Silent: return "silent";
    case TPortFinding::Console: return "console";
    case TPortFinding::Busy: return "busy";
    case TPortFinding::Unusable: return "unusable";
    case TPortFinding::Lost: return "lost";
  }
  return "";
}

}  // namespace zuv
