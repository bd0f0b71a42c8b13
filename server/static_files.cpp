#include "server/static_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "server/http_reply.h"

namespace zuvsrv {
namespace {

namespace fs = std::filesystem;

// The real path, links and ".." resolved; "" when it does not exist.
std::string RealPath(const std::string& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(fs::path(path), ec);
  return ec ? std::string() : real.string();
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

StaticFiles::StaticFiles(const std::string& folder) {
  if (!folder.empty() && IsDirectory(folder)) root_ = RealPath(folder);
}

bool StaticFiles::Serve(const std::string& path, HttpResponse& res) const {
  if (root_.empty() || path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
    return false;
  std::string real = RealPath(root_ + path);
  if (!real.empty() && IsDirectory(real)) real = RealPath(real + "/index.html");
  // Links and ".." may lead anywhere: only what really lies inside is served.
  if (real.empty() || real.compare(0, root_.size() + 1, root_ + char(fs::path::preferred_separator)) != 0 || IsDirectory(real))
    return false;
  std::ifstream in(real, std::ios::binary);
  if (!in) return false;
  res.status = status::kOk;
  res.SetContent(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                 ContentTypeOf(real));
  res.SetHeader("Cache-Control", "no-cache");
  return true;
}

std::string ContentTypeOf(const std::string& name) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},   {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},     {".json", "application/json"},
      {".svg", "image/svg+xml"},               {".png", "image/png"},
      {".ico", "image/x-icon"},                {".txt", "text/plain; charset=utf-8"},
      {".webmanifest", "application/manifest+json"},
  };
  for (const auto& [extension, type] : kTypes)
    if (EndsWith(name, extension)) return type;
  return "application/octet-stream";
}

}  // namespace zuvsrv
