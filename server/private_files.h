// What the service keeps from other accounts: the state directory, the
// token file, and the token's random bytes. Each platform has its own
// source; on Windows "private" is an explicit DACL (this account and
// SYSTEM), protected from what the folder above would pass on.
#pragma once

#include <cstddef>
#include <string>

namespace zuvsrv {

// `count` bytes from the system's random generator. Throws TokenError.
std::string SystemRandomBytes(size_t count);

// Makes the directory, if missing, open to its owner only; what is
// created in it later inherits that on Windows. Throws std::runtime_error.
void MakePrivateDir(const std::string& path);

// Creates `path` (it must not exist) readable and writable by the current
// account only, writes `text` and syncs it. False when the file already
// exists; throws TokenError on any other failure (and removes the file).
bool CreatePrivateFile(const std::string& path, const std::string& text);

bool FileExists(const std::string& path);

// Whether accounts other than the file's owner (and the system's own) may
// read `path`; false when it cannot be examined.
bool ReadableByOthers(const std::string& path);

}  // namespace zuvsrv
