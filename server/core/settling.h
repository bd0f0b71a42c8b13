// Whether a job whose reply was lost took effect, told by the printer
// counter it changes: the reading taken before the job was sent against one
// taken after, with no other job sent in between. The rules are the
// command rows' own (commands/catalogue.h); this picks the row.
#pragma once

#include <optional>

#include "commands/catalogue.h"

namespace zuvsrv {

using Json = nlohmann::ordered_json;

// True: the job took effect; false: it did not; nothing: the readings do
// not tell (a reading lacks its field), so a person decides.
std::optional<bool> TookEffect(zuvcmd::Counter counter, const Json& args, const Json& before,
                               const Json& after);

}  // namespace zuvsrv
