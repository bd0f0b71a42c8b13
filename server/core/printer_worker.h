// One printer's queue and the thread that owns its port: jobs run one at a
// time in the order they came, and nothing here ever sends a job twice.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "job_service.h"
#include "journal.h"

namespace zuvsrv {

// What a worker tells the service; called on the worker's thread after the
// journal holds the change.
struct WorkerHooks {
  std::function<void(const Job&)> jobChanged;
  std::function<void(const PrinterStatus&)> printerChanged;
  std::function<void(double seconds)> exchangeTimed;
  // Brackets everything the worker does with one job, settling included.
  std::function<void(int64_t id, bool busy)> jobBusy;
  // A journal commit failed; the worker retries it.
  std::function<void()> journalFailed;
  // The job's exchange with the printer; zuvcmd::Execute unless a test
  // puts another in.
  std::function<zuvcmd::CommandOutcome(const zuvcmd::CommandRequest&)> exchange;
};

class PrinterWorker {
 public:
  PrinterWorker(PrinterConfig config, Journal& journal, WorkerHooks hooks);
  ~PrinterWorker();  // Stop()
  PrinterWorker(const PrinterWorker&) = delete;
  PrinterWorker& operator=(const PrinterWorker&) = delete;

  // Starts the thread with the jobs the journal holds queued.
  void Start(std::vector<int64_t> queued);
  void Enqueue(int64_t id);
  // When the printer is idle, takes a job not yet in the journal: it reads
  // the job's counter first, so the job's queued and running rows share
  // one commit. The future holds what the journal made of it (or the
  // insert's exception). Nothing when the printer has other work.
  std::optional<std::future<Journal::Inserted>> TakeAtOnce(const Journal::NewJob& job);
  // Tells the thread to stop without waiting for it.
  void RequestStop();
  // Waits for the exchange in hand, if any, and its commit; the rest stay
  // queued. A commit being retried is given up.
  void Stop();

  const PrinterConfig& Config() const { return config_; }
  PrinterStatus Status();

 private:
  struct FreshJob {
    Journal::NewJob job;
    std::promise<Journal::Inserted> inserted;
  };
  struct Entry {
    int64_t id = 0;  // a job in the journal, or
    std::shared_ptr<FreshJob> fresh;  // one handed over by TakeAtOnce
  };

  void Run(const std::vector<int64_t>& unsettled);
  bool WaitForWork(Entry& entry);
  int64_t RunEntry(const Entry& entry);
  int64_t RunFresh(const Entry& entry);
  void ShelveFresh();
  void RunJob(int64_t id);
  bool Ready(const zuvcmd::CommandInfo& info, Json& before, Json& error);
  void Exchange(const Job& running, const zuvcmd::CommandRequest& request);
  void Dequeue(const Entry& entry);
  bool Stopping();
  bool Durably(const std::function<void()>& access);
  void JournalFailed(const std::exception& e);
  void JournalBack();
  zuvcmd::CommandOutcome ExecuteGuarded(const zuvcmd::CommandRequest& request);
  void SettleWhenOpen();
  void Detect(const Job& job);
  bool EnsureOpen();
  int Baud();
  void SetBaud(int baud);
  PrinterStatus StatusLocked() const;  // mutex_ held
  void NotePortFault();
  bool SettleUnsettled();
  void Fail(int64_t id, const Json& error);
  void SetSettleAgain(bool again);
  void SetState(PrinterState state, const Json& lastError);
  void SetState(PrinterState state);

  const PrinterConfig config_;
  Journal& journal_;
  const WorkerHooks hooks_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> queue_;
  bool inHand_ = false;  // an entry is being run
  bool stopping_ = false;
  PrinterState state_ = PrinterState::Idle;
  Json lastError_;
  int baud_;  // the configured speed until detection finds another
  bool portOpen_ = false;  // worker thread only
  // A job in doubt waits for a counter the printer did not give: read
  // again now and then, not only when the next job comes.
  bool settleAgain_ = false;
  // Whether a job of this printer may wait in doubt for its counter: true
  // at start and after a job ended in doubt, false once settling found
  // none. Spares each job the journal's search. Worker thread only.
  bool mayBeUnsettled_ = true;
  // The state and error shown before the journal failed. Worker thread only.
  std::optional<std::pair<PrinterState, Json>> beforeJournalFault_;
  std::thread thread_;
#ifdef _WIN32
  std::future<void> finished_;  // Run returned (the thread itself never ends)
#endif
};

}  // namespace zuvsrv
