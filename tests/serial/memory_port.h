// Components that talk to an in-memory device.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "serial/comport.h"
#include "testing/memory_device.h"

class MemoryPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = serial::TCustomComPort::SetDefaultDeviceFactory(
        [] { return std::make_unique<serial::MemoryDevice>(); });
    port_ = std::make_unique<serial::TComPort>();
  }
  void TearDown() override {
    port_.reset();
    serial::TCustomComPort::SetDefaultDeviceFactory(previous_);
  }
  serial::TComPort& port() { return *port_; }
  serial::MemoryDevice& dev() { return static_cast<serial::MemoryDevice&>(port_->Device()); }

  // Records every report instead of raising.
  struct Report {
    serial::TComExceptions kind;
    std::string message;
    int64_t winError;
    std::string winMessage;
  };
  void CollectErrors() {
    port().OnException = [this](serial::TCustomComPort*, serial::TComExceptions kind,
                                const std::string& msg, int64_t win, const std::string& winMsg) {
      reports_.push_back({kind, msg, win, winMsg});
    };
  }
  std::vector<serial::TComExceptions> ReportedKinds() const {
    std::vector<serial::TComExceptions> kinds;
    for (const auto& r : reports_) kinds.push_back(r.kind);
    return kinds;
  }

  std::vector<Report> reports_;

 private:
  serial::DeviceFactory previous_;
  std::unique_ptr<serial::TComPort> port_;
};
