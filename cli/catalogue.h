// The printer commands that the zuv tool and the print service offer: their
// names, what each does to the printer, the checks on their arguments and
// how each runs against the driver. One list for both, so that the tool and
// the service can never disagree on what a command means.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace zuvcli {

using Json = nlohmann::ordered_json;

// What a command does to the printer, which decides what a lost reply means.
enum class Effect {
  Read,          // reads only: a lost reply is a plain failure, safe to repeat
  Prints,        // prints paper (and may fiscalise): a lost reply is in doubt
  ChangesState,  // changes what the printer stores: a lost reply is in doubt
};

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

struct CommandInfo {
  std::string name;     // the subcommand and route name: "z-report"
  int printerCommand;   // command byte, the first one of a batch, or kAnyCommand
  std::string help;     // one line for --help and the API description
  Effect effect;
  Counter counter;
  bool confirm;         // the tool asks before running it
};

// Every printer command, in the order --help lists them.
const std::vector<CommandInfo>& Catalogue();
// The command of that name, or nullptr.
const CommandInfo* FindCommand(std::string_view name);

// Bad arguments: `field` names the argument ("amount", "articles[2].price")
// and, for input read from a file, `where` is "FILE:LINE".
class ArgumentError : public std::runtime_error {
 public:
  ArgumentError(std::string field, const std::string& message)
      : std::runtime_error(message), field_(std::move(field)) {}
  const std::string& Field() const { return field_; }

 private:
  std::string field_;
};

// A command with its arguments checked completely and put in normal form
// (amounts as "123.45" strings, dates as "yyyy-mm-dd", articles and lines
// as arrays), ready to run. The same JSON shape as the service's request
// bodies: {"type":"cash","amount":"300.00"}, {"from":..,"to":..},
// {"articles":[{"code","name","unit","tax","price"}]},
// {"lines":[..],"width":34}, {"code":..,"price":..},
// {"command":86,"data":"0A0B","long":false}.
struct CommandRequest {
  const CommandInfo* info = nullptr;
  Json args = Json::object();
};

// Checks `body` for the command `name`: throws ArgumentError naming the
// first bad field; nothing reaches the printer.
CommandRequest CheckRequest(std::string_view name, const Json& body);

// How one run ended, as the driver left it.
struct CommandOutcome {
  bool ok = false;            // a complete positive reply (every frame of a batch)
  bool acknowledged = false;  // the printer took the last request sent
  bool sent = false;          // at least one request went on the line
  int32_t errorCode = 0;      // the driver's ErrorCode after the run
  std::string message;        // the error text in the chosen language, "" on success
  Json result = Json::object();  // the fields `zuv --json` prints on success
  std::string text;           // the line the tool prints on success
};

// The `result` of program-articles that stopped partway also holds
// "stopped_at": the index in "articles" of the first article not programmed.

// Told after each frame of a batch (program-articles): how many entries
// the printer has taken so far, of how many.
using Progress = std::function<void(size_t done, size_t total)>;

// Runs a checked request on the calling thread against the driver's open
// port (the caller opened it).
CommandOutcome Execute(const CommandRequest& request, const Progress& progress = {});

// Whether the printer acknowledged the last request and its reply never
// came (no reply in time, or the connection failed after the ACK).
bool ReplyLost(const CommandOutcome& outcome);

// Whether a failed outcome may have taken effect on the printer: its reply
// was lost after the ACK and the command prints or changes its state.
bool InDoubt(const CommandInfo& info, const CommandOutcome& outcome);

// Reads the command's counter (see Counter) on the open port: the reading
// as JSON, or nothing when the printer did not answer.
std::optional<Json> ReadCounter(Counter counter);

// The message of a driver error code in the chosen language, or a plain
// description when the table has none.
std::string ErrorText(int32_t code);

}  // namespace zuvcli
