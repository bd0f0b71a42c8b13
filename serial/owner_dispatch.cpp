#include "owner_dispatch.h"

#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace serial {

namespace {
std::mutex& DefaultLock() {
  static std::mutex lock;
  return lock;
}
std::shared_ptr<TOwnerDispatcher>& DefaultSlot() {
  static std::shared_ptr<TOwnerDispatcher> dispatcher;
  return dispatcher;
}
}  // namespace

void TOwnerDispatcher::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Unhandled exception in a serial event handler: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unhandled exception in a serial event handler\n");
  }
}

void SetDefaultOwnerDispatcher(std::shared_ptr<TOwnerDispatcher> dispatcher) {
  std::lock_guard<std::mutex> hold(DefaultLock());
  DefaultSlot() = std::move(dispatcher);
}

std::shared_ptr<TOwnerDispatcher> DefaultOwnerDispatcher() {
  std::lock_guard<std::mutex> hold(DefaultLock());
  return DefaultSlot();
}

}  // namespace serial
