// The exchange-time histogram the service keeps for its metrics.
#pragma once

#include <mutex>

#include "job_service.h"

namespace zuvsrv {

class ExchangeTimes {
 public:
  ExchangeTimes();
  void Add(double seconds);
  ExchangeHistogram Snapshot();

 private:
  std::mutex mutex_;
  ExchangeHistogram histogram_;
};

}  // namespace zuvsrv
