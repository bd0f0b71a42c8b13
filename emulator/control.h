// The emulator's control protocol: one command per line, for an operator on
// the executable's standard input and for scripts. The executable's
// command-line options map onto the same commands.
//
// The commands, their arguments and what they do are listed once, in the
// table in control.cpp; "help" prints it. Answers end in '\n'; a refused
// command answers "error: ..." (a usage error "error: usage: ...").
//
// "counts", for scripts and tests that check what reached the printer:
//   received N              request frames received, good or bad
//   executed all N          requests carried out
//   executed <command> N    carried out, by command number (decimal), for
//                           each command carried out at least once
// A request is carried out when the printer did what it asks: answered
// with a reply or an ACK, or ACKed and then kept silent on purpose
// ("ack-silent"); neither a refused nor a NACKed nor an unanswered one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "printer_emulator.h"

namespace emu {

struct ControlResult {
  bool ok = true;
  bool quit = false;
  std::string text;  // the answer, one or more lines, each ending in '\n'
};

ControlResult RunControl(PrinterEmulator& emulator, std::string_view line);

// "name:price:qty" (qty optional, 1 by default); the name may hold colons.
std::optional<SaleItem> ParseSaleItem(std::string_view text);

// "dd.mm.yyyy HH:MM:SS", a time as the printer shows it, as a device timestamp.
std::optional<int64_t> ParseDeviceTime(std::string_view text);

// One line per command: its usage and what it does.
std::string ControlHelp();

}  // namespace emu
