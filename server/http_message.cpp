#include "server/http_message.h"

#include <algorithm>
#include <cctype>

namespace zuvsrv {
namespace {

char Lower(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool Caseless::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

bool EqualCaseless(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string HttpRequest::Header(const std::string& name) const {
  const auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

std::optional<std::string> HttpRequest::Param(const std::string& name) const {
  const auto it = params.find(name);
  if (it == params.end()) return std::nullopt;
  return it->second;
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
  for (auto& [key, old] : headers)
    if (EqualCaseless(key, name)) {
      old = value;
      return;
    }
  headers.emplace_back(name, value);
}

bool HttpResponse::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return EqualCaseless(h.first, name); });
}

std::string HttpResponse::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (EqualCaseless(key, name)) return value;
  return {};
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += plusIsSpace && c == '+' ? ' ' : c;
    }
  }
  return out;
}

void SplitTarget(const std::string& target, std::string& path,
                 std::map<std::string, std::string>& params) {
  const size_t question = target.find('?');
  path = PercentDecode(std::string_view(target).substr(0, question), false);
  if (question == std::string::npos) return;
  std::string_view query = std::string_view(target).substr(question + 1);
  while (!query.empty()) {
    const size_t amp = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, amp);
    const size_t equals = std::min(pair.find('='), pair.size());
    const std::string name = PercentDecode(pair.substr(0, equals), true);
    const std::string value =
        equals < pair.size() ? PercentDecode(pair.substr(equals + 1), true) : std::string();
    if (!name.empty()) params.emplace(name, value);
    query.remove_prefix(std::min(amp + 1, query.size()));
  }
}

}  // namespace zuvsrv
