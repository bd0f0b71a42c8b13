// Every route over loopback HTTP against an emulated printer: what it
// answers, and that requests it refuses never reach the printer.
#include <netinet/in.h>
#include <sys/socket.h>

#include "service_fixture.h"

namespace srvtest {
namespace {

constexpr uint8_t kPrinterErrorCode = 5;

int64_t IdOf(const Json& job) { return job.value("id", int64_t(0)); }

TEST_F(ServiceTest, HealthAndDocumentNeedNoToken) {
  auto health = Client().Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(BodyOf(health)["ok"], true);
  auto document = Client().Get("/v1/openapi.json");
  ASSERT_TRUE(document);
  EXPECT_EQ(document->status, 200);
  EXPECT_EQ(BodyOf(document)["openapi"].get<std::string>().substr(0, 2), "3.");
}

TEST_F(ServiceTest, PrintersListsEachWithStateAndQueue) {
  auto result = Get("/v1/printers");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200);
  const Json printers = BodyOf(result)["printers"];
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0]["id"], "a");
  EXPECT_EQ(printers[0]["port"], Printer().Port());
  EXPECT_NE(printers[0]["state"], "offline");
}

TEST_F(ServiceTest, MissingOrWrongTokenIsRefusedAndNothingReachesThePrinter) {
  const std::vector<Headers> refused{
      {},
      {{"Authorization", "Bearer wrong-token"}},
      {{"Authorization", std::string("Bearer ") + kToken + "x"}},
      {{"Authorization", std::string("Basic ") + kToken}},
      {{"Authorization", "Bearer "}},
  };
  for (const Headers& headers : refused) {
    auto submit = Client().Post("/v1/printers/a/beep", headers, "{}", "application/json");
    ASSERT_TRUE(submit);
    EXPECT_EQ(submit->status, 401);
    EXPECT_EQ(BodyOf(submit)["error"]["kind"], "auth");
    for (const char* path : {"/v1/printers", "/v1/jobs", "/v1/jobs/1", "/v1/events"}) {
      auto read = Client().Get(path, headers);
      ASSERT_TRUE(read);
      EXPECT_EQ(read->status, 401) << path;
    }
  }
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

TEST_F(ServiceTest, SynchronousTestAnswersTheFinishedJob) {
  auto result = Post("/v1/printers/a/test");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200) << result->body;
  const Json job = BodyOf(result);
  EXPECT_EQ(job["state"], "done");
  EXPECT_EQ(job["printer"], "a");
  EXPECT_EQ(job["command"], "test");
  EXPECT_TRUE(job["result"].is_object());
  EXPECT_EQ(result->get_header_value("Location"), "/v1/jobs/" + std::to_string(IdOf(job)));
  EXPECT_EQ(Printer().Requests(), 1u);
  // The journal tells the same afterwards.
  const Json again = BodyOf(Get("/v1/jobs/" + std::to_string(IdOf(job))));
  EXPECT_EQ(again["state"], "done");
  EXPECT_EQ(again["id"], job["id"]);
}

TEST_F(ServiceTest, AsynchronousRequestAnswers202AndThePollShowsTheOutcome) {
  Printer().Emu([](emu::PrinterEmulator& e) { e.SetReplyDelay(emu::Millis(800)); });
  auto result = Post("/v1/printers/a/beep?wait=0");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 202) << result->body;
  const Json job = BodyOf(result);
  EXPECT_TRUE(job["state"] == "queued" || job["state"] == "running") << job;
  const std::string location = result->get_header_value("Location");
  ASSERT_EQ(location, "/v1/jobs/" + std::to_string(IdOf(job)));
  Jobs().WaitSettled(IdOf(job), 60s);
  auto polled = Get(location);
  ASSERT_TRUE(polled);
  EXPECT_EQ(polled->status, 200);
  EXPECT_EQ(BodyOf(polled)["state"], "done");
}

TEST_F(ServiceTest, PrinterErrorReplyMakesAFailedJobWithTheError) {
  Printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(kPrinterErrorCode); });
  auto result = Post("/v1/printers/a/beep");
  ASSERT_TRUE(result);
  // The request was fine: the job's state carries the outcome.
  ASSERT_EQ(result->status, 200) << result->body;
  const Json job = BodyOf(result);
  EXPECT_EQ(job["state"], "failed");
  EXPECT_TRUE(job["error"].is_object()) << job;
  EXPECT_FALSE(job["error"].value("message", "").empty()) << job;
}

TEST_F(ServiceTest, LostReplyAfterTheAckIsInDoubtUntilAPersonResolvesIt) {
  Printer().Emu([](emu::PrinterEmulator& e) { e.InjectAckThenSilence(1); });
  auto result = Post("/v1/printers/a/beep");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200) << result->body;
  const Json job = BodyOf(result);
  ASSERT_EQ(job["state"], "in-doubt") << job;
  const std::string resolve = "/v1/jobs/" + std::to_string(IdOf(job)) + "/resolve";

  auto bad = Post(resolve, R"({"outcome":"maybe"})");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_EQ(BodyOf(bad)["error"]["field"], "outcome");

  auto resolved = Post(resolve, R"({"outcome":"not-done","note":"no beep heard"})");
  ASSERT_TRUE(resolved);
  ASSERT_EQ(resolved->status, 200) << resolved->body;
  const Json settled = BodyOf(resolved);
  EXPECT_EQ(settled["state"], "not-done");
  EXPECT_EQ(settled["settled_by"], "person");
  // The lost reply is what left it in doubt: the cause, kept as the error of
  // a job that was not done.
  EXPECT_EQ(settled["settlement"]["cause"], job["error"]) << settled;
  EXPECT_EQ(settled["error"], job["error"]);
  EXPECT_EQ(settled["settlement"]["note"], "no beep heard");
  EXPECT_TRUE(settled["settled_at"].is_string()) << settled;
  EXPECT_EQ(job["settled_at"], nullptr);

  auto twice = Post(resolve, R"({"outcome":"done"})");
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->status, 409);
  EXPECT_EQ(BodyOf(Get("/v1/jobs/" + std::to_string(IdOf(job))))["state"], "not-done");
}

TEST_F(ServiceTest, ResolvingAJobThatIsNotInDoubtIsAConflict) {
  const Json job = BodyOf(Post("/v1/printers/a/beep"));
  ASSERT_EQ(job["state"], "done");
  auto result = Post("/v1/jobs/" + std::to_string(IdOf(job)) + "/resolve", R"({"outcome":"not-done"})");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 409);
  EXPECT_EQ(BodyOf(result)["error"]["kind"], "conflict");
  auto unknown = Post("/v1/jobs/999999/resolve", R"({"outcome":"done"})");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
}

TEST_F(ServiceTest, JobListFiltersByStatePrinterAndLimit) {
  Printer().Emu([](emu::PrinterEmulator& e) { e.InjectError(kPrinterErrorCode); });
  const Json failed = BodyOf(Post("/v1/printers/a/beep"));
  const Json done1 = BodyOf(Post("/v1/printers/a/beep"));
  const Json done2 = BodyOf(Post("/v1/printers/a/test"));
  ASSERT_EQ(failed["state"], "failed");

  const Json doneJobs = BodyOf(Get("/v1/jobs?state=done"))["jobs"];
  ASSERT_EQ(doneJobs.size(), 2u);
  for (const Json& job : doneJobs) EXPECT_EQ(job["state"], "done");
  EXPECT_EQ(BodyOf(Get("/v1/jobs?state=failed"))["jobs"].size(), 1u);
  EXPECT_EQ(BodyOf(Get("/v1/jobs?printer=a"))["jobs"].size(), 3u);
  EXPECT_EQ(BodyOf(Get("/v1/jobs?limit=1"))["jobs"].size(), 1u);

  auto badState = Get("/v1/jobs?state=finished");
  ASSERT_TRUE(badState);
  EXPECT_EQ(badState->status, 400);
  EXPECT_EQ(BodyOf(badState)["error"]["field"], "state");
  auto badLimit = Get("/v1/jobs?limit=0");
  ASSERT_TRUE(badLimit);
  EXPECT_EQ(badLimit->status, 400);
  auto unknownPrinter = Get("/v1/jobs?printer=zz");
  ASSERT_TRUE(unknownPrinter);
  EXPECT_EQ(unknownPrinter->status, 404);
}

TEST_F(ServiceTest, BadInputIs400NamingTheFieldAndQueuesNothing) {
  struct Case {
    std::string path, body;
    Headers headers;
    std::string field;
  };
  const std::vector<Case> cases{
      {"/v1/printers/a/pay", R"({"type":"cash","amount":"lots"})", {}, "amount"},
      {"/v1/printers/a/pay", R"({"type":"cash"})", {}, "amount"},
      {"/v1/printers/a/beep", R"({"type":)", {}, "body"},
      {"/v1/printers/a/beep", R"([1,2])", {}, "body"},
      {"/v1/printers/a/beep", "\xff\xfe{}", {}, "body"},
      {"/v1/printers/a/beep?wait=-1", "{}", {}, "wait"},
      {"/v1/printers/a/beep?wait=soon", "{}", {}, "wait"},
      {"/v1/printers/a/beep", "{}", {{"Idempotency-Key", std::string(129, 'k')}}, "Idempotency-Key"},
      {"/v1/printers/a/beep", "{}", {{"Idempotency-Key", "has space"}}, "Idempotency-Key"},
      {"/v1/printers/a/beep", "{}", {{"Idempotency-Key", "caf\xc3\xa9"}}, "Idempotency-Key"},
  };
  for (const Case& c : cases) {
    auto result = Post(c.path, c.body, c.headers);
    ASSERT_TRUE(result) << c.path;
    EXPECT_EQ(result->status, 400) << c.path << " " << c.body;
    const Json body = BodyOf(result);
    EXPECT_EQ(body["ok"], false);
    EXPECT_EQ(body["error"]["kind"], "input");
    EXPECT_EQ(body["error"]["field"], c.field) << c.path << " " << c.body;
    EXPECT_FALSE(body["error"].value("message", "").empty());
  }
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

TEST_F(ServiceTest, UnknownThingsAre404AndWrongMethods405) {
  for (const char* path : {"/v1/printers/zz/beep", "/v1/printers/a/launch-rocket"}) {
    auto result = Post(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404) << path;
    EXPECT_EQ(BodyOf(result)["error"]["kind"], "not-found");
  }
  for (const char* path : {"/v1/jobs/424242", "/v1/jobs/abc", "/v1/jobs/-1", "/v1/nothing", "/"}) {
    auto result = Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404) << path;
  }
  auto getSubmit = Get("/v1/printers/a/beep");
  ASSERT_TRUE(getSubmit);
  EXPECT_EQ(getSubmit->status, 405);
  EXPECT_EQ(getSubmit->get_header_value("Allow"), "POST");
  auto deleteJobs = Client().Delete("/v1/jobs", WithToken());
  ASSERT_TRUE(deleteJobs);
  EXPECT_EQ(deleteJobs->status, 405);
  auto putPrinters = Client().Put("/v1/printers", WithToken(), "{}", "application/json");
  ASSERT_TRUE(putPrinters);
  EXPECT_EQ(putPrinters->status, 405);
  EXPECT_EQ(Printer().Requests(), 0u);
}

TEST_F(ServiceTest, DetectionIsAJobOnThePrintersOwnPort) {
  auto result = Post("/v1/printers/a/detect", "");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200) << result->body;
  const Json job = BodyOf(result);
  EXPECT_EQ(job["command"], "detect");
  EXPECT_EQ(job["state"], "done") << job;
  EXPECT_EQ(job["result"]["port"], Printer().Port());
  EXPECT_EQ(job["result"]["baud"], 115200) << "the fastest speed answers first";
  EXPECT_EQ(job["result"]["ports"][0]["finding"], "answered");
  EXPECT_EQ(result->get_header_value("Location"), "/v1/jobs/" + std::to_string(IdOf(job)));
  const Json printers = BodyOf(Get("/v1/printers"))["printers"];
  EXPECT_EQ(printers[0]["baud"], 115200);
  EXPECT_EQ(printers[0]["state"], "idle");

  // Refused before anything is queued: arguments, an unknown printer, GET.
  const size_t requests = Printer().Requests();
  auto withArgs = Post("/v1/printers/a/detect", R"({"baud":9600})");
  ASSERT_TRUE(withArgs);
  EXPECT_EQ(withArgs->status, 400);
  EXPECT_EQ(BodyOf(withArgs)["error"]["field"], "baud");
  auto nobody = Post("/v1/printers/zz/detect");
  ASSERT_TRUE(nobody);
  EXPECT_EQ(nobody->status, 404);
  auto get = Get("/v1/printers/a/detect");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST") << "named once though two routes match";
  EXPECT_EQ(Printer().Requests(), requests);
  EXPECT_EQ(Jobs().List(std::nullopt, std::nullopt, 10).size(), 1u);
}

TEST_F(ServiceTest, BodyOverOneMebibyteIs413AndQueuesNothing) {
  const std::string body = R"({"lines":[")" + std::string(zuvsrv::kMaxBodyBytes, 'x') + R"("]})";
  auto result = Post("/v1/printers/a/nonfiscal", body);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 413);
  EXPECT_EQ(BodyOf(result)["error"]["kind"], "too-large");
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

TEST_F(ServiceTest, CorsOnlyForConfiguredOrigins) {
  Headers allowed{{"Origin", kAllowedOrigin},
                  {"Access-Control-Request-Method", "POST"},
                  {"Access-Control-Request-Private-Network", "true"}};
  auto preflight = Client().Options("/v1/printers/a/beep", allowed);
  ASSERT_TRUE(preflight);
  EXPECT_EQ(preflight->status, 204);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Origin"), kAllowedOrigin);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Private-Network"), "true");
  EXPECT_NE(preflight->get_header_value("Access-Control-Allow-Headers").find("Authorization"),
            std::string::npos);

  Headers other{{"Origin", "https://evil.example"}, {"Access-Control-Request-Method", "POST"}};
  auto refused = Client().Options("/v1/printers/a/beep", other);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
  EXPECT_FALSE(refused->has_header("Access-Control-Allow-Origin"));
  EXPECT_FALSE(refused->has_header("Access-Control-Allow-Private-Network"));

  auto read = Client().Get("/v1/printers", WithToken({{"Origin", kAllowedOrigin}}));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->get_header_value("Access-Control-Allow-Origin"), kAllowedOrigin);
  auto foreign = Client().Get("/v1/printers", WithToken({{"Origin", "https://evil.example"}}));
  ASSERT_TRUE(foreign);
  EXPECT_FALSE(foreign->has_header("Access-Control-Allow-Origin"));
  EXPECT_EQ(Printer().Requests(), 0u);
}

TEST_F(ServiceTest, MetricsCountJobsByPrinterAndStateWithAnExchangeHistogram) {
  ASSERT_EQ(BodyOf(Post("/v1/printers/a/test"))["state"], "done");
  auto result = Client().Get("/metrics");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200);
  const std::string& text = result->body;
  EXPECT_NE(text.find("zuv_jobs{printer=\"a\",state=\"done\"} 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("zuv_queue_depth{printer=\"a\"} 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("zuv_jobs_in_doubt 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("zuv_exchange_seconds_count 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("zuv_exchange_seconds_bucket{le=\"+Inf\"} 1\n"), std::string::npos) << text;
}

// Sends raw bytes on a new connection and reads until the service closes
// it or answers; what came back.
std::string RawExchange(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0) {
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, size_t(n));
  }
  ::close(fd);
  return answer;
}

TEST_F(ServiceTest, MalformedRequestsGetAnAnswerAndTheServiceGoesOn) {
  const std::vector<std::string> garbage{
      std::string("\x00\x01\x02\xff\r\n\r\n", 8),
      "GET\r\n\r\n",
      "BREW /v1/printers HTTP/1.1\r\nHost: x\r\n\r\n",
      "POST /v1/printers/a/beep HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
      "POST /v1/printers/a/beep HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
      "POST /v1/printers/a/beep HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
      "GET /v1/jobs/%00%ff HTTP/1.1\r\nAuthorization: Bearer " + std::string(kToken) + "\r\n\r\n",
      "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nX: " + std::string(100000, 'b') + "\r\n\r\n",
  };
  for (const std::string& bytes : garbage) RawExchange(Port(), bytes);
  auto health = Client().Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

}  // namespace
}  // namespace srvtest
