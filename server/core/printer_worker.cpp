#include "printer_worker.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "commands/detect_report.h"
#include "driver/comportzuv.h"
#include "driver/detect.h"
#include "driver/protocol.h"
#include "serial/tcp_device.h"
#include "settling.h"

namespace zuvsrv {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kKindPort = "port";
const char* const kKindPrinter = "printer";
const char* const kKindLink = "link";

// The driver's last error on this thread, as the API shows errors.
Json DriverError() {
  const int32_t code = zuv::ErrorCode;
  std::string message;
  if (zuv::TComPortZUV::HasErrorMessage(code)) message = zuv::TComPortZUV::ErrorMessage(code);
  if (message.empty()) message = "the printer did not answer";
  return {{"kind", code > 0 ? kKindPrinter : kKindLink}, {"code", code}, {"message", message}};
}

Json OutcomeError(const zuvcmd::CommandOutcome& outcome) {
  const std::string message = outcome.message.empty() ? "the command failed" : outcome.message;
  return {{"kind", outcome.errorCode > 0 ? kKindPrinter : kKindLink},
          {"code", outcome.errorCode},
          {"message", message}};
}

// Problems nobody waits for an answer about go to the service's log.
void LogProblem(const std::string& printer, const std::string& what, const std::exception& e) {
  std::fprintf(stderr, "zuv-server: printer %s, %s: %s\n", printer.c_str(), what.c_str(), e.what());
}

// The catalogue reports failures in its outcome; an exception is a fault
// of its own, after which nobody can say what reached the printer.
zuvcmd::CommandOutcome ExecuteGuarded(const zuvcmd::CommandRequest& request) {
  try {
    return zuvcmd::Execute(request);
  } catch (const std::exception& e) {
    zuvcmd::CommandOutcome outcome;
    // Taken as a lost reply: in doubt unless the command only reads.
    outcome.sent = outcome.acknowledged = true;
    outcome.errorCode = zuv::linkerr::NoReply;
    outcome.message = e.what();
    return outcome;
  }
}

// What a detect job found: the port, the speed (null for a tcp:// port)
// next to the configured one, and the finding of the port.
Json DetectionResult(const zuv::TDetectResult& found, const PrinterConfig& config) {
  Json result = {{"port", config.port}};
  if (found.found) result["baud"] = zuvcmd::BaudJson(found.baud);
  result["configured_baud"] = config.baud;
  result["elapsed_ms"] = found.elapsedMs;
  result["ports"] = zuvcmd::PortNotesJson(found);
  return result;
}

Json DetectionError(const zuv::TDetectResult& found, const std::string& port) {
  return {{"kind", kKindLink},
          {"code", zuv::linkerr::NoReply},
          {"message", "no printer answered on " + port + " at any speed (" +
                          std::to_string(found.elapsedMs) + " ms)"}};
}

JobState StateOf(const zuvcmd::CommandInfo& info, const zuvcmd::CommandOutcome& outcome) {
  if (outcome.ok) return JobState::Done;
  return zuvcmd::InDoubt(info, outcome) ? JobState::InDoubt : JobState::Failed;
}

}  // namespace

PrinterWorker::PrinterWorker(PrinterConfig config, Journal& journal, WorkerHooks hooks)
    : config_(std::move(config)), journal_(journal), hooks_(std::move(hooks)), baud_(config_.baud) {}

PrinterWorker::~PrinterWorker() { Stop(); }

void PrinterWorker::Start(std::vector<int64_t> queued) {
  {
    std::lock_guard lock(mutex_);
    queue_.assign(queued.begin(), queued.end());
  }
  // Jobs found in doubt are in hand until the first settling attempt, so
  // that a caller waiting for one hears the counter's verdict.
  std::vector<int64_t> unsettled;
  for (const auto& job : journal_.UnsettledJobs(config_.id)) unsettled.push_back(job.id);
  for (int64_t id : unsettled) hooks_.jobBusy(id, true);
  thread_ = std::thread([this, unsettled] { Run(unsettled); });
}

void PrinterWorker::Enqueue(int64_t id) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(id);
  }
  wake_.notify_one();
}

void PrinterWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

PrinterStatus PrinterWorker::Status() {
  std::lock_guard lock(mutex_);
  return StatusLocked();
}

PrinterStatus PrinterWorker::StatusLocked() const {
  const int baud = serial::IsTcpPortName(config_.port) ? 0 : baud_;
  return {config_.id, config_.port, baud, state_, queue_.size(), lastError_};
}

void PrinterWorker::Run(const std::vector<int64_t>& unsettled) {
  // The driver keeps its state per thread: this thread owns the port.
  zuv::TComPortZUV::Init(config_.lang);
  try {
    if (EnsureOpen()) SettleUnsettled();
  } catch (const std::exception& e) {
    LogProblem(config_.id, "settling", e);
  }
  for (int64_t id : unsettled) hooks_.jobBusy(id, false);
  for (;;) {
    int64_t id = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) break;
      id = queue_.front();
      queue_.pop_front();
    }
    hooks_.jobBusy(id, true);
    try {
      RunJob(id);
    } catch (const std::exception& e) {
      // The journal failed (disk full?): the job stays as last committed,
      // and a job left running is in doubt at the next start.
      LogProblem(config_.id, "job " + std::to_string(id), e);
    }
    hooks_.jobBusy(id, false);
  }
  zuv::TComPortZUV::ClosePort();
}

void PrinterWorker::RunJob(int64_t id) {
  const auto job = journal_.Get(id);
  if (!job || job->state != JobState::Queued) return;
  if (job->command == kDetectCommand) return Detect(*job);
  zuvcmd::CommandRequest request{zuvcmd::FindCommand(job->command), job->args};
  if (!request.info) return Fail(id, {{"kind", "input"}, {"code", 0},
                                      {"message", "unknown command " + job->command}});
  SetState(PrinterState::Busy);
  if (!EnsureOpen())
    return Fail(id, {{"kind", kKindPort}, {"code", zuv::linkerr::PortFault},
                     {"message", "cannot open " + config_.port}});
  // A counter read after another job was sent tells nothing about the one
  // in doubt, so nothing is sent while one waits to be settled.
  if (!SettleUnsettled()) {
    Json error = DriverError();
    error["message"] = "a job in doubt waits to be settled and the printer does not answer: " +
                       error["message"].get<std::string>();
    return Fail(id, error);
  }
  Json before = nullptr;
  if (request.info->counter != zuvcmd::Counter::None) {
    const auto reading = zuvcmd::ReadCounter(request.info->counter);
    if (!reading) {
      const Json error = DriverError();
      NotePortFault();
      return Fail(id, error);
    }
    before = *reading;
  }
  Send(*job, request, before);
}

void PrinterWorker::Send(const Job& job, const zuvcmd::CommandRequest& request,
                         const Json& before) {
  // Durable before the first byte leaves: a crash from here on leaves the
  // job in doubt, never queued to be sent again.
  const auto running = journal_.MarkRunning(job.id, before);
  if (!running) return;
  hooks_.jobChanged(*running);
  const auto t0 = Clock::now();
  const zuvcmd::CommandOutcome outcome = ExecuteGuarded(request);
  hooks_.exchangeTimed(std::chrono::duration<double>(Clock::now() - t0).count());
  const JobState state = StateOf(*request.info, outcome);
  const Json error = state == JobState::Done ? Json(nullptr) : OutcomeError(outcome);
  // A batch that stopped partway says where in its result.
  const Json result = outcome.ok || !outcome.result.empty() ? outcome.result : Json(nullptr);
  const Job finished = journal_.Finish(job.id, state, result, error);
  hooks_.jobChanged(finished);
  if (outcome.errorCode == zuv::linkerr::PortFault) NotePortFault();
  if (portOpen_) SetState(PrinterState::Idle, error);
  if (state == JobState::InDoubt && portOpen_) SettleUnsettled();
}

// Searches the printer's own port at every speed, fastest first, on a port
// of the search's own: this worker's port is closed meanwhile and opened
// again at the speed found. Only connection tests go out, so the job ends
// done or failed, never in doubt, and a job waiting to be settled still
// can be.
void PrinterWorker::Detect(const Job& job) {
  const auto running = journal_.MarkRunning(job.id, nullptr);
  if (!running) return;
  hooks_.jobChanged(*running);
  SetState(PrinterState::Busy);
  zuv::TComPortZUV::ClosePort();
  portOpen_ = false;
  zuv::TDetectOptions options;
  options.ports = {config_.port};
  const zuv::TDetectResult found = zuv::DetectPrinter(options);
  if (found.found && found.baud) SetBaud(found.baud);
  const Json error = found.found ? Json(nullptr) : DetectionError(found, config_.port);
  hooks_.jobChanged(
      journal_.Finish(job.id, found.found ? JobState::Done : JobState::Failed,
                      DetectionResult(found, config_), error));
  if (!EnsureOpen()) return;
  SetState(PrinterState::Idle, error);
  if (found.found) SettleUnsettled();
}

int PrinterWorker::Baud() {
  std::lock_guard lock(mutex_);
  return baud_;
}

void PrinterWorker::SetBaud(int baud) {
  PrinterStatus status;
  {
    std::lock_guard lock(mutex_);
    if (baud_ == baud) return;
    baud_ = baud;
    status = StatusLocked();
  }
  hooks_.printerChanged(status);
}

bool PrinterWorker::EnsureOpen() {
  if (portOpen_) return true;
  portOpen_ = zuv::TComPortZUV::OpenPort(config_.port, Baud(), true, false);
  if (!portOpen_)
    SetState(PrinterState::Offline,
             {{"kind", kKindPort}, {"code", zuv::linkerr::PortFault},
              {"message", "cannot open " + config_.port}});
  else
    SetState(PrinterState::Idle);
  return portOpen_;
}

// The driver dropped the port: it is reopened on the next job.
void PrinterWorker::NotePortFault() {
  if (zuv::ErrorCode != zuv::linkerr::PortFault) return;
  zuv::TComPortZUV::ClosePort();
  portOpen_ = false;
  SetState(PrinterState::Offline, DriverError());
}

// Reads the counter of each job in doubt that has one and settles it.
// False when the printer did not answer (the jobs stay in doubt).
bool PrinterWorker::SettleUnsettled() {
  for (const auto& pending : journal_.UnsettledJobs(config_.id)) {
    const auto* info = zuvcmd::FindCommand(pending.command);
    if (!info || info->counter == zuvcmd::Counter::None) {
      journal_.LeaveToPerson(pending.id, nullptr);
      continue;
    }
    const auto after = zuvcmd::ReadCounter(info->counter);
    if (!after) {
      NotePortFault();
      return false;
    }
    const auto done = TookEffect(info->counter, pending.args, pending.before, *after);
    const Json settlement = {{"before", pending.before}, {"after", *after}};
    if (!done) {
      journal_.LeaveToPerson(pending.id, settlement);
      continue;
    }
    if (const auto settled = journal_.Settle(pending.id, *done, "counter", settlement))
      hooks_.jobChanged(*settled);
  }
  return true;
}

void PrinterWorker::Fail(int64_t id, const Json& error) {
  hooks_.jobChanged(journal_.Finish(id, JobState::Failed, nullptr, error));
  SetState(portOpen_ ? PrinterState::Idle : PrinterState::Offline, error);
}

void PrinterWorker::SetState(PrinterState state, const Json& lastError) {
  PrinterStatus status;
  {
    std::lock_guard lock(mutex_);
    if (state_ == state && lastError_ == lastError) return;
    state_ = state;
    lastError_ = lastError;
    status = StatusLocked();
  }
  hooks_.printerChanged(status);
}

void PrinterWorker::SetState(PrinterState state) {
  Json lastError;
  {
    std::lock_guard lock(mutex_);
    lastError = lastError_;
  }
  SetState(state, lastError);
}

}  // namespace zuvsrv
