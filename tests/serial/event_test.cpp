// The event thread on real pseudo-terminals: arrivals as an edge, the three
// hand-over methods, links, WaitForEvent, a far end that hangs up.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "test_support.h"
#include "thread_stats.h"
#include "serial/com_thread.h"
#include "serial/comport.h"

using namespace serial;
using Bytes = std::vector<uint8_t>;

namespace {

bool Readable(int fd, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1;
}

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_.SetPort(pty_.slave());
  }
  // Waits for a hand-over and runs what is queued; false when none came.
  bool PumpOnce(int timeoutMs = 2000) {
    if (!Readable(port_.PendingEventsHandle(), timeoutMs)) return false;
    return port_.ProcessPendingEvents() > 0;
  }
  void CountRxChar() {
    port_.OnRxChar = [this](TCustomComPort*, int32_t count) {
      rxChar_.push_back(count);
      handlerThread_ = std::this_thread::get_id();
    };
  }
  void CollectRxBuf() {
    port_.OnRxBuf = [this](TCustomComPort*, const uint8_t* buffer, int32_t count) {
      rxBuf_.push_back(Bytes(buffer, buffer + count));
    };
  }

  PtyPair pty_;
  TComPort port_;
  std::vector<int32_t> rxChar_;
  std::vector<Bytes> rxBuf_;
  std::thread::id handlerThread_;
};

TEST(EventMask, EventsAndPlatformBitsMapBothWays) {
  EXPECT_EQ(EventsToInt(AllComEvents), 0x05FFu);
  EXPECT_EQ(EventsToInt(EventBit(evRxFlag)), 0x0002u);
  EXPECT_EQ(EventsToInt(EventBit(evTxEmpty)), 0x0004u);
  EXPECT_EQ(EventsToInt(EventBit(evRx80Full)), 0x0400u);
  for (int e = 0; e < 10; ++e) {
    const TComEvents one = EventBit(static_cast<TComEvent>(e));
    EXPECT_EQ(IntToEvents(EventsToInt(one)), one) << e;
  }
  EXPECT_EQ(IntToEvents(0x0200), 0);  // not one of the ten
}

TEST_F(Events, ThreeBytesGiveOneRxCharAndStayUnread) {
  CountRxChar();
  port_.Open();
  ASSERT_TRUE(port_.ThreadCreated());
  pty_.Send({1, 2, 3});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(rxChar_, std::vector<int32_t>{3});
  EXPECT_EQ(handlerThread_, std::this_thread::get_id());
  EXPECT_EQ(port_.InputCount(), 3);
  // Unread bytes are no new arrival.
  EXPECT_FALSE(Readable(port_.PendingEventsHandle(), 200));
  // Once the owner has read, the next arrival is reported again.
  uint8_t buffer[8];
  EXPECT_EQ(port_.Read(buffer, 8), 3);
  pty_.Send({4});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(rxChar_, (std::vector<int32_t>{3, 1}));
}

TEST_F(Events, WithoutTriggerTheComponentReadsAndHandsTheBytes) {
  port_.SetTriggersOnRxChar(false);
  CountRxChar();
  CollectRxBuf();
  port_.Open();
  pty_.Send({7, 8, 9});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(rxBuf_, std::vector<Bytes>{Bytes({7, 8, 9})});
  EXPECT_TRUE(rxChar_.empty());
  EXPECT_EQ(port_.InputCount(), 0);
  // The read re-armed the arrival watch by itself.
  pty_.Send({10});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(rxBuf_.back(), Bytes{10});
}

TEST_F(Events, LinkWithRxBufTakesTheDataEvenWithTrigger) {
  CountRxChar();
  CollectRxBuf();
  TComLink link;
  std::vector<Bytes> linkBuf;
  std::vector<bool> linkRx;
  link.OnRxBuf = [&](TCustomComPort*, const uint8_t* b, int32_t n) { linkBuf.push_back(Bytes(b, b + n)); };
  link.OnRx = [&](TCustomComPort*, bool on) { linkRx.push_back(on); };
  port_.RegisterLink(&link);
  EXPECT_TRUE(port_.HasLink());
  EXPECT_FALSE(port_.TriggersOnRxChar());
  port_.Open();
  pty_.Send({5, 6});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(rxBuf_, std::vector<Bytes>{Bytes({5, 6})});
  EXPECT_EQ(linkBuf, std::vector<Bytes>{Bytes({5, 6})});
  EXPECT_TRUE(rxChar_.empty());
  // OnRx(true) from the dispatch, OnRx(false) from its read that emptied the queue.
  EXPECT_EQ(linkRx, (std::vector<bool>{true, false}));
  port_.Close();
  port_.UnRegisterLink(&link);
  EXPECT_FALSE(port_.HasLink());
}

TEST_F(Events, EventCharacterIsSeenInBytesTheComponentReads) {
  port_.SetTriggersOnRxChar(false);
  port_.SetEventChar(u'\r');
  int flags = 0;
  port_.OnRxFlag = [&](TCustomComPort*) { ++flags; };
  CollectRxBuf();
  port_.Open();
  pty_.Send({'a', 'b'});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(flags, 0);
  pty_.Send({'c', '\r'});
  ASSERT_TRUE(PumpOnce());
  EXPECT_EQ(flags, 1);
}

TEST_F(Events, UnreadBytesCostTheThreadNothing) {
  port_.SetSyncMethod(smNone);
  std::atomic<int> calls{0};
  std::atomic<pid_t> tid{0};
  port_.OnRxChar = [&](TCustomComPort*, int32_t) {
    tid = ::gettid();
    ++calls;
  };
  port_.Open();
  pty_.Send({1, 2, 3, 4});
  ASSERT_TRUE(WaitUntil([&] { return tid != 0; }));
  EXPECT_NE(tid.load(), ::gettid());
  const ThreadStats before = StatsOfThread(tid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const ThreadStats after = StatsOfThread(tid);
  // A spinning thread would use the whole second, a 1 ms tick ~1000 wake-ups.
  EXPECT_LT(after.cpuNs - before.cpuNs, 20'000'000);
  EXPECT_LE(after.wakeUps - before.wakeUps, 2);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(port_.InputCount(), 4);
}

TEST_F(Events, NoneRunsHandlersInTheEventThread) {
  port_.SetSyncMethod(smNone);
  std::atomic<bool> done{false};
  std::thread::id where;
  port_.OnRxChar = [&](TCustomComPort*, int32_t) {
    where = std::this_thread::get_id();
    done = true;
  };
  port_.Open();
  pty_.Send({1});
  ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
  EXPECT_NE(where, std::this_thread::get_id());
  EXPECT_FALSE(Readable(port_.PendingEventsHandle(), 0));
}

// In a handler, the owner reads (re-arming) and more bytes arrive: only a
// sender released at pick-up can hand over the next event meanwhile.
struct HandOvers {
  bool first = false;      // the first arrival reached the owner at all
  bool meanwhile = false;  // the second was handed over while the first ran
  bool second = false;     // the second reached the owner in the end
};

// `meanwhileMs`: how long the handler waits for the second hand-over.
HandOvers NextEventWhileHandlerRuns(TSyncMethod method, int meanwhileMs) {
  PtyPair pty;
  TComPort port;
  port.SetPort(pty.slave());
  port.SetSyncMethod(method);
  HandOvers seen;
  int calls = 0;
  port.OnRxChar = [&](TCustomComPort* p, int32_t) {
    if (++calls > 1) return;
    uint8_t buffer[16];
    p->Read(buffer, sizeof buffer);
    pty.Send({2});
    seen.meanwhile = Readable(p->PendingEventsHandle(), meanwhileMs);
  };
  port.Open();
  pty.Send({1});
  seen.first = Readable(port.PendingEventsHandle(), 2000);
  if (!seen.first) return seen;
  port.ProcessPendingEvents();
  for (int i = 0; i < 20 && calls < 2; ++i)
    if (Readable(port.PendingEventsHandle(), 100)) port.ProcessPendingEvents();
  seen.second = calls >= 2;
  return seen;
}

TEST(EventSync, WindowSyncReleasesTheSenderAtPickUp) {
  const HandOvers seen = NextEventWhileHandlerRuns(smWindowSync, kSanityMs);
  EXPECT_TRUE(seen.first);
  EXPECT_TRUE(seen.meanwhile);
  EXPECT_TRUE(seen.second);
}

TEST(EventSync, ThreadSyncWaitsForTheWholeBatch) {
  const HandOvers seen = NextEventWhileHandlerRuns(smThreadSync, 300);
  EXPECT_TRUE(seen.first);
  EXPECT_FALSE(seen.meanwhile);
  EXPECT_TRUE(seen.second);  // handed over once the batch was done
}

TEST_F(Events, DispatcherPostsToTheOwnersLoop) {
  std::vector<std::function<void()>> loop;
  std::mutex lock;
  port_.SetDispatcher(std::make_shared<QueuedDispatcher>([&](std::function<void()> pump) {
    std::lock_guard<std::mutex> hold(lock);
    loop.push_back(std::move(pump));
  }));
  CountRxChar();
  port_.Open();
  pty_.Send({1, 2});
  std::function<void()> next;
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> hold(lock);
    if (!loop.empty()) next = loop.front();
    return static_cast<bool>(next);
  }));
  next();
  EXPECT_EQ(rxChar_, std::vector<int32_t>{2});
  next();  // a second call finds nothing
  EXPECT_EQ(rxChar_.size(), 1u);
  port_.Close();
}

TEST_F(Events, LatePumpAfterThePortIsGoneDoesNothing) {
  std::function<void()> late;
  std::atomic<bool> posted{false};
  {
    TComPort port;
    port.SetPort(pty_.slave());
    port.SetDispatcher(std::make_shared<QueuedDispatcher>([&](std::function<void()> pump) {
      late = std::move(pump);
      posted = true;
    }));
    port.OnRxChar = [&](TCustomComPort*, int32_t) { ADD_FAILURE() << "ran after destruction"; };
    port.Open();
    pty_.Send({1});
    ASSERT_TRUE(WaitUntil([&] { return posted.load(); }));
    port.OnRxChar = nullptr;  // Close serves the hand-over itself
  }
  late();
}

TEST_F(Events, CloseServesAPendingHandOverPromptly) {
  CountRxChar();
  port_.Open();
  pty_.Send({1, 2, 3});
  ASSERT_TRUE(Readable(port_.PendingEventsHandle(), 2000));
  const int64_t start = SteadyMs();
  port_.Close();
  EXPECT_LT(SteadyMs() - start, kSanityMs);  // a hand-over left waiting would hold it
  EXPECT_EQ(rxChar_, std::vector<int32_t>{3});
  EXPECT_FALSE(port_.ThreadCreated());
}

TEST_F(Events, HandlerMayCloseThePort) {
  for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.slave());
    port.SetSyncMethod(method);
    std::atomic<bool> closed{false};
    port.OnRxChar = [&](TCustomComPort* p, int32_t) {
      p->Close();
      closed = true;
    };
    port.Open();
    pty.Send({1});
    if (method == smNone)
      WaitUntil([&] { return closed.load(); });
    else
      while (!closed && Readable(port.PendingEventsHandle(), kSanityMs)) port.ProcessPendingEvents();
    EXPECT_TRUE(closed) << method;
    EXPECT_FALSE(port.Connected()) << method;
  }
}

TEST_F(Events, ExceptionInAnEventThreadHandlerGoesToTheDispatcher) {
  struct Recorder : TOwnerDispatcher {
    std::atomic<int> caught{0};
    void Wake(std::function<void()>) override {}
    void HandleException(std::exception_ptr) override { ++caught; }
  };
  auto recorder = std::make_shared<Recorder>();
  port_.SetDispatcher(recorder);
  port_.SetSyncMethod(smNone);
  port_.SetTriggersOnRxChar(false);
  port_.OnRxBuf = [](TCustomComPort*, const uint8_t*, int32_t) { throw std::runtime_error("boom"); };
  port_.Open();
  pty_.Send({1});
  EXPECT_TRUE(WaitUntil([&] { return recorder->caught >= 1; }));
  EXPECT_EQ(recorder->caught, 1);
  pty_.Send({2});  // the thread goes on
  EXPECT_TRUE(WaitUntil([&] { return recorder->caught >= 2; }));
  EXPECT_EQ(recorder->caught, 2);
}

TEST_F(Events, ExceptionInAHandOverGoesToTheDispatcherOrTheOwner) {
  struct Recorder : TOwnerDispatcher {
    int caught = 0;
    void Wake(std::function<void()>) override {}
    void HandleException(std::exception_ptr) override { ++caught; }
  };
  for (TSyncMethod method : {smWindowSync, smThreadSync}) {
    PtyPair pty;
    TComPort port;
    auto recorder = std::make_shared<Recorder>();
    port.SetDispatcher(recorder);
    port.SetPort(pty.slave());
    port.SetSyncMethod(method);
    port.OnRxChar = [](TCustomComPort*, int32_t) { throw std::runtime_error("boom"); };
    port.Open();
    pty.Send({1});
    ASSERT_TRUE(Readable(port.PendingEventsHandle(), 2000));
    bool escaped = false;
    try {
      port.ProcessPendingEvents();
    } catch (const std::runtime_error&) {
      escaped = true;
    }
    // Window hand-overs catch it; a thread-sync batch leaves it to the owner.
    EXPECT_EQ(escaped, method == smThreadSync) << method;
    EXPECT_EQ(recorder->caught, method == smWindowSync ? 1 : 0) << method;
    port.Close();
  }
}

TEST_F(Events, WaitForEventNeedsNoThread) {
  port_.Open();
  TComEvents events = AllComEvents;
  EXPECT_EQ(RaisedBy([&] { port_.WaitForEvent(events, 0, 50); }),
            (Raised{CError_ThreadCreated, -1, "Cannot wait for event if event thread is created"}));
  port_.Close();
  port_.SetEvents(0);
  port_.Open();
  ASSERT_FALSE(port_.ThreadCreated());
  events = AllComEvents;
  const int64_t start = SteadyMs();
  port_.WaitForEvent(events, 0, 50);
  const int64_t took = SteadyMs() - start;
  EXPECT_EQ(events, 0);
  EXPECT_GE(took, 45);
  EXPECT_LT(took, kSanityMs);
  pty_.Send({1});
  events = EventBit(evRxChar);
  port_.WaitForEvent(events, 0, 2000);
  EXPECT_EQ(events, EventBit(evRxChar));
}

TEST_F(Events, WaitForEventEndsOnTheStopDescriptor) {
  port_.SetEvents(0);
  port_.Open();
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    [[maybe_unused]] ssize_t n = ::write(stop[1], "x", 1);
  });
  TComEvents events = EventBit(evRxChar);
  const int64_t start = SteadyMs();
  port_.WaitForEvent(events, stop[0], WaitInfinite);
  stopper.join();
  EXPECT_EQ(events, 0);
  EXPECT_LT(SteadyMs() - start, kSanityMs);
  ::close(stop[0]);
  ::close(stop[1]);
}

TEST_F(Events, LinkRegistrationErrors) {
  TComLink link;
  int conns = 0;
  link.OnConn = [&](TCustomComPort*, bool) { ++conns; };
  port_.RegisterLink(&link);
  const Raised twice{CError_RegFailed, -1, "Link (un)registration failed"};
  EXPECT_EQ(RaisedBy([&] { port_.RegisterLink(&link); }), twice);
  port_.Open();
  port_.Close();
  EXPECT_EQ(conns, 2);  // one entry: told once at open, once at close
  port_.UnRegisterLink(&link);
  EXPECT_EQ(RaisedBy([&] { port_.UnRegisterLink(&link); }), twice);
  TComLink never;
  EXPECT_EQ(RaisedBy([&] { port_.UnRegisterLink(&never); }), twice);
}

TEST_F(Events, LinksFollowWritesAndSignals) {
  TComLink link;
  std::vector<std::string> log;
  link.OnTx = [&](TCustomComPort*, bool on) { log.push_back("tx " + std::to_string(on)); };
  link.OnTxBuf = [&](TCustomComPort*, const uint8_t*, int32_t n) { log.push_back("txbuf " + std::to_string(n)); };
  link.OnCTSChange = [&](TCustomComPort*, bool on) { log.push_back("cts " + std::to_string(on)); };
  link.OnTxEmpty = [&](TCustomComPort*) { log.push_back("txempty"); };
  port_.RegisterLink(&link);
  port_.Open();
  ASSERT_EQ(port_.Write("abc", 3), 3);
  ASSERT_TRUE(PumpOnce());  // the write's drain: evTxEmpty
  port_.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"cts 0", "tx 1", "txbuf 3", "tx 0", "txempty", "cts 0"}));
}

TEST_F(Events, FarEndHangUpLeavesTheThreadQuiet) {
  std::vector<TComExceptions> faults;
  port_.OnException = [&](TCustomComPort*, TComExceptions kind, const std::string&, int64_t,
                          const std::string&) { faults.push_back(kind); };
  port_.SetSyncMethod(smNone);
  port_.Open();
  ASSERT_TRUE(WaitUntil([] { return ThreadsNamedAsleep(kEventThreadName); }));
  const ThreadStats before = StatsOfThreadsNamed(kEventThreadName);
  pty_.HangUp();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const ThreadStats after = StatsOfThreadsNamed(kEventThreadName);
  EXPECT_LT(after.cpuNs - before.cpuNs, 20'000'000);
  EXPECT_LE(after.wakeUps - before.wakeUps, 3);
  uint8_t buffer[4];
  port_.Read(buffer, 4);
  EXPECT_EQ(faults, std::vector<TComExceptions>{CE_ReadFailed});
  const int64_t start = SteadyMs();
  port_.Close();
  EXPECT_LT(SteadyMs() - start, kSanityMs);
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(port_.ThreadCreated());
}

TEST_F(Events, CloseAfterHangUpWithAHandOverPendingRaisesNothing) {
  CountRxChar();
  port_.Open();
  pty_.Send({1, 2});
  ASSERT_TRUE(Readable(port_.PendingEventsHandle(), 2000));
  pty_.HangUp();
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(port_.Close());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(port_.Connected());
}

TEST_F(Events, OpenWithoutDescriptorsForTheThreadLeavesThePortClosed) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' own checks need descriptors";
#endif
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The device gets the lowest free descriptor, the thread's none.
    const int next = ::dup(0);
    ::close(next);
    const struct rlimit limit = {static_cast<rlim_t>(next + 1), static_cast<rlim_t>(next + 1)};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    bool refused = false;
    try {
      port_.Open();
    } catch (const std::system_error&) {
      refused = true;
    }
    ::_exit(refused && !port_.Connected() && !port_.ThreadCreated() && port_.Handle() < 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Events, ThreadOnADeviceThatFailedToOpenWaitsQuietly) {
  int faults = 0;
  port_.OnException = [&](TCustomComPort*, TComExceptions, const std::string&, int64_t,
                          const std::string&) { ++faults; };
  port_.SetPort("/dev/zuv-no-such-device");
  port_.Open();
  EXPECT_TRUE(port_.Connected());
  EXPECT_TRUE(port_.ThreadCreated());
  EXPECT_GE(faults, 1);
  ASSERT_TRUE(WaitUntil([] { return ThreadsNamedAsleep(kEventThreadName); }));
  const ThreadStats before = StatsOfThreadsNamed(kEventThreadName);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const ThreadStats after = StatsOfThreadsNamed(kEventThreadName);
  EXPECT_LT(after.cpuNs - before.cpuNs, 20'000'000);
  EXPECT_LE(after.wakeUps - before.wakeUps, 2);
  port_.Close();
  EXPECT_FALSE(port_.ThreadCreated());
}

TEST_F(Events, OwnerReadsAStreamWhileTheThreadDispatches) {
  // smNone: the thread's status queries run beside the owner's reads.
  port_.SetSyncMethod(smNone);
  port_.OnRxChar = [&](TCustomComPort* p, int32_t) { p->LastErrors(); };
  port_.Timeouts().SetReadTotalConstant(2000);
  port_.Timeouts().SetReadInterval(0);
  port_.Open();
  Bytes sent;
  for (int i = 0; i < 3000; ++i) sent.push_back(static_cast<uint8_t>(i * 7));
  std::thread far([&] {
    for (size_t at = 0; at < sent.size(); at += 100) {
      pty_.Send(Bytes(sent.begin() + at, sent.begin() + std::min(at + 100, sent.size())));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  Bytes got(sent.size());
  size_t have = 0;
  while (have < got.size()) {
    const int32_t n = port_.Read(got.data() + have, static_cast<int32_t>(got.size() - have));
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  far.join();
  // Whether the thread saw an arrival before the owner took it is a race;
  // what matters is that it never took a byte.
  EXPECT_EQ(got, sent);
}

}  // namespace
