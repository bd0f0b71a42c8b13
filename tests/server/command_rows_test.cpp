// The command rows against what is made of them: the tool's help, the API
// document's operations and schemas, and the service's checks, which must
// accept exactly the bodies the document's schemas accept.
#include <cstdio>
#include <fstream>

#include "commands/catalogue.h"
#include "service_fixture.h"
#include "server/openapi.h"
#include "server/request_checks.h"

namespace srvtest {
namespace {

using zuvcmd::CommandInfo;

const Json& Document() { return zuvsrv::OpenApiDocument(); }

// "#/components/schemas/PayJob" -> that schema.
const Json& Resolve(const Json& ref) {
  const std::string path = ref.at("$ref").get<std::string>();
  return Document()["components"]["schemas"][path.substr(path.rfind('/') + 1)];
}

TEST(CommandRows, EachIsInTheToolsHelpAndTheDocument) {
  const clitest::RunResult help = clitest::RunTool({"--help"});
  ASSERT_EQ(help.status, 0);
  const Json& mapping = Document()["components"]["schemas"]["Job"]["discriminator"]["mapping"];
  for (const CommandInfo& info : zuvcmd::Catalogue()) {
    SCOPED_TRACE(info.name);
    // The tool: one line naming the command, its printer command and its help.
    char bracket[16];
    std::snprintf(bracket, sizeof bracket, "[%3d] ", info.printerCommand);
    const std::string line =
        (info.printerCommand == zuvcmd::kAnyCommand ? "" : std::string(bracket)) + info.help;
    EXPECT_NE(help.out.find("  " + info.name + " "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find(line), std::string::npos) << help.out;

    // The document: its own operation, its own argument and job schemas.
    const Json& operation = Document()["paths"]["/v1/printers/{id}/" + info.name]["post"];
    ASSERT_TRUE(operation.is_object());
    EXPECT_EQ(operation["summary"], info.label.en);
    EXPECT_EQ(operation["x-label-sr"], info.label.sr);
    EXPECT_EQ(operation["x-labels"], Json({{"en", info.label.en}, {"sr", info.label.sr}}));
    EXPECT_EQ(operation["x-effect"], std::string(zuvcmd::EffectName(info.effect)));
    EXPECT_EQ(operation.contains("x-confirm"), info.confirm);
    EXPECT_NE(operation["description"].get<std::string>().find(info.help), std::string::npos);
    EXPECT_EQ(operation["requestBody"]["required"], !info.args.fields.empty());
    const Json& job = Resolve(operation["responses"]["200"]["content"]["application/json"]["schema"]);
    EXPECT_EQ(job["properties"]["command"]["enum"], Json::array({info.name}));
    const Json& args = Resolve(job["properties"]["args"]);
    std::vector<std::string> fields;
    for (const auto& [name, ignored] : args["properties"].items()) fields.push_back(name);
    std::vector<std::string> rowFields;
    for (const zuvcmd::Field& f : info.args.fields) rowFields.push_back(f.name);
    EXPECT_EQ(fields, rowFields);
    EXPECT_EQ(args["additionalProperties"], false);
    EXPECT_TRUE(mapping.contains(info.name));
  }
  EXPECT_EQ(mapping.size(), zuvcmd::Catalogue().size() + 1);  // and detect
}

TEST(CommandRows, ArgumentSchemasSayTheChecksLimits) {
  const Json& schemas = Document()["components"]["schemas"];
  EXPECT_EQ(schemas["PayArgs"]["properties"]["type"]["enum"], Json({"cash", "card", "cheque"}));
  EXPECT_EQ(schemas["PayArgs"]["required"], Json({"type", "amount"}));
  EXPECT_EQ(schemas["PayResult"]["properties"]["type"]["enum"], Json({"cash", "card", "cheque"}));
  // Labels a client's forms and results are built from, down to nested items.
  EXPECT_EQ(schemas["PayArgs"]["properties"]["type"]["x-value-labels"]["card"]["sr"], "kartica");
  EXPECT_EQ(schemas["PayArgs"]["properties"]["amount"]["x-format"], "money");
  EXPECT_EQ(schemas["ReceiptStateResult"]["properties"]["paid_cash"]["x-labels"]["sr"], "Plaćeno gotovinom");
  EXPECT_EQ(schemas["ProgramArticlesArgs"]["properties"]["articles"]["items"]["properties"]["tax"]["title"],
            "Tax group");
  const Json& width = schemas["NonfiscalArgs"]["properties"]["width"];
  EXPECT_EQ(width["minimum"], 1);
  EXPECT_EQ(width["maximum"], 71);
  EXPECT_EQ(width["default"], 34);
  EXPECT_EQ(schemas["PeriodicReportArgs"]["properties"]["from"]["format"], "date");
  EXPECT_EQ(schemas["RawArgs"]["properties"]["command"]["minimum"], 0);
  EXPECT_EQ(schemas["RawArgs"]["properties"]["command"]["maximum"], 255);
  EXPECT_EQ(schemas["JobState"]["enum"],
            Json({"queued", "running", "done", "failed", "in-doubt", "not-done"}));
}

// Bodies each command's checks and request schema must agree on, accepted
// or not.
// Rules across fields (FROM after TO, a line wider than its width) are the
// checks' alone, said in the schema's description: not listed here.
Json Cases() {
  const Json article = {{"code", 1}, {"name", "Hleb"}, {"unit", 0}, {"tax", 1}, {"price", "65.50"}};
  const auto with = [&](const char* key, const Json& value) {
    Json copy = article;
    copy[key] = value;
    return Json{{"articles", {copy}}};
  };
  return Json::array({
      {"test", Json::object()}, {"test", {{"x", 1}}}, {"z-report", {{"confirm", true}}},
      {"test", {{"strict", true}}}, {"test", {{"strict", "yes"}}}, {"beep", {{"strict", nullptr}}},
      {"nonfiscal", {{"lines", {"a"}}, {"strict", false}}},
      {"pay", {{"type", "cash"}, {"amount", "300"}}}, {"pay", {{"type", "card"}, {"amount", "0,5"}}},
      {"pay", {{"type", "cheque"}, {"amount", "12.34"}}}, {"pay", {{"type", "check"}, {"amount", "1"}}},
      {"pay", {{"type", 1}, {"amount", "1"}}}, {"pay", {{"type", "cash"}, {"amount", "0"}}},
      {"pay", {{"type", "cash"}, {"amount", "0.00"}}}, {"pay", {{"type", "cash"}, {"amount", "0.01"}}},
      {"pay", {{"type", "cash"}, {"amount", "1.234"}}}, {"pay", {{"type", "cash"}, {"amount", 5}}},
      {"pay", {{"type", "cash"}, {"amount", "-5"}}}, {"pay", {{"type", "cash"}}},
      {"pay", {{"type", "cash"}, {"amount", "1"}, {"tip", "1"}}},
      {"periodic-report", {{"from", "2026-12-01"}, {"to", "2026-12-09"}}},
      {"periodic-report", {{"from", "01.12.2026"}, {"to", "2026-12-09"}}},
      {"periodic-report", {{"from", "2026-02-29"}, {"to", "2026-12-09"}}},
      {"periodic-report", {{"from", "1999-12-01"}, {"to", "2026-12-09"}}},
      {"program-articles", {{"articles", {article}}}}, {"program-articles", {{"articles", Json::array()}}},
      {"program-articles", with("unit", 16)}, {"program-articles", with("tax", -1)},
      {"program-articles", with("code", 0)}, {"program-articles", with("name", "")},
      {"program-articles", with("name", std::string(32, 'x'))},
      {"program-articles", with("name", std::string(33, 'x'))},
      {"program-articles", with("price", 1.5)}, {"program-articles", with("colour", "red")},
      {"change-price", {{"code", 7}, {"price", "12"}}}, {"change-price", {{"code", "7"}, {"price", "12"}}},
      {"nonfiscal", {{"lines", {"*^RAČUN", "Kafa||120.00"}}}}, {"nonfiscal", {{"lines", Json::array()}}},
      {"nonfiscal", {{"lines", {"a"}}, {"width", 0}}}, {"nonfiscal", {{"lines", {"a"}}, {"width", 72}}},
      {"nonfiscal", {{"lines", {"a"}}, {"width", 71}}}, {"nonfiscal", {{"lines", {1}}}},
      {"nonfiscal", {{"lines", "a"}}},
      {"raw", {{"command", 86}}}, {"raw", {{"command", -1}}}, {"raw", {{"command", 256}}},
      {"raw", {{"command", 65535}}}, {"raw", {{"command", "86"}}}, {"raw", {{"command", 1}, {"data", "0a0B"}}},
      {"raw", {{"command", 1}, {"data", "0a 0b"}}}, {"raw", {{"command", 1}, {"data", "0G"}}},
      {"raw", {{"command", 1}, {"data", std::string(508, 'A')}}},
      {"raw", {{"command", 1}, {"data", std::string(510, 'A')}}},
      {"raw", {{"command", 1}, {"data", std::string(510, 'A')}, {"long", true}}},
      {"raw", {{"command", 1}, {"data", std::string(2040, 'A')}, {"long", true}}},
      {"raw", {{"command", 1}, {"long", "yes"}}},
  });
}

bool Accepted(const std::string& command, const Json& body) {
  try {
    zuvsrv::CheckCommandBody(command, body);
    return true;
  } catch (const zuvcmd::ArgumentError&) {
    return false;
  }
}

// The jsonschema module's verdict on each case, against the document.
// The document's components ride along in the schema, so that its local
// references resolve with any jsonschema version.
constexpr const char* kVerdicts = R"(
import json, sys
import jsonschema
document = json.load(open(sys.argv[1]))
cases = json.load(open(sys.argv[2]))
checker = jsonschema.FormatChecker()
for command, body in cases:
    name = "".join(part.capitalize() for part in command.split("-")) + "Request"
    schema = {"$ref": "#/components/schemas/" + name, "components": document["components"]}
    valid = jsonschema.Draft202012Validator(schema, format_checker=checker).is_valid(body)
    print("accepted" if valid else "refused")
)";

TEST(CommandRows, ChecksAcceptExactlyWhatTheSchemasAccept) {
  const std::string python = ZUV_PYTHON3;
  if (std::system((python + " -c 'import jsonschema' 2>/dev/null").c_str()) != 0) {
    ASSERT_EQ(std::getenv("CI"), nullptr) << "python module jsonschema is missing for " << python;
    GTEST_SKIP() << "python module jsonschema is not installed";
  }
  TempDir dir;
  const Json cases = Cases();
  std::ofstream(dir.Path() + "/document.json") << Document().dump();
  std::ofstream(dir.Path() + "/cases.json") << cases.dump();
  std::ofstream(dir.Path() + "/verdicts.py") << kVerdicts;
  const std::string command = python + " " + dir.Path() + "/verdicts.py " + dir.Path() +
                              "/document.json " + dir.Path() + "/cases.json >" + dir.Path() +
                              "/out 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream out(dir.Path() + "/out");
  std::vector<std::string> verdicts;
  for (std::string line; std::getline(out, line);) verdicts.push_back(line);
  ASSERT_EQ(status, 0) << (verdicts.empty() ? "" : verdicts.back());
  ASSERT_EQ(verdicts.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = cases[i][0];
    SCOPED_TRACE(name + " " + cases[i][1].dump().substr(0, 80));
    EXPECT_EQ(verdicts[i], Accepted(name, cases[i][1]) ? "accepted" : "refused");
  }
}

}  // namespace
}  // namespace srvtest
