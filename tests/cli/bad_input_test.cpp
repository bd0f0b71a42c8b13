// Bad command lines and bad input files: status 2, a message that points
// at the fault, and not one byte to the printer.
#include <fstream>

#include "cli_fixture.h"

namespace clitest {
namespace {

class BadInputTest : public CliTest {
 protected:
  // Runs zuv (with -p unless `withPort` is false) and checks that it is a
  // usage error that names `expected` and that the printer heard nothing.
  void ExpectRefused(std::vector<std::string> args, const std::string& expected,
                     const std::string& input = "", bool withPort = true) {
    SCOPED_TRACE(args.empty() ? "" : args.front());
    const RunResult r = withPort ? Run(args, input) : RunTool(args, input);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_EQ(printer().Requests(), 0u);
  }
};

TEST_P(BadInputTest, FilesWithABadLineSendNothing) {
  const std::string file = TestFile("bad.csv", "1,Hleb,0,1,65.50\n2,Mleko,0,1,12.345\n3,Sir,0,1,1\n");
  ExpectRefused({"program-articles", file}, file + ":2: bad price \"12.345\"");
  ExpectRefused({"program-articles", "-"}, "<stdin>:3: name of 40 characters; at most 32",
                "1,A,0,1,1\n2,B,0,1,1\n3," + std::string(40, 'N') + ",0,1,1\n");
  ExpectRefused({"program-articles", "/nonexistent/list.csv"}, "cannot read /nonexistent/list.csv");
  ExpectRefused({"nonfiscal"}, "<stdin>:2: line of 35 characters; the width is 34",
                "fine\n" + std::string(35, 'x') + "\n");
  ExpectRefused({"nonfiscal", "--width", "72"}, "--width");
  ExpectRefused({"nonfiscal"}, "<stdin>: nothing to print", "");
}

TEST_P(BadInputTest, BadArgumentsSendNothing) {
  ExpectRefused({"pay", "cash", "12,345"}, "bad amount \"12,345\"");
  ExpectRefused({"pay", "cash", "nan"}, "bad amount \"nan\"");
  ExpectRefused({"pay", "cash", "-5"}, "bad amount \"-5\"");
  ExpectRefused({"pay", "cash", "0"}, "use close to pay the rest");
  ExpectRefused({"pay", "cash", "1000000001"}, "bad amount");
  ExpectRefused({"pay", "bitcoin", "10"}, "bad payment type \"bitcoin\"");
  ExpectRefused({"change-price", "0", "10"}, "bad article code \"0\"");
  ExpectRefused({"change-price", "1", "1e3"}, "bad price \"1e3\"");
  ExpectRefused({"change-price", "1", "21474836.48"}, "bad price");
  ExpectRefused({"periodic-report", "32.01.2021", "01.02.2021"}, "bad date \"32.01.2021\"");
  ExpectRefused({"periodic-report", "2021-03-31", "2021-03-01"}, "FROM is after TO");
  // Command numbers just outside a byte, either side, and far outside.
  for (const char* command : {"-1", "256", "65535"})
    ExpectRefused({"raw", command}, "bad command \"" + std::string(command) + "\" (0 to 255)");
  ExpectRefused({"raw", "0x1G"}, "bad command");
  ExpectRefused({"raw", "1", "0G"}, "pairs of hex digits");
  ExpectRefused({"raw", "1", std::string(2 * 255, 'A')}, "255 data bytes; a short frame holds 254");
  ExpectRefused({"raw", "26", "--long", std::string(2 * 1020, 'A')}, "a long frame holds 1019");
}

TEST_P(BadInputTest, BadOptionsAndMissingConfirmationSendNothing) {
  ExpectRefused({"z-report"}, "give --yes");
  ExpectRefused({"delete-articles"}, "give --yes");
  ExpectRefused({"--baud", "14400", "test"}, "--baud");
  ExpectRefused({"--lang", "DE", "test"}, "--lang");
  ExpectRefused({"no-such-command"}, "unknown subcommand \"no-such-command\"");
  ExpectRefused({}, "A subcommand is required");
  ExpectRefused({"test"}, "no port: give --port or set ZUV_PORT", "", false);
  ExpectRefused({"-p", "tcp://localhost", "test"}, "bad port \"tcp://localhost\"", "", false);
  ::setenv("ZUV_BAUD", "12", 1);
  ExpectRefused({"test"}, "--baud: 12 not in");
  ::unsetenv("ZUV_BAUD");
}

TEST_P(BadInputTest, PortAndSpeedFromTheEnvironment) {
  ::setenv("ZUV_PORT", printer().Port().c_str(), 1);
  ::setenv("ZUV_BAUD", "9600", 1);
  const RunResult r = RunTool({"test"});
  ::unsetenv("ZUV_PORT");
  ::unsetenv("ZUV_BAUD");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(printer().Requests(), 1u);
}

TEST_P(BadInputTest, ATerminalIsAskedBeforeTheZReport) {
  auto interactive = [&](const std::string& answer) {
    std::vector<const char*> argv{"zuv", "-p", nullptr, "z-report"};
    const std::string port = printer().Port();
    argv[2] = port.c_str();
    std::istringstream in(answer);
    std::ostringstream out, err;
    zuvcli::Io io{in, out, err, true};
    const int status = zuvcli::RunZuv(static_cast<int>(argv.size()), argv.data(), io);
    EXPECT_NE(err.str().find("close the fiscal day? [y/N]"), std::string::npos) << err.str();
    return status;
  };
  EXPECT_EQ(interactive("n\n"), 2);
  EXPECT_EQ(interactive(""), 2);
  EXPECT_EQ(printer().Requests(), 0u);
  EXPECT_EQ(interactive("y\n"), 0);
  EXPECT_EQ(printer().Requests(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, BadInputTest,
                         ::testing::Values(Transport::kPty, Transport::kTcp), TransportName);

}  // namespace
}  // namespace clitest
