#include "settling.h"

#include <algorithm>

namespace zuvsrv {

namespace {

// Whether `args` are arguments of the row: only its fields, its required
// ones present. pay and close share a counter and differ by their fields.
bool TakesArgs(const zuvcmd::CommandInfo& info, const Json& args) {
  if (!args.is_object()) return false;
  const auto& fields = info.args.fields;
  for (const auto& [key, value] : args.items())
    if (std::none_of(fields.begin(), fields.end(), [&](const auto& f) { return f.name == key; }))
      return false;
  return std::all_of(fields.begin(), fields.end(),
                     [&](const auto& f) { return !f.required || args.contains(f.name); });
}

}  // namespace

std::optional<bool> TookEffect(zuvcmd::Counter counter, const Json& args, const Json& before,
                               const Json& after) {
  for (const zuvcmd::CommandInfo& info : zuvcmd::Catalogue())
    if (info.counter == counter && info.settle && TakesArgs(info, args))
      return info.settle(args, before, after);
  return std::nullopt;
}

}  // namespace zuvsrv
