// The web console's files: served only from inside their folder, with the
// content type of the file's real name.
#pragma once

#include <string>

#include "server/http_message.h"

namespace zuvsrv {

class StaticFiles {
 public:
  // An empty or missing folder serves nothing.
  explicit StaticFiles(const std::string& folder);
  // Fills `res` when `path` names a file whose real path lies inside the
  // folder ("/" and folders mean their index.html); false otherwise.
  bool Serve(const std::string& path, HttpResponse& res) const;

 private:
  std::string root_;  // the folder's real path, or "" when there is none
};

// "text/html; charset=utf-8" for "index.html"; octet-stream when unknown.
std::string ContentTypeOf(const std::string& name);

}  // namespace zuvsrv
