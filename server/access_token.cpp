#include "server/access_token.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "server/private_files.h"

namespace zuvsrv {
namespace {

constexpr const char* kTokenEnv = "ZUV_SERVER_TOKEN";

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

std::string ReadTokenFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw TokenError(SystemError("cannot read token file " + path));
  std::ostringstream text;
  text << in.rdbuf();
  std::string token = Trimmed(text.str());
  if (token.empty()) throw TokenError("token file " + path + " is empty");
  return token;
}

std::string RandomHex(size_t bytes) {
  const std::string raw = SystemRandomBytes(bytes);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : raw) {
    hex += kHex[c >> 4];
    hex += kHex[c & 0x0F];
  }
  return hex;
}

// A new token file that only the owner can read; an existing one (another
// start won the race) is read instead.
std::string CreateTokenFile(const std::string& path) {
  const std::string token = RandomHex(kTokenBytes);
  if (!CreatePrivateFile(path, token + "\n")) return ReadTokenFile(path);
  return token;
}

}  // namespace

std::string LoadToken(const std::string& tokenFile, const std::string& stateDir) {
  if (!tokenFile.empty()) return ReadTokenFile(tokenFile);
  if (const char* env = std::getenv(kTokenEnv); env && *env) return env;
  const std::string path = stateDir + "/token";
  if (FileExists(path)) return ReadTokenFile(path);
  return CreateTokenFile(path);
}

std::string TokenSource(const std::string& tokenFile, const std::string& stateDir) {
  if (!tokenFile.empty()) return tokenFile;
  if (const char* env = std::getenv(kTokenEnv); env && *env) return std::string("$") + kTokenEnv;
  return stateDir + "/token";
}

std::vector<std::string> TokenWarnings(const std::string& tokenFile, const std::string& stateDir,
                                       const std::string& token) {
  std::vector<std::string> warnings;
  const std::string source = TokenSource(tokenFile, stateDir);
  if (source[0] != '$' && ReadableByOthers(source))
    warnings.push_back("the token file " + source + " is readable by others than its owner");
  if (token.size() < kMinTokenLength)
    warnings.push_back("the token from " + source + " is shorter than " +
                       std::to_string(kMinTokenLength) + " characters");
  return warnings;
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
  // Every byte of the presented string is looked at whatever the lengths.
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char other = b.empty() ? 0 : static_cast<unsigned char>(b[i % b.size()]);
    diff |= static_cast<unsigned char>(a[i]) ^ other;
  }
  return diff == 0;
}

}  // namespace zuvsrv
