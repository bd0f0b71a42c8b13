#include "detect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "comportzuv.h"
#include "dropped_ports.h"
#include "port_fault.h"
#include "protocol.h"
#include "serial/error_text.h"
#include "serial/input_wait.h"
#include "serial/names.h"
#include "serial/tcp_device.h"

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

// One candidate port during a screening pass at one speed. Candidates stay
// where they are once listed: their port's handler notes faults in `fault`.
struct Candidate {
  TPortNote note;
  PortFault fault;                         // of `port`, which it outlives
  std::unique_ptr<serial::TComPort> port;  // open during the pass
  bool done = false;                       // answered, failed or unusable
  bool tcp = false;                        // tried once, confirmed on its connection
  bool acknowledged = false;               // in this pass
};

// Ends `c`'s screening when its port reported a fault; true when it did.
bool LostInProbe(Candidate& c) {
  if (!c.fault.raised) return false;
  c.note = {c.note.port, TPortFinding::Lost, 0, "port fault during the probe: " + c.fault.Text()};
  c.done = true;
  c.port.reset();
  return true;
}

// Sends the connection test on the candidate's open port; false when the
// port failed doing it (opened, so ours: not held by anyone else).
bool SendProbe(Candidate& c) {
  const std::vector<uint8_t> frame = EncodeRequestFrame(cmd::ConnectionTest, {}, false, true);
  c.port->Write(frame.data(), static_cast<int32_t>(frame.size()));
  return !LostInProbe(c);
}

// Opens a port for a screening pass: the printer's line settings, no event
// thread. A port that will not open gets its note instead.
void OpenForScreening(Candidate& c, int baud) {
  auto port = std::make_unique<serial::TComPort>();
  port->SetPort(c.note.port);
  port->SetBaudRate(serial::StrToBaudRate(std::to_string(baud)));
  port->SetEvents(0);
  port->FlowControl().SetControlDTR(serial::dtrDisable);
  port->FlowControl().SetControlRTS(serial::rtsDisable);
  c.fault = {};
  port->OnException = NoteFaultsIn(c.fault);
  port->Open();
  if (c.fault.raised) {
    port.reset();
    c.done = true;
    if (c.tcp) {  // asking again would cost another connect time-out
      c.note = {c.note.port, TPortFinding::Unusable, 0, serial::LastTcpOpenFailure()};
      return;
    }
    c.note = ExplainOpenFailure(c.note.port);  // opens the device again
    if (c.note.finding == TPortFinding::Unusable && c.note.detail.empty())
      c.note.detail = "failed while probing";
    return;
  }
  c.port = std::move(port);
  c.port->ClearBuffer(true, true);
  if (!LostInProbe(c)) SendProbe(c);
}

// Reads what `c` has received; true when its first byte is the ACK.
bool Acknowledged(Candidate& c) {
  const int32_t waiting = c.port->InputCount();
  if (LostInProbe(c) || waiting <= 0) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(waiting));
  const int32_t got = c.port->Read(bytes.data(), waiting);
  return !LostInProbe(c) && got > 0 && bytes[0] == ctl::ACK;
}

// Sends the connection test to every open candidate at once and waits up to
// `budgetMs` until each has acknowledged, answered something else or failed.
// Marks the ones that acknowledged; true when any did.
bool ScreeningPass(const std::vector<Candidate*>& candidates, int64_t budgetMs) {
  const int64_t end = MonotonicMs() + budgetMs;
  bool any = false;
  for (Candidate* c : candidates) c->acknowledged = false;
  for (;;) {
    std::vector<serial::TCustomComPort*> ports;
    std::vector<Candidate*> owners;
    for (Candidate* c : candidates) {
      if (!c->port || c->acknowledged) continue;
      ports.push_back(c->port.get());
      owners.push_back(c);
    }
    const int64_t left = end - MonotonicMs();
    if (ports.empty() || left <= 0) return any;
    std::vector<bool> woken;
    if (!serial::WaitForAnyInput(ports, static_cast<int>(left), woken)) return any;
    for (size_t k = 0; k < ports.size(); ++k) {
      if (!woken[k]) continue;
      Candidate& c = *owners[k];
      c.acknowledged = Acknowledged(c);
      any = any || c.acknowledged;
      // Whatever came first was not the ACK (or the line went away): this
      // port is not the printer at this speed, and is not watched again.
      if (!c.acknowledged) c.port.reset();
    }
  }
}

// A second connection test on the connection that acknowledged the first:
// a device server may refuse a second client while this one is open.
bool ConfirmOnProbe(Candidate& c, int64_t budgetMs) {
  return SendProbe(c) && ScreeningPass({&c}, budgetMs);
}

// The driver's own connection test on the port that acknowledged.
bool Confirm(const std::string& port, int baud, const TDetectOptions& options) {
  ProbeGuard guard(options.probeBudgetMs);
  return TComPortZUV::OpenPort(port, baud, true, options.trace) && TFiscal::TestVeze();
}

}  // namespace

TPortNote ExplainOpenFailure(const std::string& port) {
  serial::TComPort probe;
  PortFault fault;
  probe.OnException = NoteFaultsIn(fault);
  probe.SetPort(port);
  probe.SetEvents(0);
  probe.Open();
  probe.Close();
  probe.OnException = nullptr;
  if (!fault.raised) return {port, TPortFinding::Unusable, 0, ""};
  if (serial::IsPortHeldCode(fault.winError))
    return {port, TPortFinding::Busy, 0, "held by another process"};
  const std::string reason = fault.winError > 0 ? serial::ErrorCodeText(fault.winError) : fault.message;
  return {port, TPortFinding::Unusable, 0, reason};
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

namespace {

std::vector<Candidate> Candidates(const TDetectOptions& options, TDetectResult& result) {
  std::vector<Candidate> candidates;
  const std::vector<std::string> consoles = ConsolePorts(options.consolesFile);
  for (const std::string& port : options.ports.empty() ? TComPortZUV::GetPorts() : options.ports) {
    const bool console = options.ports.empty() &&
                         std::find(consoles.begin(), consoles.end(), BaseName(port)) != consoles.end();
    if (console)
      result.notes.push_back({port, TPortFinding::Console, 0, "system console"});
    else
      candidates.push_back({{port, TPortFinding::Silent, 0, ""}, {}, nullptr, false,
                            serial::IsTcpPortName(port), false});
  }
  return candidates;
}

// Settles the candidates that acknowledged in this pass at `rate`.
void TakeAnswers(std::vector<Candidate>& candidates, int rate, const TDetectOptions& options,
                 TDetectResult& result) {
  for (Candidate& c : candidates) {
    const bool confirmed =
        c.acknowledged && (c.tcp ? ConfirmOnProbe(c, options.probeBudgetMs) : true);
    c.port.reset();
    if (!confirmed || (!c.tcp && !Confirm(c.note.port, rate, options))) continue;
    const int baud = c.tcp ? 0 : rate;
    c.note = {c.note.port, TPortFinding::Answered, baud, c.tcp ? SpeedSetByDeviceServer : ""};
    c.done = true;
    if (result.found) continue;
    result.found = true;
    result.port = c.note.port;
    result.baud = baud;
  }
}

}  // namespace

TDetectResult DetectPrinter(const TDetectOptions& options) {
  const int64_t start = MonotonicMs();
  TDetectResult result;
  std::vector<Candidate> candidates = Candidates(options, result);
  std::vector<int> rates = TComPortZUV::GetBaudRates();
  std::sort(rates.rbegin(), rates.rend());  // fastest first

  // All ports at once, one speed at a time: a silent port costs one budget
  // a speed however many there are.
  for (int rate : rates) {
    for (Candidate& c : candidates)
      if (!c.done) OpenForScreening(c, rate);
    std::vector<Candidate*> open;
    for (Candidate& c : candidates) open.push_back(&c);
    ScreeningPass(open, options.probeBudgetMs);
    // Serial ports are confirmed on a connection of the driver's own, so
    // the probes close first.
    for (Candidate& c : candidates)
      if (!c.tcp) c.port.reset();
    TakeAnswers(candidates, rate, options, result);
    for (Candidate& c : candidates) c.done = c.done || c.tcp;  // one try each
    if (result.found && options.ports.empty()) break;
  }
  for (Candidate& c : candidates) {
    if (!c.done && result.found && options.ports.empty())
      c.note = {c.note.port, TPortFinding::NotTried, 0,
                "tried at " + std::to_string(result.baud) +
                    " baud and above only: the search stopped at the first printer"};
    result.notes.push_back(c.note);
  }
  result.elapsedMs = MonotonicMs() - start;
  return result;
}

const char* PortFindingName(TPortFinding finding) {
  switch (finding) {
    case TPortFinding::Answered: return "answered";
    case TPortFinding::Silent: return "silent";
    case TPortFinding::NotTried: return "not-tried";
    case TPortFinding::Console: return "console";
    case TPortFinding::Busy: return "busy";
    case TPortFinding::Unusable: return "unusable";
    case TPortFinding::Lost: return "lost";
  }
  return "";
}

}  // namespace zuv
