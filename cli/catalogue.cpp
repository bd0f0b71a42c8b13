#include "catalogue.h"

#include <algorithm>

#include "driver/comportzuv.h"
#include "driver/protocol.h"

namespace zuvcli {

namespace cmd = zuv::cmd;

const std::vector<CommandInfo>& Catalogue() {
  using enum Effect;
  using enum Counter;
  static const std::vector<CommandInfo> commands = {
      {"test", cmd::ConnectionTest, "connection test", Read, None, false},
      {"clock", cmd::ReadClock, "read the device clock", Read, None, false},
      {"fiscal-id", cmd::ReadFiscalMemoryId, "read the fiscal memory identifier", Read, None, false},
      {"receipt-number", cmd::ReceiptState, "read the receipt number", Read, None, false},
      {"report-number", cmd::DailyReportNumber, "read the daily report number", Read, None, false},
      {"x-report", cmd::InterimReport, "print the interim (X) report", Prints, None, false},
      {"z-report", cmd::DailyReport, "print the daily (Z) report, closing the fiscal day (asks first)",
       Prints, ReportNumber, true},
      {"periodic-report", cmd::PeriodicReport,
       "print the periodic report between two dates (dd.mm.yyyy or yyyy-mm-dd)", Prints, None, false},
      {"program-articles", cmd::ProgramArticles,
       "program articles from a CSV file: code,name,unit,tax group,price", ChangesState, None, false},
      {"change-price", cmd::ChangePrice, "change an article's price", ChangesState, None, false},
      {"delete-articles", cmd::DeleteArticleBase, "delete the printer's article base (asks first)",
       ChangesState, None, true},
      {"pay", cmd::Payment, "pay the open receipt: TYPE cash|card|cheque, AMOUNT", Prints,
       ReceiptState, false},
      {"close", cmd::Payment, "close the open receipt, paying what is left in cash", Prints,
       ReceiptState, false},
      {"void", cmd::VoidReceipt, "void the open receipt", Prints, ItemCount, false},
      {"receipt-state", cmd::ReceiptState, "read the open receipt's state", Read, None, false},
      {"item-count", cmd::ReceiptState, "read the open receipt's item count", Read, None, false},
      {"nonfiscal", cmd::NonfiscalPacket, "print a non-fiscal receipt from a text file or standard input",
       Prints, None, false},
      {"feed", cmd::FeedPaper, "feed the paper", Prints, None, false},
      {"cut", cmd::CutPaper, "cut the paper", Prints, None, false},
      {"beep", cmd::Buzzer, "sound the buzzer", ChangesState, None, false},
      {"raw", kAnyCommand,
       "send one frame: CMD (decimal or 0x..) and data bytes in hex; prints the reply's data",
       ChangesState, None, false},
  };
  return commands;
}

const CommandInfo* FindCommand(std::string_view name) {
  const auto& commands = Catalogue();
  const auto found = std::find_if(commands.begin(), commands.end(),
                                  [&](const CommandInfo& c) { return c.name == name; });
  return found == commands.end() ? nullptr : &*found;
}

bool ReplyLost(const CommandOutcome& outcome) {
  return outcome.acknowledged && (outcome.errorCode == zuv::linkerr::NoReply ||
                                  outcome.errorCode == zuv::linkerr::PortFault);
}

bool InDoubt(const CommandInfo& info, const CommandOutcome& outcome) {
  return !outcome.ok && ReplyLost(outcome) && info.effect != Effect::Read;
}

std::optional<Json> ReadCounter(Counter counter) {
  using zuv::TFiscal;
  switch (counter) {
    case Counter::None:
      return std::nullopt;
    case Counter::ReportNumber: {
      const int32_t number = TFiscal::CitajBD();
      if (number == -1 || zuv::ErrorCode != zuv::linkerr::Ok) return std::nullopt;
      return Json{{"report_number", number}};
    }
    case Counter::ReceiptState: {
      const zuv::TStanjeRacuna r = TFiscal::StanjeRacuna();
      if (!r.UspesanOdgovor) return std::nullopt;
      return Json{{"receipt_number", r.BROJ_RACUNA}, {"items", r.BROJ_STAVKI},
                  {"total", r.UKUPNO},               {"paid_cash", r.PLACENO_GOTOVINA},
                  {"paid_card", r.PLACENO_KARTICA},  {"paid_cheque", r.PLACENO_CEK}};
    }
    case Counter::ItemCount: {
      const int32_t items = TFiscal::StanjeRacunaBrojStavki();
      if (items == -1 || zuv::ErrorCode != zuv::linkerr::Ok) return std::nullopt;
      return Json{{"items", items}};
    }
  }
  return std::nullopt;
}

std::string ErrorText(int32_t code) {
  using zuv::linkerr::UnlistedOffset;
  if (zuv::TComPortZUV::HasErrorMessage(code)) return zuv::TComPortZUV::ErrorMessage(code);
  if (code > UnlistedOffset)
    return "printer error " + std::to_string(code - UnlistedOffset) +
           " (not in the message table; code " + std::to_string(code) + ")";
  return "no message for this code";
}

}  // namespace zuvcli
