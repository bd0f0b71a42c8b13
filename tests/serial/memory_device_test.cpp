// The in-memory device's own contract, which driver tests rely on.
#include <gtest/gtest.h>

#include <cerrno>

#include "testing/memory_device.h"

using namespace serial;
using Bytes = std::vector<uint8_t>;

namespace {
size_t Visible(MemoryDevice& d) {
  TComStat stat;
  EXPECT_EQ(d.ClearCommError(stat), 0);
  return stat.InQueue;
}
Bytes ReadAll(MemoryDevice& d) {
  Bytes buf(64);
  size_t got = 0;
  EXPECT_EQ(d.ReadSome(buf.data(), buf.size(), got), 0);
  buf.resize(got);
  return buf;
}
}  // namespace

TEST(MemoryDevice, OneDueChunkPerStatusQueryOnceTheLastIsRead) {
  MemoryDevice d;
  ASSERT_EQ(d.Open("/dev/x"), 0);
  d.QueueChunk({1, 2});
  d.QueueChunk({});
  d.QueueChunk({3});
  EXPECT_EQ(Visible(d), 2u);
  EXPECT_EQ(Visible(d), 2u);  // still unread: nothing new shows
  EXPECT_EQ(ReadAll(d), (Bytes{1, 2}));
  EXPECT_EQ(Visible(d), 0u);  // the empty chunk
  EXPECT_EQ(d.QueuedChunks(), 1u);
  EXPECT_EQ(Visible(d), 1u);
  EXPECT_EQ(d.statusQueries, 4);
}

TEST(MemoryDevice, ChunksAreDueRelativeToThePreviousOne) {
  MemoryDevice d;
  ASSERT_EQ(d.Open("/dev/x"), 0);
  d.Advance(1000);
  d.QueueChunk({1}, 100);
  d.QueueChunk({2}, 50);
  bool ready = false;
  EXPECT_EQ(d.WaitReadable(30, ready), 0);
  EXPECT_FALSE(ready);
  EXPECT_EQ(d.NowMs(), 1030);
  EXPECT_EQ(d.WaitReadable(500, ready), 0);
  EXPECT_TRUE(ready);
  EXPECT_EQ(d.NowMs(), 1100);
  EXPECT_EQ(ReadAll(d), Bytes{1});
  EXPECT_EQ(d.WaitReadable(500, ready), 0);
  EXPECT_EQ(d.NowMs(), 1150);
  EXPECT_EQ(ReadAll(d), Bytes{2});
  // Nothing queued: the whole wait passes.
  EXPECT_EQ(d.WaitReadable(70, ready), 0);
  EXPECT_FALSE(ready);
  EXPECT_EQ(d.NowMs(), 1220);
}

TEST(MemoryDevice, WritesAreRecordedAndMayQueueReplies) {
  MemoryDevice d;
  ASSERT_EQ(d.Open("/dev/x"), 0);
  d.OnWrite = [](MemoryDevice& dev, const Bytes& bytes) {
    if (bytes == Bytes{0x40}) dev.QueueChunk({0x06}, 5);
  };
  const uint8_t a[] = {1, 2}, b[] = {0x40};
  size_t sent = 0;
  EXPECT_EQ(d.WriteSome(a, 2, sent), 0);
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(d.WriteSome(b, 1, sent), 0);
  EXPECT_EQ(d.Writes(), (std::vector<Bytes>{{1, 2}, {0x40}}));
  EXPECT_EQ(d.AllWritten(), (Bytes{1, 2, 0x40}));
  EXPECT_EQ(d.QueuedChunks(), 1u);
  d.ClearWrites();
  EXPECT_TRUE(d.Writes().empty());
}
