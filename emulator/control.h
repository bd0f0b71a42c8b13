// The emulator's control protocol: one command per line, for an operator on
// the executable's standard input and for scripts. The executable's
// command-line options map onto the same commands.
//
//   sale <price> <qty> <name...>  sell an item; opens a receipt if none is
//                                 open (price 12.34, qty 1 or 0.5)
//   sell <code> [qty]             sell an article of the programmed base
//   discount <amount>             discount on the open receipt
//   void                          void the open receipt
//   status                        state, counters and active faults
//   articles                      the article base
//   requests [n]                  the last n requests received (10)
//   clock now|<ms>|<dd.mm.yyyy HH:MM:SS> [stopped]
//                                 set the device clock (device time, ms
//                                 since 2000-01-01); "stopped" freezes it
//   id <8 characters>             fiscal memory identifier
//   receipt-number <n>            number of the last closed receipt
//   report-number <n>             number of the last Z report
//   nack <n|always>               NACK the next n requests
//   error <code> [n|always]       error reply to the next n requests (1)
//   silent <n|always>             no answer to the next n requests
//   ack-silent <n|always>         ACK, then nothing, for the next n
//   wait <n|always> <ms> <code>...
//                                 wait codes (hex: 08, 09, 07:xx) before the
//                                 next n replies, <ms> apart
//   delay <ms>                    reply frame <ms> after the ACK
//   chunk <bytes> <ms> | chunk off
//                                 replies in pieces, <ms> apart
//   baud <n>                      pace both directions (0: off)
//   clear                         end all faults (pacing stays)
//   help                          this list
//   quit                          stop the emulator
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

extern const char* const kControlHelp;

}  // namespace emu
