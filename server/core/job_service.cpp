#include "job_service.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <set>

#include "journal.h"
#include "metrics.h"
#include "printer_worker.h"

namespace zuvsrv {

namespace {

const char* const kJournalFile = "journal.sqlite";
const char* const kJobEvent = "job";
const char* const kPrinterEvent = "printer";

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
};

JobService::JobService(const std::string& stateDir, std::vector<PrinterConfig> printers)
    : impl_(std::make_unique<Impl>(stateDir)) {
  std::set<std::string> ids;
  for (const auto& printer : printers)
    if (!ids.insert(printer.id).second)
      throw std::invalid_argument("printer " + printer.id + " is configured twice");
  impl_->journal.RecoverRunning(ChangesNothing);
  Impl* impl = impl_.get();
  const WorkerHooks hooks{
      [impl](const Job& job) { impl->Emit(kJobEvent, ToJson(job)); },
      [impl](const PrinterStatus& status) { impl->EmitPrinter(status.id); },
      [impl](double seconds) { impl->exchangeTimes.Add(seconds); },
      [impl](int64_t id, bool busy) { impl->JobBusy(id, busy); }};
  for (auto& printer : printers)
    impl_->workers.push_back(
        std::make_unique<PrinterWorker>(std::move(printer), impl_->journal, hooks));
  for (auto& worker : impl_->workers) worker->Start(impl_->journal.Queued(worker->Config().id));
}

JobService::~JobService() { Stop(); }

void JobService::Stop() {
  for (auto& worker : impl_->workers) worker->Stop();
}

JobService::Submitted JobService::Submit(const std::string& printer,
                                         const zuvcmd::CommandRequest& request,
                                         const std::optional<std::string>& idempotencyKey) {
  if (!request.info) throw std::invalid_argument("a request without a command");
  return Queue(printer, request.info->name, request.args, idempotencyKey);
}

JobService::Submitted JobService::Detect(const std::string& printer,
                                         const std::optional<std::string>& idempotencyKey) {
  return Queue(printer, kDetectCommand, Json::object(), idempotencyKey);
}

JobService::Submitted JobService::Queue(const std::string& printer, const std::string& command,
                                        const Json& args,
                                        const std::optional<std::string>& idempotencyKey) {
  PrinterWorker& worker = impl_->Worker(printer);
  auto inserted = impl_->journal.Insert(printer, command, args, idempotencyKey);
  if (inserted.replayed) return {std::move(inserted.job), true};
  // The queued event goes out before the worker can take the job, so no
  // listener hears of it running first.
  impl_->Emit(kJobEvent, ToJson(inserted.job));
  worker.Enqueue(inserted.job.id);
  impl_->EmitPrinter(printer);  // its queue is longer
  return {std::move(inserted.job), false};
}

std::optional<Job> JobService::Get(int64_t id) { return impl_->journal.Get(id); }

std::vector<Job> JobService::List(std::optional<JobState> state,
                                  std::optional<std::string> printer, int limit) {
  return impl_->journal.List(state, std::move(printer), limit);
}

std::optional<Job> JobService::WaitSettled(int64_t id, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock lock(impl_->waitMutex);
  for (;;) {
    const uint64_t seen = impl_->generation;
    const bool inHand = impl_->inHand.count(id) != 0;
    lock.unlock();
    auto job = impl_->journal.Get(id);
    if (!job || (!inHand && !StillMoving(job->state))) return job;
    lock.lock();
    if (!impl_->settled.wait_until(lock, deadline, [&] { return impl_->generation != seen; })) {
      lock.unlock();
      return impl_->journal.Get(id);
    }
  }
}

Job JobService::Resolve(int64_t id, bool done, const std::string& note) {
  const auto job = impl_->journal.Get(id);
  if (!job) throw UnknownJob("no job " + std::to_string(id));
  Json settlement = job->settlement.is_object() ? job->settlement : Json::object();
  settlement["note"] = note;
  const auto settled = impl_->journal.Settle(id, done, "person", settlement);
  if (!settled)
    throw NotInDoubt("job " + std::to_string(id) + " is not in doubt");
  impl_->Emit(kJobEvent, ToJson(*settled));
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
  snapshot.jobs = impl_->journal.Counts();
  for (const auto& [printer, states] : snapshot.jobs) {
    const auto it = states.find(std::string(ToString(JobState::InDoubt)));
    if (it != states.end()) snapshot.inDoubt += it->second;
  }
  for (auto& worker : impl_->workers) {
    const auto status = worker->Status();
    snapshot.queueDepth[status.id] = status.queueLength;
  }
  snapshot.exchange = impl_->exchangeTimes.Snapshot();
  return snapshot;
}

}  // namespace zuvsrv
