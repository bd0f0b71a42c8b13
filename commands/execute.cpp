// Execute: a checked request run against the driver, and its outcome; and
// each command's runner.
#include <cstdio>

#include "driver/comportzuv.h"
#include "driver/hex.h"
#include "driver/protocol.h"
#include "input.h"
#include "parts.h"
#include "utf8.h"

namespace zuvcmd {

namespace {

using zuv::TFiscal;

// Articles per programming frame, as the printer's own software sends them.
constexpr size_t kArticlesPerFrame = 10;

double Amount(const Json& text) { return *ParseMoney(text.get<std::string>(), INT64_MAX) / 100.0; }

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

Ran Fixed(bool (*run)(), const char* done) { return {run(), Json::object(), done}; }

// A number read back, -1 being the driver's failure value.
Ran Number(int32_t value, const char* key) {
  return {value != -1 && zuv::ErrorCode == zuv::linkerr::Ok, {{key, value}}, std::to_string(value)};
}

// Queues one article with the driver; false when the driver refuses it.
bool AddArticle(const Json& a) {
  const auto name = Utf8ToUtf16(a["name"].get<std::string>());
  return TFiscal::DodajArtikal(a["code"].get<int32_t>(), *name, a["unit"].get<int32_t>(),
                               a["tax"].get<int32_t>(), Amount(a["price"]));
}

}  // namespace

namespace parts {

Ran Test(const Json&, const Progress&) { return Fixed(&TFiscal::TestVeze, "the printer answered"); }

Ran Clock(const Json&, const Progress&) {
  const std::string time = TFiscal::CitajVreme();
  return {!time.empty(), {{"clock", time}}, time};
}

Ran FiscalId(const Json&, const Progress&) {
  const std::string id = Utf16ToUtf8(TFiscal::CitajIBFM());
  return {!id.empty(), {{"fiscal_id", id}}, id};
}

Ran ReceiptNumber(const Json&, const Progress&) { return Number(TFiscal::CitajBI(), "receipt_number"); }
Ran ReportNumber(const Json&, const Progress&) { return Number(TFiscal::CitajBD(), "report_number"); }
Ran ItemCount(const Json&, const Progress&) {
  return Number(TFiscal::StanjeRacunaBrojStavki(), "items");
}
Ran XReport(const Json&, const Progress&) { return Fixed(&TFiscal::PresekStanja, "X report printed"); }
Ran ZReport(const Json&, const Progress&) { return Fixed(&TFiscal::DnevniIzvestaj, "Z report printed"); }
Ran DeleteArticles(const Json&, const Progress&) {
  return Fixed(&TFiscal::BrisanjeBaze, "article base deleted");
}
Ran Close(const Json&, const Progress&) {
  return Fixed(&TFiscal::AutomatskiZatvoriRacun, "receipt closed");
}
Ran Void(const Json&, const Progress&) { return Fixed(&TFiscal::StornoCeoRacun, "receipt voided"); }
Ran Feed(const Json&, const Progress&) { return Fixed(&TFiscal::TrakuPomeri, "paper fed"); }
Ran Cut(const Json&, const Progress&) { return Fixed(&TFiscal::TrakuSeci, "paper cut"); }
Ran Beep(const Json&, const Progress&) { return Fixed(&TFiscal::ZvucniSignal, "buzzer sounded"); }

Ran ReceiptState(const Json&, const Progress&) {
  const zuv::TStanjeRacuna r = TFiscal::StanjeRacuna();
  const Json data = {{"subtotal", MoneyText(r.MEDJUZBIR)},
                     {"total", MoneyText(r.UKUPNO)},
                     {"items", r.BROJ_STAVKI},
                     {"paid_cash", MoneyText(r.PLACENO_GOTOVINA)},
                     {"paid_card", MoneyText(r.PLACENO_KARTICA)},
                     {"paid_cheque", MoneyText(r.PLACENO_CEK)},
                     {"receipt_number", r.BROJ_RACUNA}};
  const std::string text = "subtotal " + MoneyText(r.MEDJUZBIR) + "\ntotal " + MoneyText(r.UKUPNO) +
                           "\nitems " + std::to_string(r.BROJ_STAVKI) + "\npaid in cash " +
                           MoneyText(r.PLACENO_GOTOVINA) + "\npaid by card " +
                           MoneyText(r.PLACENO_KARTICA) + "\npaid by cheque " +
                           MoneyText(r.PLACENO_CEK) + "\nreceipt number " +
                           std::to_string(r.BROJ_RACUNA);
  return {r.UspesanOdgovor, data, text};
}

Ran Periodic(const Json& args, const Progress&) {
  const bool ok = TFiscal::PeriodicniIzvestaj(*ParseDate(args["from"].get<std::string>()),
                                              *ParseDate(args["to"].get<std::string>()));
  return {ok, {{"from", args["from"]}, {"to", args["to"]}}, "periodic report printed"};
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

Ran Price(const Json& args, const Progress&) {
  const bool ok = TFiscal::PromenaCene(args["code"].get<int32_t>(), Amount(args["price"]));
  return {ok, {{"code", args["code"]}, {"price", args["price"]}},
          "price of article " + std::to_string(args["code"].get<int64_t>()) + " set to " +
              args["price"].get<std::string>()};
}

Ran Pay(const Json& args, const Progress&) {
  const std::string type = args["type"].get<std::string>();
  const bool ok = TFiscal::NaplataRacuna(PaymentIndex(type), Amount(args["amount"]));
  return {ok, {{"type", type}, {"amount", args["amount"]}},
          "paid " + args["amount"].get<std::string>() + " (" + type + ")"};
}

Ran Nonfiscal(const Json& args, const Progress&) {
  const int width = args["width"].get<int>();
  std::vector<zuv::TNonfiscalLine> lines;
  for (const Json& line : args["lines"]) lines.push_back(ParseMarkupLine(line.get<std::string>(), "", width));
  return {TFiscal::NefiskalniIsecak(lines, width), {{"lines", lines.size()}},
          "printed " + Count(lines.size(), "line", "lines")};
}

Ran Raw(const Json& args, const Progress&) {
  const std::string hex = args["data"].get<std::string>();  // checked: pairs of digits
  const std::vector<uint8_t> data = hex.empty() ? std::vector<uint8_t>{} : *ParseHexWords({hex});
  const bool ok =
      zuv::TComPortZUV::SendFrame(args["command"].get<int>(), data, true, args["long"].get<bool>());
  std::vector<uint8_t> reply(static_cast<size_t>(std::max(zuv::RxExpectDataLen - 1, 0)));
  if (ok && !reply.empty() && !zuv::ReplyField(0, static_cast<int>(reply.size()), reply.data()))
    reply.clear();
  std::string text = zuv::TBytesToHEX(reply);
  if (!text.empty()) text.erase(0, 1);  // the traffic log's leading blank
  std::string pairs = text;
  std::erase(pairs, ' ');  // pairs of digits, as requests give data
  return {ok, {{"data", pairs}}, text.empty() ? "(no data)" : text};
}

}  // namespace parts

CommandOutcome Execute(const CommandRequest& request, const Progress& progress) {
  const Ran ran = request.info->run(request.args, progress);
  CommandOutcome outcome;
  outcome.errorCode = zuv::ErrorCode;
  outcome.acknowledged = zuv::TComPortZUV::LastRequestAcknowledged();
  // A report counts as done once acknowledged, yet its lost reply still
  // matters to whoever might print it again; a line that fails after the
  // ACK loses the reply just the same.
  outcome.ok = ran.ok && !ReplyLost(outcome);
  // A failure that leaves the code at 0 was refused by the driver itself.
  outcome.sent = outcome.acknowledged || outcome.errorCode != zuv::linkerr::Ok || ran.ok;
  if (outcome.ok) {
    outcome.result = ran.result;
    outcome.text = ran.text;
  } else {
    // A failed read has no result; a batch that stopped keeps what it did.
    if (ran.result.is_object() && ran.result.contains("stopped_at")) outcome.result = ran.result;
    outcome.message = outcome.errorCode == zuv::linkerr::Ok
                          ? "the driver refused the input; nothing was sent"
                          : ErrorText(outcome.errorCode);
  }
  return outcome;
}

}  // namespace zuvcmd
