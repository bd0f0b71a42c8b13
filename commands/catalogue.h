// The printer commands that the zuv tool and the print service offer, one
// row each: name, printer command, effect, arguments and result, the
// counter that settles a lost reply, help and labels, and how it runs
// against the driver. The tool's help and checks, the service's checks and
// settling and the API document all read these rows.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema.h"

namespace zuvcmd {

// What a command does to the printer, which decides what a lost reply means.
enum class Effect {
  Read,            // reads only: a lost reply is a plain failure, safe to repeat
  Prints,           // prints paper (or sounds): a lost reply is in doubt
  ChangesCounters,  // moves the fiscal counters (and prints): in doubt
  ChangesArticles,  // changes the article base: in doubt
};
std::string_view EffectName(Effect effect);  // "reads", "prints", …

// The printer counter whose reading before and after tells whether a
// command took effect, when its reply was lost.
enum class Counter {
  None,          // nothing tells: a person decides
  ReportNumber,  // the daily report number (z-report)
  ReceiptState,  // the open receipt's number and amounts paid (pay, close)
  ItemCount,     // the open receipt's item count (void)
};

// The printer command of `raw`: whichever the request names.
constexpr int kAnyCommand = -1;

// Payment types, in the printer's numbering.
constexpr std::array<std::string_view, 3> kPaymentTypes{"cash", "card", "cheque"};
// The type's number, or -1.
int PaymentIndex(std::string_view name);

// How one run ended, as the driver left it.
struct CommandOutcome {
  bool ok = false;            // a complete positive reply (every frame of a batch)
  bool acknowledged = false;  // the printer took the last request sent
  bool sent = false;          // at least one request went on the line
  int32_t errorCode = 0;      // the driver's ErrorCode after the run
  std::string message;        // the error text in the chosen language, "" on success
  // The fields `zuv --json` prints on success; null on failure, except a
  // batch that stopped partway, whose "stopped_at" is the index in
  // "articles" of the first article not programmed.
  Json result = nullptr;
  std::string text;           // the line the tool prints on success
};

// Told after each frame of a batch (program-articles): how many entries
// the printer has taken so far, of how many.
using Progress = std::function<void(size_t done, size_t total)>;

// What a runner leaves before the driver's state is read.
struct Ran {
  bool ok = false;
  Json result = nullptr;  // on success, or what a stopped batch did
  std::string text;
};
using Runner = std::function<Ran(const Json& args, const Progress& progress)>;

// Rules on arguments that span fields (from before to, lines within the
// width): run after the schema's checks, throws ArgumentError.
using CrossCheck = std::function<void(const Json& args)>;

// True: the command took effect; false: it did not; nothing: the readings
// do not tell (a reading lacks its field), so a person decides.
using SettleRule =
    std::function<std::optional<bool>(const Json& args, const Json& before, const Json& after)>;

struct Labels {
  std::string en;
  std::string sr;  // Serbian, Latin script
};

struct CommandInfo {
  std::string name{};        // the subcommand and route name: "z-report"
  int printerCommand = 0;    // command byte, the first one of a batch, or kAnyCommand
  Effect effect = Effect::Read;
  bool confirm = false;      // the tool asks `question` before running it
  std::string question{};
  Schema args = Object({});  // {} for a command without arguments
  CrossCheck crossCheck{};   // may be empty
  std::string rules{};       // the cross-field rules in words, for the document
  Json argsSchemaExtra = nullptr;  // JSON Schema keywords saying the cross check, or null
  Schema result = Object({});  // the result object of a successful run
  Counter counter = Counter::None;
  SettleRule settle{};       // empty when counter is None
  std::string help{};        // one line for --help and the API description
  Labels label{};
  Runner run{};
};

// Every printer command, in the order --help lists them.
const std::vector<CommandInfo>& Catalogue();
// The command of that name, or nullptr.
const CommandInfo* FindCommand(std::string_view name);

// A command with its arguments checked completely and put in normal form
// (amounts as "123.45" strings, dates as "yyyy-mm-dd", defaults filled in),
// ready to run. The same JSON shape as the service's request bodies.
struct CommandRequest {
  const CommandInfo* info = nullptr;
  Json args = Json::object();
};

// Checks `body` for the command `name` against its row: throws
// ArgumentError naming the first bad field; nothing reaches the printer.
CommandRequest CheckRequest(std::string_view name, const Json& body);

// A text argument holding characters the printer cannot print (it gets '?'
// for each): the field ("lines[1]", "articles[0].name") and what to say.
struct UnprintableText {
  std::string field;
  std::string message;  // "the printer cannot print \"☺\""
};
// Every such text argument of a checked request, in the order of the row.
std::vector<UnprintableText> FindUnprintable(const CommandRequest& request);

// Runs a checked request on the calling thread against the driver's open
// port (the caller opened it).
CommandOutcome Execute(const CommandRequest& request, const Progress& progress = {});

// Whether the printer acknowledged the last request and its reply never
// came (no reply in time, or the connection failed after the ACK).
bool ReplyLost(const CommandOutcome& outcome);

// Whether a failed outcome may have taken effect on the printer: its reply
// was lost after the ACK and the command does more than read.
bool InDoubt(const CommandInfo& info, const CommandOutcome& outcome);

// Reads the command's counter (see Counter) on the open port: the reading
// as JSON, or nothing when the printer did not answer.
std::optional<Json> ReadCounter(Counter counter);
// The schema of a counter's reading, for the API document.
Schema CounterSchema(Counter counter);

// The message of a driver error code in the chosen language, or a plain
// description when the table has none.
std::string ErrorText(int32_t code);

}  // namespace zuvcmd
