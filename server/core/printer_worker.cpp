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
using namespace std::chrono_literals;

// A failed journal commit is tried again after this, doubling up to the
// last: a lock held by another process may last seconds.
constexpr auto kFirstRetry = 50ms;
constexpr auto kLastRetry = 5s;
// How often a counter that did not answer is read again.
constexpr auto kSettleRetry = 5s;

const char* const kKindPort = "port";
const char* const kKindPrinter = "printer";
const char* const kKindLink = "link";
const char* const kKindJournal = "journal";

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
    for (int64_t id : queued) queue_.push_back({id, nullptr});
  }
  // Jobs found in doubt are in hand until the first settling attempt, so
  // that a caller waiting for one hears the counter's verdict.
  std::vector<int64_t> unsettled;
  for (const auto& job : journal_.UnsettledJobs(config_.id)) unsettled.push_back(job.id);
  for (int64_t id : unsettled) hooks_.jobBusy(id, true);
#ifdef _WIN32
  std::promise<void> done;
  finished_ = done.get_future();
  // MinGW frees a thread's thread_local storage before it runs their
  // destructors, so a thread that used the driver crashes as it ends. The
  // worker says when it is done and then never ends: Stop waits for that
  // and lets the thread go, and the process's exit takes it.
  thread_ = std::thread([this, unsettled, done = std::move(done)]() mutable {
    Run(unsettled);
    done.set_value();
    std::promise<void>().get_future().wait();
  });
#else
  thread_ = std::thread([this, unsettled] { Run(unsettled); });
#endif
}

void PrinterWorker::Enqueue(int64_t id) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({id, nullptr});
  }
  wake_.notify_one();
}

std::optional<std::future<Journal::Inserted>> PrinterWorker::TakeAtOnce(const Journal::NewJob& job) {
  auto fresh = std::make_shared<FreshJob>(FreshJob{job, {}});
  auto inserted = fresh->inserted.get_future();
  {
    std::lock_guard lock(mutex_);
    // A job in doubt waiting for its counter could hold the caller for a
    // reply timeout: such a printer is not idle.
    if (stopping_ || inHand_ || settleAgain_ || !queue_.empty() || !thread_.joinable())
      return std::nullopt;
    queue_.push_back({0, std::move(fresh)});
  }
  wake_.notify_one();
  return inserted;
}

void PrinterWorker::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
}

void PrinterWorker::Stop() {
  RequestStop();
  if (!thread_.joinable()) return;
#ifdef _WIN32
  finished_.wait();
  thread_.detach();
#else
  thread_.join();
#endif
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
  SettleWhenOpen();
  for (int64_t id : unsettled) hooks_.jobBusy(id, false);
  Entry entry;
  while (WaitForWork(entry)) {
    const int64_t id = RunEntry(entry);
    Dequeue(entry);
    {
      std::lock_guard lock(mutex_);
      inHand_ = false;
    }
    // Idle before anyone waiting hears the job ended, so their next job
    // finds the printer idle.
    if (id) hooks_.jobBusy(id, false);
  }
  ShelveFresh();
  zuv::TComPortZUV::ClosePort();
  // The driver's state goes here, while the thread still has it (below).
  zuv::ResetDriverState();
}

// The id of the job it marked busy, or 0.
int64_t PrinterWorker::RunEntry(const Entry& entry) {
  if (entry.fresh) return RunFresh(entry);
  hooks_.jobBusy(entry.id, true);
  try {
    RunJob(entry.id);
  } catch (const std::exception& e) {
    LogProblem(config_.id, "job " + std::to_string(entry.id), e);
  }
  return entry.id;
}

// A job handed over while idle: the printer is readied and the job's
// counter read first, so that one commit makes it queued and running. When
// the printer cannot be readied, the job is committed queued and takes the
// usual way (or fails with why).
int64_t PrinterWorker::RunFresh(const Entry& entry) {
  FreshJob& fresh = *entry.fresh;
  const auto* info = zuvcmd::FindCommand(fresh.job.command);
  Json before = nullptr, error = nullptr;
  bool ready = false;
  if (info) {
    SetState(PrinterState::Busy);
    ready = Ready(*info, before, error);
  }
  Journal::Inserted inserted;
  try {
    inserted = journal_.Insert(config_.id, fresh.job, ready ? std::optional<Json>(before) : std::nullopt);
  } catch (...) {
    fresh.inserted.set_exception(std::current_exception());
    if (portOpen_) SetState(PrinterState::Idle);
    return 0;
  }
  if (inserted.replayed) {
    fresh.inserted.set_value(std::move(inserted));
    if (portOpen_) SetState(PrinterState::Idle);
    return 0;
  }
  const int64_t id = inserted.job.id;
  Dequeue(entry);
  hooks_.jobBusy(id, true);
  Job queued = inserted.job;
  queued.state = JobState::Queued;
  queued.started.clear();
  hooks_.jobChanged(queued);
  fresh.inserted.set_value({queued, false});
  try {
    if (ready) {
      hooks_.jobChanged(inserted.job);
      Exchange(inserted.job, {info, inserted.job.args});
    } else if (!error.is_null()) {
      Fail(id, error);
    } else {
      RunJob(id);
    }
  } catch (const std::exception& e) {
    LogProblem(config_.id, "job " + std::to_string(id), e);
  }
  return id;
}

// Jobs handed over that the worker did not get to before stopping: kept
// queued for the next start.
void PrinterWorker::ShelveFresh() {
  std::deque<Entry> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(queue_);
  }
  for (const Entry& entry : left) {
    if (!entry.fresh) continue;
    FreshJob& fresh = *entry.fresh;
    try {
      auto inserted = journal_.Insert(config_.id, fresh.job);
      if (!inserted.replayed) hooks_.jobChanged(inserted.job);
      fresh.inserted.set_value(std::move(inserted));
    } catch (...) {
      fresh.inserted.set_exception(std::current_exception());
    }
  }
}

// The job at the head of the queue, left there until its running commit
// is durable. While a job in doubt waits for its counter, the counter is
// read again every few seconds. False once stopping.
bool PrinterWorker::WaitForWork(Entry& entry) {
  for (;;) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return stopping_ || !queue_.empty(); };
    if (!settleAgain_) {
      wake_.wait(lock, ready);
    } else if (!wake_.wait_for(lock, kSettleRetry, ready)) {
      lock.unlock();
      SettleWhenOpen();
      continue;
    }
    if (stopping_) return false;
    entry = queue_.front();
    inHand_ = true;
    return true;
  }
}

void PrinterWorker::SettleWhenOpen() {
  try {
    if (EnsureOpen()) SettleUnsettled();
  } catch (const std::exception& e) {
    LogProblem(config_.id, "settling", e);
  }
}

// Takes the entry off the head of the queue once its job is running or
// has ended.
void PrinterWorker::Dequeue(const Entry& entry) {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return;
  const Entry& head = queue_.front();
  if (entry.fresh ? head.fresh == entry.fresh : head.id == entry.id) queue_.pop_front();
}

bool PrinterWorker::Stopping() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

// Runs a journal access until it succeeds: nothing more goes to the printer
// before it has. Meanwhile the printer shows the journal's fault. False
// when Stop came first; what the access would have written is not.
bool PrinterWorker::Durably(const std::function<void()>& access) {
  auto wait = std::chrono::milliseconds(kFirstRetry);
  for (;;) {
    try {
      access();
      if (beforeJournalFault_) JournalBack();
      return true;
    } catch (const SqliteError& e) {
      JournalFailed(e);
    }
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, wait, [this] { return stopping_; })) return false;
    wait = std::min<std::chrono::milliseconds>(wait * 2, kLastRetry);
  }
}

void PrinterWorker::JournalFailed(const std::exception& e) {
  LogProblem(config_.id, "journal", e);
  hooks_.journalFailed();
  if (!beforeJournalFault_) {
    std::lock_guard lock(mutex_);
    beforeJournalFault_.emplace(state_, lastError_);
  }
  SetState(PrinterState::Journal,
           {{"kind", kKindJournal},
            {"code", 0},
            {"message", std::string("the journal cannot be written: ") + e.what()}});
}

void PrinterWorker::JournalBack() {
  const auto [state, error] = *beforeJournalFault_;
  beforeJournalFault_.reset();
  SetState(state, error);
}

// The catalogue reports failures in its outcome; an exception is a fault
// of its own, after which nobody can say what reached the printer.
zuvcmd::CommandOutcome PrinterWorker::ExecuteGuarded(const zuvcmd::CommandRequest& request) {
  try {
    return hooks_.exchange ? hooks_.exchange(request) : zuvcmd::Execute(request);
  } catch (const std::exception& e) {
    zuvcmd::CommandOutcome outcome;
    // Taken as a lost reply: in doubt unless the command only reads.
    outcome.sent = outcome.acknowledged = true;
    outcome.errorCode = zuv::linkerr::NoReply;
    outcome.message = e.what();
    return outcome;
  }
}

void PrinterWorker::RunJob(int64_t id) {
  std::optional<Job> job;
  if (!Durably([&] { job = journal_.Get(id); })) return;
  if (!job || job->state != JobState::Queued) return;
  if (job->command == kDetectCommand) return Detect(*job);
  zuvcmd::CommandRequest request{zuvcmd::FindCommand(job->command), job->args};
  if (!request.info) return Fail(id, {{"kind", "input"}, {"code", 0},
                                      {"message", "unknown command " + job->command}});
  SetState(PrinterState::Busy);
  Json before, error;
  if (!Ready(*request.info, before, error)) {
    if (!error.is_null()) Fail(id, error);
    return;  // stopping: stays queued for the next start
  }
  // Durable before the first byte leaves: a crash from here on leaves the
  // job in doubt, never queued to be sent again.
  std::optional<Job> running;
  if (!Durably([&] { running = journal_.MarkRunning(*job, before); }) || !running) return;
  Dequeue({id, nullptr});
  hooks_.jobChanged(*running);
  Exchange(*running, request);
}

// Readies the printer for a job: its port open, no job in doubt waiting
// for its counter (a reading after another job was sent would tell nothing
// about that one), and the job's own counter reading in `before` (null when
// it has none). False with the error the job fails with, or with a null
// error when the service is stopping.
bool PrinterWorker::Ready(const zuvcmd::CommandInfo& info, Json& before, Json& error) {
  before = error = nullptr;
  if (!EnsureOpen()) {
    error = {{"kind", kKindPort}, {"code", zuv::linkerr::PortFault},
             {"message", "cannot open " + config_.port}};
    return false;
  }
  if (!SettleUnsettled()) {
    if (Stopping()) return false;
    error = DriverError();
    error["message"] = "a job in doubt waits to be settled and the printer does not answer: " +
                       error["message"].get<std::string>();
    return false;
  }
  if (info.counter != zuvcmd::Counter::None) {
    const auto reading = zuvcmd::ReadCounter(info.counter);
    if (!reading) {
      error = DriverError();
      NotePortFault();
      return false;
    }
    before = *reading;
  }
  return !Stopping();
}

// Sends a job the journal holds running and commits its outcome.
void PrinterWorker::Exchange(const Job& running, const zuvcmd::CommandRequest& request) {
  const auto t0 = Clock::now();
  const zuvcmd::CommandOutcome outcome = ExecuteGuarded(request);
  hooks_.exchangeTimed(std::chrono::duration<double>(Clock::now() - t0).count());
  const JobState state = StateOf(*request.info, outcome);
  const Json error = state == JobState::Done ? Json(nullptr) : OutcomeError(outcome);
  // A batch that stopped partway says where in its result.
  const Json result = outcome.ok || !outcome.result.empty() ? outcome.result : Json(nullptr);
  // Nothing else goes to the printer before the outcome is durable. Given
  // up at a stop, the job stays running and is in doubt at the next start.
  Job finished;
  if (!Durably([&] { finished = journal_.Finish(running, state, result, error); })) return;
  if (state == JobState::InDoubt) mayBeUnsettled_ = true;
  hooks_.jobChanged(finished);
  if (outcome.errorCode == zuv::linkerr::PortFault) NotePortFault();
  if (portOpen_) SetState(PrinterState::Idle, error);
  if (state == JobState::InDoubt && portOpen_ && !Stopping()) SettleUnsettled();
}

// Searches the printer's own port at every speed, fastest first, on a port
// of the search's own: this worker's port is closed meanwhile and opened
// again at the speed found. Only connection tests go out, so the job ends
// done or failed, never in doubt, and a job waiting to be settled still
// can be.
void PrinterWorker::Detect(const Job& job) {
  std::optional<Job> running;
  if (!Durably([&] { running = journal_.MarkRunning(job, nullptr); }) || !running) return;
  Dequeue({job.id, nullptr});
  hooks_.jobChanged(*running);
  SetState(PrinterState::Busy);
  zuv::TComPortZUV::ClosePort();
  portOpen_ = false;
  zuv::TDetectOptions options;
  options.ports = {config_.port};
  const zuv::TDetectResult found = zuv::DetectPrinter(options);
  if (found.found && found.baud) SetBaud(found.baud);
  const Json error = found.found ? Json(nullptr) : DetectionError(found, config_.port);
  Job finished;
  if (!Durably([&] {
        finished = journal_.Finish(job.id, found.found ? JobState::Done : JobState::Failed,
                                   DetectionResult(found, config_), error);
      }))
    return;
  hooks_.jobChanged(finished);
  if (!EnsureOpen()) return;
  SetState(PrinterState::Idle, error);
  if (found.found && !Stopping()) SettleUnsettled();
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
// False when the printer did not answer (the jobs stay in doubt) or the
// service is stopping.
bool PrinterWorker::SettleUnsettled() {
  if (!mayBeUnsettled_) return true;
  std::vector<Journal::Unsettled> unsettled;
  if (!Durably([&] { unsettled = journal_.UnsettledJobs(config_.id); })) return false;
  for (const auto& pending : unsettled) {
    if (Stopping()) return false;
    const auto* info = zuvcmd::FindCommand(pending.command);
    if (!info || info->counter == zuvcmd::Counter::None) {
      if (!Durably([&] { journal_.LeaveToPerson(pending.id, nullptr); })) return false;
      continue;
    }
    const auto after = zuvcmd::ReadCounter(info->counter);
    if (!after) {
      NotePortFault();
      SetSettleAgain(true);
      return false;
    }
    const auto done = TookEffect(info->counter, pending.args, pending.before, *after);
    const Json settlement = {{"before", pending.before}, {"after", *after}};
    if (!done) {
      if (!Durably([&] { journal_.LeaveToPerson(pending.id, settlement); })) return false;
      continue;
    }
    std::optional<Job> settled;
    if (!Durably([&] { settled = journal_.Settle(pending.id, *done, "counter", settlement); }))
      return false;
    if (settled) hooks_.jobChanged(*settled);
  }
  SetSettleAgain(false);
  mayBeUnsettled_ = false;
  return true;
}

void PrinterWorker::SetSettleAgain(bool again) {
  std::lock_guard lock(mutex_);
  settleAgain_ = again;
}

void PrinterWorker::Fail(int64_t id, const Json& error) {
  Job failed;
  if (!Durably([&] { failed = journal_.Finish(id, JobState::Failed, nullptr, error); })) return;
  Dequeue({id, nullptr});
  hooks_.jobChanged(failed);
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
