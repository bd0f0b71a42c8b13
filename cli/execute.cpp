// Execute: a checked request run against the driver, and its outcome.
#include <cstdio>
#include <functional>
#include <map>

#include "catalogue.h"
#include "driver/comportzuv.h"
#include "driver/protocol.h"
#include "driver/hex.h"
#include "input.h"
#include "utf8.h"

namespace zuvcli {

namespace {

using zuv::TFiscal;

// Articles per programming frame, as the printer's own software sends them.
constexpr size_t kArticlesPerFrame = 10;

// What a command left before the driver's state is read: whether it
// succeeded, its result fields and its line of text.
struct Ran {
  bool ok = false;
  Json result = Json::object();
  std::string text;
};

std::string Money(double amount) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", amount);
  return text;
}

double Amount(const Json& text) { return *ParseMoney(text.get<std::string>(), INT64_MAX) / 100.0; }

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

Ran Fixed(bool (*run)(), const char* done) { return {run(), Json::object(), done}; }

// A number read back, -1 being the driver's failure value.
Ran Number(int32_t value, const char* key) {
  return {value != -1 && zuv::ErrorCode == zuv::linkerr::Ok, {{key, value}}, std::to_string(value)};
}

Ran ReceiptState(const Json&) {
  const zuv::TStanjeRacuna r = TFiscal::StanjeRacuna();
  const Json data = {{"subtotal", r.MEDJUZBIR},         {"total", r.UKUPNO},
                     {"items", r.BROJ_STAVKI},          {"paid_cash", r.PLACENO_GOTOVINA},
                     {"paid_card", r.PLACENO_KARTICA}, {"paid_cheque", r.PLACENO_CEK},
                     {"receipt_number", r.BROJ_RACUNA}};
  const std::string text =
      "subtotal " + Money(r.MEDJUZBIR) + "\ntotal " + Money(r.UKUPNO) + "\nitems " +
      std::to_string(r.BROJ_STAVKI) + "\npaid in cash " + Money(r.PLACENO_GOTOVINA) +
      "\npaid by card " + Money(r.PLACENO_KARTICA) + "\npaid by cheque " +
      Money(r.PLACENO_CEK) + "\nreceipt number " + std::to_string(r.BROJ_RACUNA);
  return {r.UspesanOdgovor, data, text};
}

Ran Periodic(const Json& args) {
  const bool ok = TFiscal::PeriodicniIzvestaj(*ParseDate(args["from"].get<std::string>()),
                                              *ParseDate(args["to"].get<std::string>()));
  return {ok, {{"from", args["from"]}, {"to", args["to"]}}, "periodic report printed"};
}

// Queues one article with the driver; false when the driver refuses it.
bool AddArticle(const Json& a) {
  const auto name = Utf8ToUtf16(a["name"].get<std::string>());
  return TFiscal::DodajArtikal(a["code"].get<int32_t>(), *name, a["unit"].get<int32_t>(),
                               a["tax"].get<int32_t>(), Amount(a["price"]));
}

Ran Program(const Json& args, const Progress& progress) {
  const Json& articles = args["articles"];
  size_t done = 0;
  while (done < articles.size()) {
    const size_t end = std::min(articles.size(), done + kArticlesPerFrame);
    bool queued = true;
    for (size_t i = done; i < end && queued; ++i) queued = AddArticle(articles[i]);
    // The driver's own limit refused an article: nothing of this frame goes out.
    if (!queued && zuv::bufferArtikala) zuv::bufferArtikala->clear();
    if (!queued || !TFiscal::ProgramirajArtikle())
      return {false, {{"articles", done}, {"stopped_at", done}}, ""};
    done = end;
    if (progress) progress(done, articles.size());
  }
  return {true, {{"articles", done}}, "programmed " + Count(done, "article", "articles")};
}

Ran Price(const Json& args) {
  const double price = Amount(args["price"]);
  const bool ok = TFiscal::PromenaCene(args["code"].get<int32_t>(), price);
  return {ok, {{"code", args["code"]}, {"price", price}},
          "price of article " + std::to_string(args["code"].get<int64_t>()) + " set to " +
              args["price"].get<std::string>()};
}

int PaymentType(const std::string& name) { return name == "cash" ? 0 : name == "card" ? 1 : 2; }

Ran Pay(const Json& args) {
  const std::string type = args["type"].get<std::string>();
  const double amount = Amount(args["amount"]);
  const bool ok = TFiscal::NaplataRacuna(PaymentType(type), amount);
  return {ok, {{"type", PaymentType(type)}, {"amount", amount}},
          "paid " + args["amount"].get<std::string>() + " (" + type + ")"};
}

Ran Nonfiscal(const Json& args) {
  const int width = args["width"].get<int>();
  std::vector<zuv::TNonfiscalLine> lines;
  for (const Json& line : args["lines"]) lines.push_back(ParseMarkupLine(line.get<std::string>(), "", width));
  return {TFiscal::NefiskalniIsecak(lines, width), {{"lines", lines.size()}},
          "printed " + Count(lines.size(), "line", "lines")};
}

Ran Raw(const Json& args) {
  std::vector<uint8_t> data;
  const std::string hex = args["data"].get<std::string>();
  for (size_t i = 0; i + 1 < hex.size(); i += 2) data.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  const bool ok = zuv::TComPortZUV::SendFrame(args["command"].get<int>(), data, true, args["long"].get<bool>());
  std::vector<uint8_t> reply(static_cast<size_t>(std::max(zuv::RxExpectDataLen - 1, 0)));
  if (ok && !reply.empty() && !zuv::ReplyField(0, static_cast<int>(reply.size()), reply.data()))
    reply.clear();
  std::string text = zuv::TBytesToHEX(reply);
  if (!text.empty()) text.erase(0, 1);  // the traffic log's leading blank
  return {ok, {{"data", text}}, text.empty() ? "(no data)" : text};
}

using Runner = std::function<Ran(const Json&, const Progress&)>;

// Most commands have no batch to tell the progress of.
template <class F>
Runner Once(F run) {
  return [run](const Json& args, const Progress&) { return run(args); };
}

const std::map<std::string, Runner, std::less<>>& Runners() {
  static const std::map<std::string, Runner, std::less<>> runners = {
      {"test", Once([](const Json&) { return Fixed(&TFiscal::TestVeze, "the printer answered"); })},
      {"clock", Once([](const Json&) {
         const std::string time = TFiscal::CitajVreme();
         return Ran{!time.empty(), {{"clock", time}}, time};
       })},
      {"fiscal-id", Once([](const Json&) {
         const std::string id = Utf16ToUtf8(TFiscal::CitajIBFM());
         return Ran{!id.empty(), {{"fiscal_id", id}}, id};
       })},
      {"receipt-number", Once([](const Json&) { return Number(TFiscal::CitajBI(), "receipt_number"); })},
      {"report-number", Once([](const Json&) { return Number(TFiscal::CitajBD(), "report_number"); })},
      {"item-count", Once([](const Json&) { return Number(TFiscal::StanjeRacunaBrojStavki(), "items"); })},
      {"receipt-state", Once(ReceiptState)},
      {"x-report", Once([](const Json&) { return Fixed(&TFiscal::PresekStanja, "X report printed"); })},
      {"z-report", Once([](const Json&) { return Fixed(&TFiscal::DnevniIzvestaj, "Z report printed"); })},
      {"delete-articles", Once([](const Json&) { return Fixed(&TFiscal::BrisanjeBaze, "article base deleted"); })},
      {"close", Once([](const Json&) { return Fixed(&TFiscal::AutomatskiZatvoriRacun, "receipt closed"); })},
      {"void", Once([](const Json&) { return Fixed(&TFiscal::StornoCeoRacun, "receipt voided"); })},
      {"feed", Once([](const Json&) { return Fixed(&TFiscal::TrakuPomeri, "paper fed"); })},
      {"cut", Once([](const Json&) { return Fixed(&TFiscal::TrakuSeci, "paper cut"); })},
      {"beep", Once([](const Json&) { return Fixed(&TFiscal::ZvucniSignal, "buzzer sounded"); })},
      {"periodic-report", Once(Periodic)},
      {"program-articles", Program},
      {"change-price", Once(Price)},
      {"pay", Once(Pay)},
      {"nonfiscal", Once(Nonfiscal)},
      {"raw", Once(Raw)},
  };
  return runners;
}

}  // namespace

CommandOutcome Execute(const CommandRequest& request, const Progress& progress) {
  const Ran ran = Runners().at(request.info->name)(request.args, progress);
  CommandOutcome outcome;
  outcome.errorCode = zuv::ErrorCode;
  outcome.acknowledged = zuv::TComPortZUV::LastRequestAcknowledged();
  // A report counts as done once acknowledged, yet its lost reply still
  // matters to whoever might print it again; a line that fails after the
  // ACK loses the reply just the same.
  outcome.ok = ran.ok && !ReplyLost(outcome);
  // A failure that leaves the code at 0 was refused by the driver itself.
  outcome.sent = outcome.acknowledged || outcome.errorCode != zuv::linkerr::Ok || ran.ok;
  outcome.result = ran.result;
  if (outcome.ok) {
    outcome.text = ran.text;
  } else {
    outcome.message = outcome.errorCode == zuv::linkerr::Ok
                          ? "the driver refused the input; nothing was sent"
                          : ErrorText(outcome.errorCode);
  }
  return outcome;
}

}  // namespace zuvcli
