#include "detect_report.h"

namespace zuvcmd {

nlohmann::ordered_json BaudJson(int baud) {
  return baud ? nlohmann::ordered_json(baud) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json PortNotesJson(const zuv::TDetectResult& result) {
  auto notes = nlohmann::ordered_json::array();
  for (const zuv::TPortNote& note : result.notes)
    notes.push_back({{"port", note.port},
                     {"finding", zuv::PortFindingName(note.finding)},
                     {"baud", BaudJson(note.baud)},
                     {"detail", note.detail}});
  return notes;
}

}  // namespace zuvcmd
