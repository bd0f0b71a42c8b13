#include "job_service.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <thread>
#include <unordered_map>

#include "journal.h"
#include "metrics.h"
#include "printer_worker.h"

namespace zuvsrv {

namespace {

const char* const kJournalFile = "journal.sqlite";
const char* const kJobEvent = "job";
const char* const kPrinterEvent = "printer";

using namespace std::chrono_literals;

// Retention runs at start and then once a day.
constexpr auto kRetentionPeriod = 24h;

bool StillMoving(JobState state) { return state == JobState::Queued || state == JobState::Running; }

// A job of this command that was cut off cannot have changed the printer:
// detection and the reads.
bool ChangesNothing(const std::string& command) {
  if (command == kDetectCommand) return true;
  const zuvcmd::CommandInfo* info = zuvcmd::FindCommand(command);
  return info && info->effect == zuvcmd::Effect::Read;
}

}  // namespace

struct JobService::Impl {
  explicit Impl(const std::string& stateDir)
      : journal((std::filesystem::create_directories(stateDir), stateDir + "/" + kJournalFile)) {}

  void Emit(const std::string& event, const Json& data) {
    std::lock_guard lock(listenersMutex);
    Notify(event, data);
  }

  // The status is read under the listeners' lock, so a printer's events go
  // out in the order of what they show and the last one is its present.
  void EmitPrinter(const std::string& id) {
    std::lock_guard lock(listenersMutex);
    Notify(kPrinterEvent, ToJson(Worker(id).Status()));
  }

  void Notify(const std::string& event, const Json& data) {
    for (const auto& [token, listener] : listeners) {
      try {
        listener(event, data);
      } catch (const std::exception& e) {
        // The change is committed already; one listener's fault must not
        // stop the others or the worker.
        std::fprintf(stderr, "zuv-server: a %s listener failed: %s\n", event.c_str(), e.what());
      }
    }
  }

  void JobChanged(const Job& job) {
    Count(job);
    Emit(kJobEvent, ToJson(job));
  }

  // Moves the job from the state it was counted in to its new one.
  void Count(const Job& job) {
    std::lock_guard lock(countsMutex);
    auto& byState = counts[job.printer];
    if (const auto was = open.find(job.id); was != open.end())
      Add(byState, ToString(was->second), -1);
    Add(byState, ToString(job.state), 1);
    if (IsFinal(job.state))
      open.erase(job.id);
    else
      open[job.id] = job.state;
  }

  static void Add(std::map<std::string, int64_t>& byState, std::string_view state, int64_t n) {
    const auto it = byState.emplace(std::string(state), 0).first;
    if ((it->second += n) == 0) byState.erase(it);
  }

  void LoadCounts() {
    std::lock_guard lock(countsMutex);
    counts = journal.Counts();
    for (const JobState state : {JobState::Queued, JobState::Running, JobState::InDoubt})
      for (const Job& job : journal.List(state, std::nullopt, std::numeric_limits<int>::max()))
        open[job.id] = job.state;
  }

  void DeleteOld() {
    const auto cutoff = std::chrono::system_clock::now() - std::chrono::days(retentionDays);
    const auto deleted = journal.DeleteEnded(UtcTime(cutoff));
    std::lock_guard lock(countsMutex);
    for (const auto& [printer, states] : deleted)
      for (const auto& [state, n] : states) Add(counts[printer], state, -n);
  }

  void Housekeep() {
    std::unique_lock lock(houseMutex);
    while (!houseWake.wait_for(lock, kRetentionPeriod, [this] { return houseStopping; })) {
      lock.unlock();
      try {
        DeleteOld();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "zuv-server: deleting old jobs: %s\n", e.what());
      }
      lock.lock();
    }
  }

  void JobBusy(int64_t id, bool busy) {
    {
      std::lock_guard lock(waitMutex);
      if (busy)
        inHand.insert(id);
      else
        inHand.erase(id);
      ++generation;
    }
    settled.notify_all();
  }

  PrinterWorker& Worker(const std::string& id) {
    for (auto& worker : workers)
      if (worker->Config().id == id) return *worker;
    throw UnknownPrinter("no printer " + id);
  }

  Journal journal;
  ExchangeTimes exchangeTimes;
  std::vector<std::unique_ptr<PrinterWorker>> workers;

  // Events go out one at a time, so every listener sees one order.
  std::mutex listenersMutex;
  std::map<int, Listener> listeners;
  int nextToken = 1;

  std::mutex waitMutex;
  std::condition_variable settled;
  std::set<int64_t> inHand;  // jobs a worker is running or settling
  uint64_t generation = 0;

  std::atomic<uint64_t> journalFailures{0};

  // Job counts for the metrics, kept in memory.
  std::mutex countsMutex;
  std::map<std::string, std::map<std::string, int64_t>> counts;
  std::unordered_map<int64_t, JobState> open;  // jobs not ended, by their last state

  int retentionDays = 90;
  std::mutex houseMutex;
  std::condition_variable houseWake;
  bool houseStopping = false;
  std::thread housekeeper;
};

JobService::JobService(const std::string& stateDir, std::vector<PrinterConfig> printers,
                       JobServiceOptions options)
    : impl_(std::make_unique<Impl>(stateDir)) {
  std::set<std::string> ids;
  for (const auto& printer : printers)
    if (!ids.insert(printer.id).second)
      throw std::invalid_argument("printer " + printer.id + " is configured twice");
  if (options.beforeCommit) impl_->journal.SetCommitHook(options.beforeCommit);
  impl_->journal.RecoverRunning(ChangesNothing);
  impl_->retentionDays = options.retentionDays;
  impl_->DeleteOld();
  impl_->LoadCounts();
  Impl* impl = impl_.get();
  const WorkerHooks hooks{
      [impl](const Job& job) { impl->JobChanged(job); },
      [impl](const PrinterStatus& status) { impl->EmitPrinter(status.id); },
      [impl](double seconds) { impl->exchangeTimes.Add(seconds); },
      [impl](int64_t id, bool busy) { impl->JobBusy(id, busy); },
      [impl] { ++impl->journalFailures; },
      options.exchange};
  for (auto& printer : printers)
    impl_->workers.push_back(
        std::make_unique<PrinterWorker>(std::move(printer), impl_->journal, hooks));
  for (auto& worker : impl_->workers) worker->Start(impl_->journal.Queued(worker->Config().id));
  impl_->housekeeper = std::thread([impl] { impl->Housekeep(); });
}

JobService::~JobService() { Stop(); }

// All told first, so the printers wind down side by side.
void JobService::Stop() {
  for (auto& worker : impl_->workers) worker->RequestStop();
  for (auto& worker : impl_->workers) worker->Stop();
  {
    std::lock_guard lock(impl_->houseMutex);
    impl_->houseStopping = true;
  }
  impl_->houseWake.notify_one();
  if (impl_->housekeeper.joinable()) impl_->housekeeper.join();
}

JobService::Submitted JobService::Submit(const std::string& printer,
                                         const zuvcmd::CommandRequest& request,
                                         const std::optional<std::string>& idempotencyKey) {
  if (!request.info) throw std::invalid_argument("a request without a command");
  std::vector<std::string> warnings;
  for (const auto& text : zuvcmd::FindUnprintable(request))
    warnings.push_back(text.field + ": " + text.message + " (sent as '?')");
  return Queue(printer, request.info->name, request.args, warnings, idempotencyKey);
}

JobService::Submitted JobService::Detect(const std::string& printer,
                                         const std::optional<std::string>& idempotencyKey) {
  return Queue(printer, kDetectCommand, Json::object(), {}, idempotencyKey);
}

JobService::Submitted JobService::Queue(const std::string& printer, const std::string& command,
                                        const Json& args, const std::vector<std::string>& warnings,
                                        const std::optional<std::string>& idempotencyKey) {
  PrinterWorker& worker = impl_->Worker(printer);
  const Journal::NewJob fresh{command, args, warnings, idempotencyKey};
  if (auto taken = worker.TakeAtOnce(fresh)) {
    auto inserted = taken->get();
    return {std::move(inserted.job), inserted.replayed};
  }
  auto inserted = impl_->journal.Insert(printer, fresh);
  if (inserted.replayed) return {std::move(inserted.job), true};
  // The queued event goes out before the worker can take the job, so no
  // listener hears of it running first.
  impl_->JobChanged(inserted.job);
  worker.Enqueue(inserted.job.id);
  impl_->EmitPrinter(printer);  // its queue is longer
  return {std::move(inserted.job), false};
}

std::optional<Job> JobService::Get(int64_t id) { return impl_->journal.Get(id); }

bool JobService::Moving(int64_t id) {
  std::lock_guard lock(impl_->countsMutex);
  const auto it = impl_->open.find(id);
  return it != impl_->open.end() && StillMoving(it->second);
}

std::vector<Job> JobService::List(std::optional<JobState> state,
                                  std::optional<std::string> printer, int limit) {
  return impl_->journal.List(state, std::move(printer), limit);
}

std::optional<Job> JobService::WaitSettled(int64_t id, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock lock(impl_->waitMutex);
  // Read once it is out of hand and no longer moves, or the wait ran out.
  while (impl_->inHand.count(id) != 0 || Moving(id)) {
    const uint64_t seen = impl_->generation;
    if (!impl_->settled.wait_until(lock, deadline, [&] { return impl_->generation != seen; }))
      break;
  }
  lock.unlock();
  return impl_->journal.Get(id);
}

Job JobService::Resolve(int64_t id, bool done, const std::string& note) {
  const auto job = impl_->journal.Get(id);
  if (!job) throw UnknownJob("no job " + std::to_string(id));
  Json settlement = job->settlement.is_object() ? job->settlement : Json::object();
  settlement["note"] = note;
  const auto settled = impl_->journal.Settle(id, done, "person", settlement);
  if (!settled)
    throw NotInDoubt("job " + std::to_string(id) + " is not in doubt");
  impl_->JobChanged(*settled);
  return *settled;
}

std::vector<PrinterStatus> JobService::Printers() {
  std::vector<PrinterStatus> statuses;
  for (auto& worker : impl_->workers) statuses.push_back(worker->Status());
  return statuses;
}

bool JobService::HasPrinter(std::string_view id) const {
  for (const auto& worker : impl_->workers)
    if (worker->Config().id == id) return true;
  return false;
}

std::optional<std::string> JobService::JournalFault() const {
  for (const auto& worker : impl_->workers) {
    const PrinterStatus status = worker->Status();
    if (status.state == PrinterState::Journal)
      return "printer " + status.id + ": " + status.lastError.value("message", std::string());
  }
  return std::nullopt;
}

int JobService::Subscribe(Listener listener) {
  std::lock_guard lock(impl_->listenersMutex);
  const int token = impl_->nextToken++;
  impl_->listeners.emplace(token, std::move(listener));
  return token;
}

void JobService::Unsubscribe(int token) {
  std::lock_guard lock(impl_->listenersMutex);
  impl_->listeners.erase(token);
}

MetricsSnapshot JobService::Metrics() {
  MetricsSnapshot snapshot;
  {
    std::lock_guard lock(impl_->countsMutex);
    for (const auto& [printer, states] : impl_->counts)
      if (!states.empty()) snapshot.jobs[printer] = states;
  }
  for (const auto& [printer, states] : snapshot.jobs) {
    const auto it = states.find(std::string(ToString(JobState::InDoubt)));
    if (it != states.end()) snapshot.inDoubt += it->second;
  }
  for (auto& worker : impl_->workers) {
    const auto status = worker->Status();
    snapshot.queueDepth[status.id] = status.queueLength;
  }
  snapshot.exchange = impl_->exchangeTimes.Snapshot();
  snapshot.journalFailures = impl_->journalFailures;
  return snapshot;
}

}  // namespace zuvsrv
