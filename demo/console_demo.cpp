// Walks through every printer command against the port named on the command
// line and prints one line per outcome: "# " success, "* " failure.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/log_sink.h"
#include "driver/comportzuv.h"
#include "serial/codepage.h"

using namespace zuv;

namespace {

// Code page 0 is UTF-8.
std::string Utf8(const std::u16string& text) { return serial::EncodeCodePage(text, 0); }

std::string Reason() {
  if (ErrorCode != 0 && ErrorCode < 1000 && TComPortZUV::HasErrorMessage(ErrorCode))
    return std::to_string(ErrorCode) + " " + TComPortZUV::ErrorMessage(ErrorCode);
  return std::to_string(ErrorCode);
}

void Outcome(const std::string& what, bool ok, const std::string& value = "") {
  if (ok)
    std::printf("# %s%s%s\n", what.c_str(), value.empty() ? "" : ": ", value.c_str());
  else
    std::printf("* %s failed, ErrorCode %s\n", what.c_str(), Reason().c_str());
  std::fflush(stdout);
}

// Prints the traffic log to standard error with --debug.
class StderrSink : public diag::LogSink {
 public:
  void AppendLine(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void SetTimeText(const std::string&) override {}
  void SetIterationText(const std::string&) override {}
};

constexpr const char* kUsage =
    "usage: zuv_demo [--debug] [--baud N] PORT\n"
    "Runs every printer command once against PORT (a device, or an emulator's\n"
    "link name such as ttyZUV0) and prints one line per outcome.\n"
    "  --debug    print the traffic log on standard error\n"
    "  --baud N   line speed (default 115200)\n"
    "  --help     this text\n";

struct Arguments {
  std::string port;
  int baud = 115200;
  bool debug = false;
  bool help = false;
};

// False on anything this program does not take; an option is never a port.
bool ParseArguments(int argc, char** argv, Arguments& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--debug") {
      a.debug = true;
    } else if (arg == "--baud" && i + 1 < argc) {
      char* end = nullptr;
      const long baud = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || baud <= 0 || baud > 10'000'000) return false;
      a.baud = int(baud);
    } else if (arg.empty() || arg[0] == '-' || !a.port.empty()) {
      return false;
    } else {
      a.port = arg;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  const bool parsed = ParseArguments(argc, argv, args);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!parsed) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& port = args.port;
  const int baud = args.baud;
  const bool debug = args.debug;
  StderrSink sink;
  if (debug) diag::SetLogSink(&sink);

  TComPortZUV::Init("SRB");
  std::string list;
  for (const auto& p : TComPortZUV::GetPorts()) list += (list.empty() ? "" : ", ") + p;
  std::printf(">> ports: %s\n", list.empty() ? "(none)" : list.c_str());
  if (port.empty()) {
    std::fprintf(stderr, "usage: zuv_demo [--debug] [--baud N] PORT\n");
    return 2;
  }
  if (!TComPortZUV::OpenPort(port, baud, true, debug)) {
    Outcome("open " + port, false);
    return 1;
  }
  const auto settings = TComPortZUV::GetSettings();
  std::printf(">> %s %s\n", settings.at(0).c_str(), settings.at(1).c_str());

  Outcome("connection test", TFiscal::TestVeze());
  const std::string clock = TFiscal::CitajVreme();
  Outcome("device time", !clock.empty(), clock);
  const std::u16string id = TFiscal::CitajIBFM();
  Outcome("fiscal memory", !id.empty(), Utf8(id));
  const int receipt = TFiscal::CitajBI();
  Outcome("receipt number", receipt != -1, std::to_string(receipt));
  const int daily = TFiscal::CitajBD();
  Outcome("daily report number", daily != -1, std::to_string(daily));

  Outcome("delete article base", TFiscal::BrisanjeBaze());
  TFiscal::DodajArtikal(1, u"Хлеб", 0, 1, 65.0);
  TFiscal::DodajArtikal(2, u"Mleko 1l", 1, 1, 129.99);
  TFiscal::DodajArtikal(3, u"Čokolada", 0, 2, 189.5);
  Outcome("program 3 articles", TFiscal::ProgramirajArtikle());
  Outcome("price change", TFiscal::PromenaCene(2, 134.99));

  const TStanjeRacuna state = TFiscal::StanjeRacuna();
  char text[200];
  std::snprintf(text, sizeof text, "subtotal %.2f, total %.2f, items %d, paid %.2f/%.2f/%.2f, receipt %d",
                state.MEDJUZBIR, state.UKUPNO, state.BROJ_STAVKI, state.PLACENO_GOTOVINA,
                state.PLACENO_KARTICA, state.PLACENO_CEK, state.BROJ_RACUNA);
  Outcome("receipt state", state.UspesanOdgovor, text);
  if (state.UspesanOdgovor && state.BROJ_STAVKI > 0) {
    Outcome("card payment 100.00", TFiscal::NaplataRacuna(1, 100.0));
    Outcome("close receipt", TFiscal::AutomatskiZatvoriRacun());
  }

  std::vector<TNonfiscalLine> lines = {
      {u"NARUDŽBINA", 0, true, u"", u""},
      {u"", 2, false, u"Sto 4", u"12:30"},
      {u"Ћевапи x2", -1, false, u"", u""},
      {u"Hvala!", 1, false, u"", u""},
  };
  Outcome("non-fiscal receipt", TFiscal::NefiskalniIsecak(lines, 34));
  Outcome("paper feed", TFiscal::TrakuPomeri());
  Outcome("paper cut", TFiscal::TrakuSeci());
  Outcome("buzzer", TFiscal::ZvucniSignal());
  Outcome("X report", TFiscal::PresekStanja());
  const double today = NowDateTime();
  Outcome("periodic report", TFiscal::PeriodicniIzvestaj(today - 30, today));
  Outcome("Z report", TFiscal::DnevniIzvestaj());
  return 0;
}
