// Replacing a file so that readers see the old or the new contents, never a
// part: a temporary file in the same directory, fsync, rename (Windows:
// FlushFileBuffers, MoveFileEx with write-through).
#pragma once

#include <functional>
#include <string>

namespace serial {

// Throws std::runtime_error (with the system's text) when the file cannot be
// replaced; the old file is then untouched and no temporary file is left.
void WriteFileAtomically(const std::string& path, const std::string& contents);

// Reads the whole file; false when it does not exist, throws on other errors.
bool ReadWholeFile(const std::string& path, std::string& contents);

// Creates the directory and its parents (0700 for new ones); throws on failure.
void MakeDirectories(const std::string& path);

// Tests only: called with the temporary file's path just before the rename.
// A hook that throws stands for a crash at that point.
void SetBeforeRenameHook(std::function<void(const std::string&)> hook);

// Tests only: stands in for flushing the temporary file's descriptor to the
// disk; returns 0 or an errno. Empty: the real fsync. Windows: the
// descriptor is -1 and the result a Win32 error code.
void SetFileSyncHook(std::function<int(int fd)> hook);

}  // namespace serial
