// The service's access token: where it comes from, and how a presented one
// is compared. The token itself is never logged.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zuvsrv {

class TokenError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr size_t kTokenBytes = 32;

// From `tokenFile` when given, else from ZUV_SERVER_TOKEN, else from
// STATE_DIR/token, which is created (random, hex, mode 0600) at first
// start. Throws TokenError.
std::string LoadToken(const std::string& tokenFile, const std::string& stateDir);

// Where the token was found or made, for the operator (never the token).
std::string TokenSource(const std::string& tokenFile, const std::string& stateDir);

// What the operator should hear about the token: a file that others may
// read, a token too short to resist guessing. Never the token itself.
std::vector<std::string> TokenWarnings(const std::string& tokenFile, const std::string& stateDir,
                                       const std::string& token);
constexpr size_t kMinTokenLength = 32;

// Equal strings, in a time that depends on neither's content.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

}  // namespace zuvsrv
