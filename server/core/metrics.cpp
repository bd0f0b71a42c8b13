#include "metrics.h"

namespace zuvsrv {

namespace {

// From a bare connection test (a few ms at 115200) to a long report.
const std::vector<double> kBoundsSeconds = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                            0.5,   1,    2.5,   5,    10,  30};

}  // namespace

ExchangeTimes::ExchangeTimes() {
  histogram_.bounds = kBoundsSeconds;
  histogram_.counts.assign(kBoundsSeconds.size(), 0);
}

void ExchangeTimes::Add(double seconds) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < histogram_.bounds.size(); ++i)
    if (seconds <= histogram_.bounds[i]) ++histogram_.counts[i];
  ++histogram_.count;
  histogram_.sum += seconds;
}

ExchangeHistogram ExchangeTimes::Snapshot() {
  std::lock_guard lock(mutex_);
  return histogram_;
}

}  // namespace zuvsrv
