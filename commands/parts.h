// The pieces the rows of the catalogue are made of: how each command runs,
// the rules on arguments that span fields, and how a lost reply is settled.
// Only the catalogue's own files use them.
#pragma once

#include "catalogue.h"

namespace zuvcmd::parts {

// Runners (execute.cpp).
Ran Test(const Json&, const Progress&);
Ran Clock(const Json&, const Progress&);
Ran FiscalId(const Json&, const Progress&);
Ran ReceiptNumber(const Json&, const Progress&);
Ran ReportNumber(const Json&, const Progress&);
Ran XReport(const Json&, const Progress&);
Ran ZReport(const Json&, const Progress&);
Ran Periodic(const Json& args, const Progress&);
Ran Program(const Json& args, const Progress& progress);
Ran Price(const Json& args, const Progress&);
Ran DeleteArticles(const Json&, const Progress&);
Ran Pay(const Json& args, const Progress&);
Ran Close(const Json&, const Progress&);
Ran Void(const Json&, const Progress&);
Ran ReceiptState(const Json&, const Progress&);
Ran ItemCount(const Json&, const Progress&);
Ran Nonfiscal(const Json& args, const Progress&);
Ran Feed(const Json&, const Progress&);
Ran Cut(const Json&, const Progress&);
Ran Beep(const Json&, const Progress&);
Ran Raw(const Json& args, const Progress&);

// Cross-field checks (request_checks.cpp).
void FromNotAfterTo(const Json& args);
void LinesFitTheWidth(const Json& args);
void DataFitsTheFrame(const Json& args);
// The JSON Schema form of DataFitsTheFrame.
Json DataFitsTheFrameSchema();

// Settling rules (settling.cpp).
std::optional<bool> ReportPrinted(const Json& args, const Json& before, const Json& after);
std::optional<bool> ReceiptVoided(const Json& args, const Json& before, const Json& after);
std::optional<bool> ReceiptClosed(const Json& args, const Json& before, const Json& after);
std::optional<bool> PaymentTaken(const Json& args, const Json& before, const Json& after);

}  // namespace zuvcmd::parts
