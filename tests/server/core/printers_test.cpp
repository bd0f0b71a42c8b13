// Printers side by side: each has its own worker, so a silent printer holds
// up nobody else, and under load every accepted job is accounted for.
#include <set>
#include <thread>

#include "service_fixture.h"

namespace zuvsrv::testing {
namespace {

TEST_F(ServiceTest, ASilentPrinterDoesNotDelayAnother) {
  AddPrinter("a");
  AddPrinter("silent");
  Emu(1, [](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  StartService();
  std::vector<int64_t> stuck;
  for (int i = 0; i < 5; ++i)
    stuck.push_back(service->Submit("silent", Request("beep"), std::nullopt).job.id);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Run("a", "beep").state, JobState::Done);
  // Each silent job waits out the reply budget: most are still waiting.
  EXPECT_FALSE(IsFinal(service->Get(stuck.back())->state));
  EXPECT_EQ(Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 20);
  for (int64_t id : stuck) EXPECT_EQ(service->WaitSettled(id, kSettleWait)->state, JobState::Failed);
  EXPECT_EQ(Emu(1, [](emu::PrinterEmulator& e) { return e.Beeps(); }), 0);
}

TEST_F(ServiceTest, EveryJobUnderLoadIsAccountedFor) {
  constexpr int kThreads = 20, kJobsPerThread = 100;
  AddPrinter("a");
  AddPrinter("b");
  StartService();
  std::vector<std::vector<int64_t>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kJobsPerThread; ++i)
        ids[t].push_back(service->Submit((t + i) % 2 ? "a" : "b", Request("beep"),
                                         "load-" + std::to_string(t) + "-" + std::to_string(i))
                             .job.id);
    });
  for (auto& thread : threads) thread.join();
  std::set<int64_t> distinct;
  for (const auto& list : ids)
    for (int64_t id : list) {
      distinct.insert(id);
      const auto job = service->WaitSettled(id, kSettleWait);
      ASSERT_TRUE(job);
      EXPECT_TRUE(IsFinal(job->state)) << id;
    }
  EXPECT_EQ(distinct.size(), size_t(kThreads * kJobsPerThread));
  EXPECT_EQ(service->List(std::nullopt, std::nullopt, 10000).size(), distinct.size());
  const auto metrics = service->Metrics();
  const int64_t done = metrics.jobs.at("a").at("done") + metrics.jobs.at("b").at("done");
  EXPECT_EQ(done, kThreads * kJobsPerThread);
  const int beeps = Emu(0, [](emu::PrinterEmulator& e) { return e.Beeps(); }) +
                    Emu(1, [](emu::PrinterEmulator& e) { return e.Beeps(); });
  EXPECT_EQ(beeps, done);
  EXPECT_EQ(Requests(0) + Requests(1), distinct.size());
}

}  // namespace
}  // namespace zuvsrv::testing
