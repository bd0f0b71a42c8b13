// Every route over loopback HTTP against an emulated printer: what it
// answers, and that requests it refuses never reach the printer.
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "raw_socket.h"
#include "server/api_routes.h"
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
  // Every answer, an error too, tells a browser not to guess, frame or refer.
  for (const auto& result : {health, document, Client().Get("/v1/nothing")}) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(result->get_header_value("Content-Security-Policy"),
              "default-src 'self'; frame-ancestors 'none'");
    EXPECT_EQ(result->get_header_value("Referrer-Policy"), "no-referrer");
    EXPECT_FALSE(result->get_header_value("Cache-Control").empty());
  }
}

// The routes that answer without a token; every other one needs it.
const std::set<std::string> kOpenRoutes{"GET /healthz", "GET /metrics", "GET /v1/openapi.json"};

std::string FilledPath(const zuvsrv::RouteInfo& route) {
  std::string path = std::regex_replace(route.path, std::regex("/printers/\\{id\\}"), "/printers/a");
  path = std::regex_replace(path, std::regex("\\{command\\}"), "beep");
  return std::regex_replace(path, std::regex("\\{id\\}"), "1");
}

TEST_F(ServiceTest, EveryRouteButTheOpenOnesRefusesAMissingTokenAndChangesNothing) {
  const Json job = BodyOf(Post("/v1/printers/a/beep"));
  ASSERT_EQ(job["state"], "done");
  const size_t sent = Printer().Requests();
  for (const zuvsrv::RouteInfo& route : zuvsrv::Routes()) {
    const std::string name = route.method + " " + route.path;
    const std::string path = FilledPath(route);
    const Result result = route.method == "GET"
                              ? Client().Get(path)
                              : Client().Post(path, {}, R"({"outcome":"done"})", "application/json");
    ASSERT_TRUE(result) << name;
    if (kOpenRoutes.count(name)) {
      EXPECT_EQ(result->status, 200) << name;
      continue;
    }
    EXPECT_EQ(result->status, 401) << name;
    EXPECT_EQ(result->get_header_value("WWW-Authenticate"), "Bearer") << name;
    EXPECT_EQ(BodyOf(result)["error"]["kind"], "auth") << name;
  }
  EXPECT_EQ(Printer().Requests(), sent);
  EXPECT_EQ(Jobs().List(std::nullopt, std::nullopt, 10).size(), 1u);
  EXPECT_EQ(BodyOf(Get("/v1/jobs/" + job["id"].dump()))["state"], "done");
  // The scheme's name is matched in any case.
  for (const char* scheme : {"bearer ", "BEARER ", "Bearer  "}) {
    auto read = Client().Get("/v1/printers", {{"Authorization", scheme + std::string(kToken)}});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 200) << scheme;
  }
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

// Text the printer cannot print is sent as '?' and named in the job's
// warnings, as the tool warns of it.
TEST_F(ServiceTest, SynchronousRequestsAnswerTheFinishedJobWithItsWarnings) {
  struct Case {
    std::string command, body;
    Json warnings;
  };
  const std::vector<Case> cases{
      {"test", "", Json::array()},
      {"nonfiscal", R"({"lines":["Kafa","Smile ☺ ♥ ☺"]})",
       {"lines[1]: the printer cannot print \"☺\", \"♥\" (sent as '?')"}},
      {"program-articles",
       R"({"articles":[{"code":1,"name":"Caj ☕","unit":0,"tax":1,"price":"1"}]})",
       {"articles[0].name: the printer cannot print \"☕\" (sent as '?')"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const size_t requestsBefore = Printer().Requests();
    auto result = Post("/v1/printers/a/" + c.command, c.body);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200) << result->body;
    const Json job = BodyOf(result);
    EXPECT_EQ(job["state"], "done");
    EXPECT_EQ(job["printer"], "a");
    EXPECT_EQ(job["command"], c.command);
    EXPECT_TRUE(job["result"].is_object());
    EXPECT_EQ(job["warnings"], c.warnings);
    EXPECT_EQ(result->get_header_value("Location"), "/v1/jobs/" + std::to_string(IdOf(job)));
    EXPECT_GT(Printer().Requests(), requestsBefore);
    // The journal tells the same afterwards.
    const Json again = BodyOf(Get("/v1/jobs/" + std::to_string(IdOf(job))));
    EXPECT_EQ(again["state"], "done");
    EXPECT_EQ(again["id"], job["id"]);
    EXPECT_EQ(again["warnings"], c.warnings);
  }
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
    std::string says = "";  // part of the message, when it matters
  };
  const std::vector<Case> cases{
      {"/v1/printers/a/nonfiscal", R"({"lines":["Kafa","Smile \u263a"],"strict":true})", {},
       "lines[1]", "lines[1]: the printer cannot print \"\u263a\""},
      {"/v1/printers/a/program-articles",
       R"({"strict":true,"articles":[{"code":1,"name":"Caj \u2615","unit":0,"tax":1,"price":"1"}]})",
       {}, "articles[0].name", "the printer cannot print \"\u2615\""},
      {"/v1/printers/a/beep", R"({"strict":"yes"})", {}, "strict"},
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
      {"/v1/printers/a/beep", "{}", {{"Idempotency-Key", ""}}, "Idempotency-Key"},
      {"/v1/printers/a/raw", R"({"command":-1})", {}, "command"},
      {"/v1/printers/a/raw", R"({"command":256})", {}, "command"},
      {"/v1/printers/a/raw", R"({"command":65535})", {}, "command"},
      {"/v1/printers/a/pay", R"({"type":"cash","amount":"1.00","type":"card"})", {}, "type"},
      {"/v1/printers/a/beep", std::string(33, '[') + std::string(33, ']'), {}, "body"},
      {"/v1/printers/a/nonfiscal", R"({"lines":)" + std::string(32, '[') + std::string(32, ']') + "}",
       {}, "body"},
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
    EXPECT_NE(body["error"].value("message", "").find(c.says), std::string::npos) << body;
  }
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

// A client that goes away before its job is queued would never learn of
// it: nothing is queued, whether it left before or while its body was read
// or after, before the route queued the job.
TEST_F(ServiceTest, AClientGoneBeforeItsJobIsQueuedQueuesNothing) {
  const std::string head = "POST /v1/printers/a/beep HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           "Authorization: Bearer " + std::string(kToken) + "\r\n"
                           "Content-Type: application/json\r\nContent-Length: 16\r\n\r\n";
  for (const std::string& sent : {head, head + "{\"lines\":"}) {
    const int fd = RawConnect(Port(), sent);
    ASSERT_GE(fd, 0);
    ::shutdown(fd, SHUT_WR);
    // Once the service closed its end, the request is over for it.
    EXPECT_TRUE(ClosedByPeer(fd));
    ::close(fd);
  }
  zuvsrv::HttpCounters counters;
  zuvsrv::Api api(Jobs(), zuvsrv::HttpSettings{}, counters);
  zuvsrv::HttpRequest request;
  request.method = "POST";
  request.body = "{}";
  request.clientGone = [] { return true; };
  zuvsrv::HttpResponse response;
  api.Submit(request, response, {"a", "beep"});
  EXPECT_EQ(response.status, 400);
  EXPECT_FALSE(response.deferred);
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
  // The service goes on.
  EXPECT_EQ(BodyOf(Post("/v1/printers/a/beep"))["state"], "done");
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

// A valid request padded with spaces to `size` bytes.
std::string PaddedBody(size_t size) {
  std::string body = R"({"lines":["padded"]})";
  body.resize(size, ' ');
  return body;
}

TEST_F(ServiceTest, BodyOverOneMebibyteIs413AndQueuesNothing) {
  auto over = Post("/v1/printers/a/nonfiscal", PaddedBody(zuvsrv::kMaxBodyBytes + 1));
  ASSERT_TRUE(over);
  EXPECT_EQ(over->status, 413);
  EXPECT_EQ(BodyOf(over)["error"]["kind"], "too-large");
  // Chunked, the same limit.
  const std::string chunked = "POST /v1/printers/a/nonfiscal HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                              "Authorization: Bearer " + std::string(kToken) +
                              "\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string chunks;
  for (size_t sent = 0; sent <= zuvsrv::kMaxBodyBytes; sent += 0x10000)
    chunks += "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
  EXPECT_EQ(StatusOf(RawExchange(Port(), chunked + chunks + "0\r\n\r\n")), 413);
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());

  auto under = Post("/v1/printers/a/nonfiscal", PaddedBody(zuvsrv::kMaxBodyBytes - 1024));
  ASSERT_TRUE(under);
  EXPECT_EQ(under->status, 200) << under->body;
  EXPECT_EQ(Jobs().List(std::nullopt, std::nullopt, 10).size(), 1u);
}

TEST_F(ServiceTest, HeadersOverTheLimitsAndEncodedBodiesAreRefusedBeforeTheToken) {
  const std::string post = "POST /v1/printers/a/beep HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  std::string manyFields = post;
  for (size_t i = 0; i < zuvsrv::kMaxHeaderFields; ++i) manyFields += "X-F" + std::to_string(i) + ": 1\r\n";
  struct Case {
    std::string request;
    int status;
  };
  const std::vector<Case> cases{
      {post + "X-Big: " + std::string(zuvsrv::kMaxHeaderBytes, 'b') + "\r\n\r\n", 431},
      {manyFields + "Content-Length: 2\r\n\r\n{}", 431},
      {post + "Content-Encoding: gzip\r\nContent-Length: 2\r\n\r\n{}", 415},
      {post + "Content-Length: " + std::to_string(zuvsrv::kMaxBodyBytes + 1) + "\r\n\r\n{}", 413},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusOf(RawExchange(Port(), c.request)), c.status) << c.request.substr(0, 200);
  // Just within the limits, with the token, it goes through.
  std::string fields = post + "Authorization: Bearer " + kToken + "\r\n";
  for (size_t i = 4; i < zuvsrv::kMaxHeaderFields; ++i) fields += "X-F" + std::to_string(i) + ": 1\r\n";
  // (A client that shuts its side counts as gone: this one stays.)
  const int fd = RawConnect(Port(), fields + "Content-Encoding: identity\r\nContent-Length: 2\r\n\r\n{}");
  const std::string accepted = ReadUntil(fd, [](const std::string& t) { return t.find("}}") != std::string::npos || t.find("\"done\"") != std::string::npos; });
  ::close(fd);
  EXPECT_EQ(StatusOf(accepted), 200) << accepted;
  EXPECT_EQ(Printer().Requests(), 1u);
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

TEST_F(ServiceTest, AForeignHostIs421OnEveryRoute) {
  Settings().allowedHosts = {"till.local"};
  Restart();
  const std::string port = ":" + std::to_string(Port());
  for (const char* host : {"evil.example", "evil.example:80", "127.0.0.2", "till.local.evil.example"}) {
    std::vector<std::string> paths{"/"};
    for (const zuvsrv::RouteInfo& route : zuvsrv::Routes()) {
      const Headers headers = WithToken({{"Host", host}});
      const std::string path = FilledPath(route);
      const Result result = route.method == "GET" ? Client().Get(path, headers)
                                                  : Client().Post(path, headers, "{}", "application/json");
      ASSERT_TRUE(result) << host << " " << path;
      EXPECT_EQ(result->status, 421) << host << " " << path;
      EXPECT_EQ(BodyOf(result)["error"]["kind"], "host");
    }
  }
  for (const std::string& host : {"127.0.0.1" + port, "localhost" + port, std::string("LocalHost"),
                                 std::string("till.local"), "TILL.local" + port}) {
    auto health = Client().Get("/healthz", {{"Host", host}});
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200) << host;
  }
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

TEST_F(ServiceTest, ConsoleFilesComeOnlyFromInsideTheirFolderTypedByTheirRealName) {
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path console = fs::path(dir.Path()) / "console";
  fs::create_directories(console / "css");
  std::ofstream(console / "index.html") << "<h1>till</h1>";
  std::ofstream(console / "css" / "style.css") << "h1{}";
  std::ofstream(fs::path(dir.Path()) / "secret.txt") << "private";
  fs::create_symlink("../secret.txt", console / "leak.txt");
  fs::create_symlink("/etc", console / "etc");
  fs::create_symlink("index.html", console / "page.js");
  Settings().consoleDir = console.string();
  Restart();
  struct Case {
    std::string path;
    int status;
    std::string type;
  };
  const std::vector<Case> cases{
      {"/", 200, "text/html; charset=utf-8"},
      {"/css/style.css", 200, "text/css; charset=utf-8"},
      {"/page.js", 200, "text/html; charset=utf-8"},  // the link's target is HTML
      {"/leak.txt", 404, ""},
      {"/etc/passwd", 404, ""},
      {"/../secret.txt", 404, ""},
      {"/%2e%2e/secret.txt", 404, ""},
      {"/css/..%2f..%2fsecret.txt", 404, ""},
  };
  for (const Case& c : cases) {
    auto result = Client().Get(c.path);
    ASSERT_TRUE(result) << c.path;
    EXPECT_EQ(result->status, c.status) << c.path;
    EXPECT_EQ(result->body.find("private"), std::string::npos) << c.path;
    EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff") << c.path;
    if (c.status == 200) {
      EXPECT_EQ(result->get_header_value("Content-Type"), c.type) << c.path;
    }
  }
}

// Deadlines of a second: what each closes, and that the limit of
// connections closes a new one at once.
zuvsrv::Deadlines Only(std::chrono::milliseconds zuvsrv::Deadlines::*which) {
  zuvsrv::Deadlines deadlines{600s, 600s, 600s, 600s};
  deadlines.*which = 1s;
  return deadlines;
}

TEST_F(ServiceTest, EachDeadlineClosesTheConnectionThatMissesIt) {
  const std::string head = "POST /v1/printers/a/beep HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                           std::string(kToken) + "\r\n";
  Settings().deadlines = Only(&zuvsrv::Deadlines::header);
  Restart();
  int fd = RawConnect(Port(), head);
  EXPECT_TRUE(ClosedByPeer(fd)) << "an unfinished header";
  ::close(fd);

  Settings().deadlines = Only(&zuvsrv::Deadlines::body);
  Restart();
  fd = RawConnect(Port(), head + "Content-Length: 10\r\n\r\n{");
  EXPECT_TRUE(ClosedByPeer(fd)) << "an unfinished body";
  ::close(fd);

  Settings().deadlines = Only(&zuvsrv::Deadlines::idle);
  Restart();
  fd = RawConnect(Port(), "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(StatusOf(ReadUntil(fd, [](const std::string& t) { return t.find("}") != std::string::npos; })), 200);
  EXPECT_TRUE(ClosedByPeer(fd)) << "an idle kept-alive connection";
  ::close(fd);
  EXPECT_EQ(Printer().Requests(), 0u);
  EXPECT_TRUE(Jobs().List(std::nullopt, std::nullopt, 10).empty());
}

TEST_F(ServiceTest, PastMaxConnectionsANewOneIsClosedAtOnceAndCounted) {
  Settings().maxConnections = 4;
  Settings().deadlines = Only(&zuvsrv::Deadlines::header);
  Restart();
  std::vector<int> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(RawConnect(Port()));
  // Each held connection is accepted before the next: the fifth is one too many.
  const int extra = RawConnect(Port(), "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(ReadUntil(extra, [](const std::string&) { return false; }), "");
  ::close(extra);
  // The held ones end at their header deadline; then the service answers again.
  for (int fd : idle) {
    EXPECT_TRUE(ClosedByPeer(fd));
    ::close(fd);
  }
  auto metrics = Client().Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("zuv_http_connections_refused_total 1\n"), std::string::npos) << metrics->body;
}

}  // namespace
}  // namespace srvtest
