// One printer's queue and the thread that owns its port: jobs run one at a
// time in the order they came, and nothing here ever sends a job twice.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
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
  // Waits for the job in hand, if any; the rest stay queued.
  void Stop();

  const PrinterConfig& Config() const { return config_; }
  PrinterStatus Status();

 private:
  void Run(const std::vector<int64_t>& unsettled);
  void RunJob(int64_t id);
  void Send(const Job& job, const zuvcmd::CommandRequest& request, const Json& before);
  void Detect(const Job& job);
  bool EnsureOpen();
  int Baud();
  void SetBaud(int baud);
  PrinterStatus StatusLocked() const;  // mutex_ held
  void NotePortFault();
  bool SettleUnsettled();
  void Fail(int64_t id, const Json& error);
  void SetState(PrinterState state, const Json& lastError);
  void SetState(PrinterState state);

  const PrinterConfig config_;
  Journal& journal_;
  const WorkerHooks hooks_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<int64_t> queue_;
  bool stopping_ = false;
  PrinterState state_ = PrinterState::Idle;
  Json lastError_;
  int baud_;  // the configured speed until detection finds another
  bool portOpen_ = false;  // worker thread only
  std::thread thread_;
};

}  // namespace zuvsrv
