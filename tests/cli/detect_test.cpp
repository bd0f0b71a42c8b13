// Finding the printer among pseudo-terminals made for the test: at 9600 and
// at 115200 baud, behind silent ports, held ports and the console, and not
// at all. Every port is free again afterwards.
#include <fstream>

#include "cli_fixture.h"
#include "driver/detect.h"
#include "serial/comport.h"

namespace clitest {
namespace {

using zuv::TPortFinding;

// Opens `port` exclusively and closes it again: false while anyone holds it.
bool PortIsFree(const std::string& port) {
  serial::TComPort probe;
  probe.SetPort(port);
  try {
    probe.Open();
    probe.Close();
    return true;
  } catch (const serial::EComPort&) {
    return false;
  }
}

class DetectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zuv::ResetDriverState();
    zuv::TComPortZUV::Init("GBR");
    silent_ = std::make_unique<Printer>(Transport::kPty, "ttySilent");
    ASSERT_TRUE(silent_->Started());
    silent_->Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  }
  void TearDown() override { zuv::ResetDriverState(); }

  // The printer on a pty that answers only at `baud`.
  std::unique_ptr<Printer> PrinterAt(int baud, const std::string& link = "ttyPrinter") {
    auto p = std::make_unique<Printer>(Transport::kPty, link, true);
    p->Emu([baud](emu::PrinterEmulator& e) { e.SetBaud(baud); });
    return p;
  }

  PortDirectory ports_;
  std::unique_ptr<Printer> silent_;
};

TEST_F(DetectTest, FindsThePrinterAt9600BehindASilentPortInUnderTwoSeconds) {
  auto printer = PrinterAt(9600);
  zuv::linkState.replyBudgetMs = 1234;
  zuv::TDetectOptions options;
  options.ports = {"ttySilent", "ttyPrinter"};
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.port, "ttyPrinter");
  EXPECT_EQ(r.baud, 9600);
  EXPECT_LT(r.elapsedMs, 2000);
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_EQ(r.notes[0].finding, TPortFinding::Silent);
  EXPECT_EQ(r.notes[1].finding, TPortFinding::Answered);
  // One connection test a speed on the silent port; on the printer's only
  // the one at its own speed is heard, and the driver's confirmation.
  EXPECT_EQ(silent_->RequestsOnceAt(5), 5u);
  EXPECT_EQ(printer->RequestsOnceAt(2), 2u);
  EXPECT_EQ(zuv::linkState.replyBudgetMs, 1234);
  EXPECT_TRUE(PortIsFree("ttySilent"));
  EXPECT_TRUE(PortIsFree("ttyPrinter"));
}

TEST_F(DetectTest, SilentPortsAreProbedTogether) {
  std::vector<std::unique_ptr<Printer>> silent;
  zuv::TDetectOptions options;
  for (int i = 0; i < 4; ++i) {
    silent.push_back(std::make_unique<Printer>(Transport::kPty, "ttyQuiet" + std::to_string(i)));
    silent.back()->Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
    options.ports.push_back("ttyQuiet" + std::to_string(i));
  }
  auto printer = PrinterAt(9600);
  options.ports.push_back("ttyPrinter");
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.baud, 9600);
  EXPECT_LT(r.elapsedMs, 2000);
  for (const auto& s : silent) EXPECT_EQ(s->RequestsOnceAt(5), 5u);
}

TEST_F(DetectTest, FindsThePrinterAt115200First) {
  auto printer = PrinterAt(115200);
  zuv::TDetectOptions options;
  options.ports = {"ttyPrinter", "ttySilent"};
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.baud, 115200);
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_EQ(r.notes[0].finding, TPortFinding::Answered);
  EXPECT_EQ(r.notes[1].finding, TPortFinding::Silent);
  // Named, the silent port is tried at every speed, in case a second
  // printer is on it.
  EXPECT_EQ(silent_->RequestsOnceAt(5), 5u);
  EXPECT_EQ(printer->RequestsOnceAt(2), 2u);  // probe and confirmation, at 115200 only
}

TEST_F(DetectTest, NoPrinterLeavesEveryPortFreeAndTheBudgetAsItWas) {
  Printer second(Transport::kPty, "ttySilent2");
  second.Emu([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  zuv::TDetectOptions options;
  options.ports = {"ttySilent", "ttySilent2", "ttyNoSuchPort"};
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  EXPECT_FALSE(r.found);
  ASSERT_EQ(r.notes.size(), 3u);
  EXPECT_EQ(r.notes[0].finding, TPortFinding::Silent);
  EXPECT_EQ(r.notes[1].finding, TPortFinding::Silent);
  EXPECT_EQ(r.notes[2].finding, TPortFinding::Unusable);
  EXPECT_EQ(r.notes[2].detail, "No such file or directory");
  EXPECT_EQ(zuv::linkState.replyBudgetMs, zuv::DefaultReplyBudgetMs);
  EXPECT_TRUE(PortIsFree("ttySilent"));
  EXPECT_TRUE(PortIsFree("ttySilent2"));
}

TEST_F(DetectTest, APortThatAnswersSomethingElseIsNotTakenForThePrinter) {
  Printer refusing(Transport::kPty, "ttyRefusing");
  refusing.Emu([](emu::PrinterEmulator& e) { e.InjectNack(emu::kAlways); });
  zuv::TDetectOptions options;
  options.ports = {"ttyRefusing"};
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  EXPECT_FALSE(r.found);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0].finding, TPortFinding::Silent);
  // Its NACK settles each speed at once: waiting out the probe budget at
  // each of the five speeds would take at least five budgets.
  EXPECT_LT(r.elapsedMs, 5 * zuv::DetectProbeBudgetMs);
  EXPECT_EQ(refusing.RequestsOnceAt(5), 5u);
}

TEST_F(DetectTest, APortHeldByAnotherProgramIsSkippedAndSaidSo) {
  auto held = PrinterAt(115200, "ttyHeld");
  auto printer = PrinterAt(19200);
  serial::TComPort holder;
  holder.SetPort("ttyHeld");
  holder.Open();
  zuv::TDetectOptions options;
  options.ports = {"ttyHeld", "ttyPrinter"};
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  holder.Close();
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.baud, 19200);
  EXPECT_EQ(r.notes[0].finding, TPortFinding::Busy);
  EXPECT_EQ(r.notes[0].detail, "held by another process");
  EXPECT_EQ(held->Requests(), 0u);
}

TEST_F(DetectTest, TheConsolesPortIsSkippedUnlessNamed) {
  auto printer = PrinterAt(57600);
  // Every port of the machine is named a console here, so that the search
  // over all ports opens only the test's own.
  const std::string consoles = ports_.Path() + "/consoles";
  {
    std::ofstream out(consoles);
    for (const std::string& port : zuv::TComPortZUV::GetPorts())
      if (port != "ttyPrinter") out << port << "                -W- (EC p a)    4:64\n";
  }
  zuv::TDetectOptions options;
  options.consolesFile = consoles;
  zuv::TDetectResult r = zuv::DetectPrinter(options);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.port, "ttyPrinter");
  EXPECT_EQ(r.baud, 57600);
  EXPECT_EQ(silent_->Requests(), 0u);
  bool sawSilentAsConsole = false;
  for (const zuv::TPortNote& note : r.notes) {
    if (note.port == "ttyPrinter") continue;
    EXPECT_EQ(note.finding, TPortFinding::Console) << note.port;
    sawSilentAsConsole |= note.port == "ttySilent";
  }
  EXPECT_TRUE(sawSilentAsConsole);

  // Named, the console's port is tried like any other, at every speed.
  options.ports = {"ttySilent", "ttyPrinter"};
  r = zuv::DetectPrinter(options);
  EXPECT_EQ(silent_->RequestsOnceAt(5), 5u);
  EXPECT_TRUE(r.found);
}

TEST_F(DetectTest, TheToolReportsWhatItFoundAndWhatItSkipped) {
  auto printer = PrinterAt(38400);
  serial::TComPort holder;
  holder.SetPort("ttySilent");
  holder.Open();
  RunResult r = RunTool({"detect", "ttySilent", "ttyPrinter"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("printer on ttyPrinter at 38400 baud"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("skipped ttySilent: held by another process"), std::string::npos) << r.err;

  r = RunTool({"--json", "detect", "ttyPrinter"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"port\":\"ttyPrinter\",\"baud\":38400"), std::string::npos) << r.out;
  holder.Close();

  printer.reset();
  r = RunTool({"detect", "ttySilent"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no answer on ttySilent"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("no printer found"), std::string::npos) << r.err;
}

TEST_F(DetectTest, TwoPrintersAreBothReportedAndTheFastestIsTheAnswer) {
  auto fast = PrinterAt(115200, "ttyFast");
  auto slow = PrinterAt(9600, "ttySlow");
  for (const auto& order : {std::vector<std::string>{"ttySlow", "ttyFast"},
                            std::vector<std::string>{"ttyFast", "ttySlow"}}) {
    zuv::TDetectOptions options;
    options.ports = order;
    const zuv::TDetectResult r = zuv::DetectPrinter(options);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.port, "ttyFast");
    EXPECT_EQ(r.baud, 115200);
    ASSERT_EQ(r.notes.size(), 2u);
    for (const zuv::TPortNote& note : r.notes) {
      EXPECT_EQ(note.finding, TPortFinding::Answered) << note.port;
      EXPECT_EQ(note.baud, note.port == "ttyFast" ? 115200 : 9600);
    }
  }
  const RunResult r = RunTool({"detect", "ttySlow", "ttyFast"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("printer on ttyFast at 115200 baud", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nanother printer on ttySlow at 9600 baud"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("no answer"), std::string::npos) << r.err;
}

TEST_F(DetectTest, TheSearchOfEveryPortSaysWhichItDidNotFinish) {
  auto printer = PrinterAt(115200);
  const std::string consoles = ports_.Path() + "/consoles";
  {
    std::ofstream out(consoles);
    for (const std::string& port : zuv::TComPortZUV::GetPorts())
      if (port != "ttyPrinter" && port != "ttySilent") out << port << "  -W- (EC p a)    4:64\n";
  }
  zuv::TDetectOptions options;
  options.consolesFile = consoles;
  const zuv::TDetectResult r = zuv::DetectPrinter(options);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.port, "ttyPrinter");
  bool sawSilent = false;
  for (const zuv::TPortNote& note : r.notes) {
    if (note.port != "ttySilent") continue;
    sawSilent = true;
    EXPECT_EQ(note.finding, TPortFinding::NotTried);
    EXPECT_NE(note.detail.find("115200"), std::string::npos) << note.detail;
  }
  EXPECT_TRUE(sawSilent);
  EXPECT_EQ(silent_->RequestsOnceAt(1), 1u);  // the first speed only
}

TEST_F(DetectTest, ATcpPortIsTriedOnceOnOneConnection) {
  emu::TcpServer server;
  ASSERT_TRUE(server.Start());
  zuv::TDetectOptions options;
  options.ports = {server.PortName(), "ttySilent"};
  zuv::TDetectResult r = zuv::DetectPrinter(options);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.port, server.PortName());
  EXPECT_EQ(r.baud, 0);
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_EQ(r.notes[0].finding, TPortFinding::Answered);
  EXPECT_EQ(r.notes[0].detail, "speed set by the device server");
  // Probe and confirmation on the one connection, which a device server
  // that takes one client at a time allows.
  EXPECT_EQ(server.Connections(), 1u);
  EXPECT_EQ(server.With([](emu::PrinterEmulator& e) { return e.RequestCount(); }), 2u);

  // A silent device server is tried once too, not at every speed.
  server.With([](emu::PrinterEmulator& e) { e.InjectSilence(emu::kAlways); });
  options.ports = {server.PortName()};
  r = zuv::DetectPrinter(options);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(server.Connections(), 2u);

  server.With([](emu::PrinterEmulator& e) { e.ClearFaults(); });
  RunResult run = RunTool({"detect", server.PortName()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("printer on " + server.PortName() + " (speed set by the device server)"),
            std::string::npos) << run.out;
  run = RunTool({"--json", "detect", server.PortName()});
  EXPECT_NE(run.out.find("\"baud\":null"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("speed set by the device server"), std::string::npos) << run.out;
}

TEST(ConsolePortsTest, FirstWordOfEachLine) {
  const std::string path = TestFile(
      "consoles", "ttyS0                -W- (EC p a)    4:64\ntty0                 -WU (E  p  )    4:1\n");
  EXPECT_EQ(zuv::ConsolePorts(path), (std::vector<std::string>{"ttyS0", "tty0"}));
  EXPECT_TRUE(zuv::ConsolePorts("/nonexistent/consoles").empty());
}

}  // namespace
}  // namespace clitest
