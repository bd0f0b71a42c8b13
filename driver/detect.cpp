#include "detect.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "comportzuv.h"
#include "dropped_ports.h"
#include "protocol.h"
#include "serial/names.h"

namespace zuv {

namespace {

// The last path element: "/dev/ttyS0" and "ttyS0" name the same console.
std::string BaseName(const std::string& port) {
  const size_t slash = port.rfind('/');
  return slash == std::string::npos ? port : port.substr(slash + 1);
}


// Puts the driver back as the confirming probe found it, also when it throws.
class ProbeGuard {
 public:
  explicit ProbeGuard(int64_t budgetMs) : budget_(budgetMs), savedDebug_(DebugMode) {}
  ~ProbeGuard() {
    TComPortZUV::ClosePort();
    ReleaseDroppedPorts();  // a port that failed mid-probe still holds its device
    DebugMode = savedDebug_;
  }
  ProbeGuard(const ProbeGuard&) = delete;
  ProbeGuard& operator=(const ProbeGuard&) = delete;

 private:
  ScopedLinkSettings budget_;
  bool savedDebug_;
};

// One candidate port during a screening pass at one speed.
struct Candidate {
  TPortNote note;
  std::unique_ptr<serial::TComPort> port;  // open during the pass
  bool done = false;                       // answered, failed or unusable
};

// Opens a port for a screening pass: the printer's line settings, no event
// thread. A port that will not open gets its note instead.
void OpenForScreening(Candidate& c, int baud) {
  auto port = std::make_unique<serial::TComPort>();
  port->SetPort(c.note.port);
  port->SetBaudRate(serial::StrToBaudRate(std::to_string(baud)));
  port->SetEvents(0);
  port->FlowControl().SetControlDTR(serial::dtrDisable);
  port->FlowControl().SetControlRTS(serial::rtsDisable);
  try {
    port->Open();
  } catch (const std::exception&) {
    port.reset();  // the explanation opens the device again
    c.note = ExplainOpenFailure(c.note.port);
    if (c.note.finding == TPortFinding::Unusable && c.note.detail.empty())
      c.note.detail = "failed while probing";
    c.done = true;
    return;
  }
  try {
    port->ClearBuffer(true, true);
    const std::vector<uint8_t> frame = EncodeRequestFrame(cmd::ConnectionTest, {}, false, true);
    port->Write(frame.data(), static_cast<int32_t>(frame.size()));
    c.port = std::move(port);
  } catch (const std::exception& e) {
    // Opened, so ours: not held by anyone else.
    c.note = {c.note.port, TPortFinding::Lost, 0, std::string("port fault during the probe: ") + e.what()};
    c.done = true;
  }
}

// Reads what `c` has received; true when its first byte is the ACK.
bool Acknowledged(Candidate& c) {
  try {
    const int32_t waiting = c.port->InputCount();
    if (waiting <= 0) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(waiting));
    const int32_t got = c.port->Read(bytes.data(), waiting);
    return got > 0 && bytes[0] == ctl::ACK;
  } catch (const std::exception&) {
    c.note = {c.note.port, TPortFinding::Lost, 0, "port fault during the probe"};
    c.done = true;
    c.port.reset();
    return false;
  }
}

// Sends the connection test to every open candidate at once and waits up to
// `budgetMs` for the first acknowledgement. Its index, or -1.
int ScreeningPass(std::vector<Candidate>& candidates, int64_t budgetMs) {
  const int64_t end = MonotonicMs() + budgetMs;
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<size_t> owners;
    for (size_t i = 0; i < candidates.size(); ++i) {
      if (!candidates[i].port) continue;
      fds.push_back({candidates[i].port->Handle(), POLLIN, 0});
      owners.push_back(i);
    }
    const int64_t left = end - MonotonicMs();
    if (fds.empty() || left <= 0) return -1;
    if (::poll(fds.data(), fds.size(), static_cast<int>(left)) < 0 && errno != EINTR) return -1;
    for (size_t k = 0; k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      Candidate& c = candidates[owners[k]];
      if (Acknowledged(c)) return static_cast<int>(owners[k]);
      // Whatever came first was not the ACK (or the line went away): this
      // port is not the printer at this speed, and is not watched again.
      c.port.reset();
    }
  }
}

// The driver's own connection test on the port that acknowledged.
bool Confirm(const std::string& port, int baud, const TDetectOptions& options) {
  ProbeGuard guard(options.probeBudgetMs);
  return TComPortZUV::OpenPort(port, baud, true, options.trace) && TFiscal::TestVeze();
}

}  // namespace

TPortNote ExplainOpenFailure(const std::string& port) {
  serial::TComPort probe;
  probe.SetPort(port);
  probe.SetEvents(0);
  try {
    probe.Open();
    probe.Close();
    return {port, TPortFinding::Unusable, 0, ""};
  } catch (const serial::EComPort& e) {
    if (e.WinCode() == EBUSY) return {port, TPortFinding::Busy, 0, "held by another process"};
    const std::string reason = e.WinCode() > 0 ? std::strerror(e.WinCode()) : e.what();
    return {port, TPortFinding::Unusable, 0, reason};
  } catch (const std::exception& e) {
    return {port, TPortFinding::Unusable, 0, e.what()};
  }
}

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
  std::vector<Candidate> candidates;
  const std::vector<std::string> consoles = ConsolePorts(options.consolesFile);
  for (const std::string& port : options.ports.empty() ? TComPortZUV::GetPorts() : options.ports) {
    const bool console = options.ports.empty() &&
                         std::find(consoles.begin(), consoles.end(), BaseName(port)) != consoles.end();
    if (console)
      result.notes.push_back({port, TPortFinding::Console, 0, "system console"});
    else
      candidates.push_back({{port, TPortFinding::Silent, 0, ""}, nullptr, false});
  }
  std::vector<int> rates = TComPortZUV::GetBaudRates();
  std::sort(rates.rbegin(), rates.rend());  // fastest first

  // All ports at once, one speed at a time: a silent port costs one budget
  // a speed however many there are.
  for (int rate : rates) {
    for (Candidate& c : candidates)
      if (!c.done) OpenForScreening(c, rate);
    const int answered = ScreeningPass(candidates, options.probeBudgetMs);
    for (Candidate& c : candidates) c.port.reset();
    if (answered >= 0) {
      Candidate& c = candidates[static_cast<size_t>(answered)];
      if (Confirm(c.note.port, rate, options)) {
        c.note = {c.note.port, TPortFinding::Answered, rate, ""};
        result.found = true;
        result.port = c.note.port;
        result.baud = rate;
        break;
      }
    }
  }
  for (Candidate& c : candidates) result.notes.push_back(c.note);
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
