// A driver with its port open on an in-memory device whose clock drives the
// reply budget, so time-outs cost no real time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "diagnostics/log_sink.h"
#include "driver/comportzuv.h"
#include "testing/memory_device.h"

using Bytes = std::vector<uint8_t>;

class DriverTest : public ::testing::Test {
 public:
  static uint16_t Checksum(const Bytes& bytes, size_t from, size_t to);  // sum of [from, to)

 protected:
  void SetUp() override;
  void TearDown() override;

  serial::MemoryDevice& dev();

  // After every request frame written (not the lone 0x40), queue these chunks.
  void ReplyAlways(std::vector<Bytes> chunks);
  // The i-th request frame gets replies[i]; later frames get nothing.
  void ReplySequence(std::vector<std::vector<Bytes>> replies);
  std::vector<Bytes> Frames() const;  // request frames, lone 0x40 writes excluded
  int ClosingBytes() const;           // number of lone 0x40 writes

  static Bytes ShortReply(uint8_t cmd, Bytes data);  // 06 02 n cmd data ckH ckL
  static Bytes LongReply(uint8_t cmd, Bytes data);   // 06 03 nL nH cmd data ckH ckL
  static Bytes ErrorReply(uint8_t code);             // 06 02 02 7F code ckH ckL
  static Bytes ShortFrame(uint8_t cmd, Bytes data);  // a request as the host frames it
  static Bytes LongFrame(uint8_t cmd, Bytes data, bool printer);

  diag::RecordingSink sink;
  serial::MemoryDevice* device = nullptr;  // device of the newest port created
  std::vector<std::vector<Bytes>> sequence;
  size_t framesSeen = 0;
  std::vector<Bytes> always;
  bool useSequence = false;
  int openErrorForNewDevices = 0;  // errno the next devices fail to open with
};

// Sets the TZ variable (nullptr removes it) and makes the C library read it.
void SetZone(const char* zone);
