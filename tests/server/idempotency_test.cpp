// An Idempotency-Key binds a request to one job: repeats, also after a
// restart and also at the same moment, send nothing more.
#include <latch>

#include "commands/catalogue.h"

#include "service_fixture.h"

namespace srvtest {
namespace {

constexpr const char* kPayBody = R"({"type":"cash","amount":"300.00"})";

Headers Key(const std::string& key) { return {{"Idempotency-Key", key}}; }

TEST_F(ServiceTest, RepeatWithTheSameKeyReturnsTheJobWithoutSending) {
  auto first = Post("/v1/printers/a/beep", "{}", Key("sale-17"));
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200) << first->body;
  ASSERT_EQ(Printer().RequestsOnceAt(1), 1u);
  auto repeat = Post("/v1/printers/a/beep", "{}", Key("sale-17"));
  ASSERT_TRUE(repeat);
  EXPECT_EQ(repeat->status, 200);
  EXPECT_EQ(BodyOf(repeat)["id"], BodyOf(first)["id"]);
  EXPECT_EQ(BodyOf(repeat)["state"], "done");
  EXPECT_EQ(repeat->get_header_value("Idempotent-Replayed"), "true");
  EXPECT_EQ(Printer().Requests(), 1u);
  // Another key is another job, also one that would decode to the same.
  auto other = Post("/v1/printers/a/beep", "{}", Key("sale-18"));
  ASSERT_TRUE(other);
  EXPECT_NE(BodyOf(other)["id"], BodyOf(first)["id"]);
  auto encoded = Post("/v1/printers/a/beep", "{}", Key("sale%2D17"));
  ASSERT_TRUE(encoded);
  EXPECT_NE(BodyOf(encoded)["id"], BodyOf(first)["id"]);
  EXPECT_FALSE(encoded->has_header("Idempotent-Replayed"));
  EXPECT_EQ(Printer().Requests(), 3u);
}

TEST_F(ServiceTest, TheSameKeyWithAnotherRequestIsAConflict) {
  const std::string body = R"({"lines":["one"]})";
  const Json first = BodyOf(Post("/v1/printers/a/nonfiscal", body, Key("k-1")));
  ASSERT_GT(first.value("id", int64_t(0)), 0) << first;
  const size_t sent = Printer().RequestsOnceAt(1);
  const std::vector<std::pair<std::string, std::string>> others{
      {"/v1/printers/a/nonfiscal", R"({"lines":["two"]})"},  // another body
      {"/v1/printers/a/beep", "{}"},                          // another command
  };
  for (const auto& [path, other] : others) {
    auto result = Post(path, other, Key("k-1"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 409) << path;
    EXPECT_EQ(BodyOf(result)["error"]["kind"], "conflict");
  }
  auto same = Post("/v1/printers/a/nonfiscal", body, Key("k-1"));
  ASSERT_TRUE(same);
  EXPECT_EQ(BodyOf(same)["id"], first["id"]);
  EXPECT_EQ(Printer().Requests(), sent);
}

TEST_F(ServiceTest, ConcurrentRequestsWithOneKeyMakeOneJob) {
  constexpr int kClients = 8;
  std::vector<std::thread> clients;
  std::vector<int64_t> ids(kClients, 0);
  std::vector<int> codes(kClients, 0);
  std::latch go(1);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      auto client = ClientFor(Port());
      go.wait();
      auto result = client->Post("/v1/printers/a/pay", WithToken(Key("till-1-sale-99")), kPayBody,
                                 "application/json");
      if (!result) return;
      codes[i] = result->status;
      ids[i] = BodyOf(result).value("id", int64_t(0));
    });
  }
  go.count_down();
  for (std::thread& t : clients) t.join();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(codes[i], 200) << i;
    EXPECT_EQ(ids[i], ids[0]) << i;
  }
  EXPECT_GT(ids[0], 0);
  EXPECT_EQ(Jobs().List(std::nullopt, std::nullopt, 100).size(), 1u);
  // One payment reached the printer (and the counter reads before it).
  const auto payments = Printer().Emu([](emu::PrinterEmulator& e) {
    const uint8_t pay = uint8_t(zuvcmd::FindCommand("pay")->printerCommand);
    size_t n = 0;
    for (const auto& request : e.Requests()) n += request.command == pay;
    return n;
  });
  EXPECT_EQ(payments, 1u);
}

TEST_F(ServiceTest, RepeatAfterARestartReturnsTheJournalledJob) {
  const Json first = BodyOf(Post("/v1/printers/a/beep", "{}", Key("before-restart")));
  ASSERT_EQ(first["state"], "done") << first;
  const size_t sent = Printer().RequestsOnceAt(1);
  Restart();
  auto repeat = Post("/v1/printers/a/beep", "{}", Key("before-restart"));
  ASSERT_TRUE(repeat);
  EXPECT_EQ(repeat->status, 200);
  EXPECT_EQ(BodyOf(repeat)["id"], first["id"]);
  EXPECT_EQ(BodyOf(repeat)["state"], "done");
  EXPECT_EQ(Printer().Requests(), sent);
}

}  // namespace
}  // namespace srvtest
