// File services of the operating system the program runs on, for the
// simulated machine's state files: whole-file reads, an exclusive lock,
// and an atomic replacement.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// Reads a whole file. False with `error` set to the system's reason.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error);

/// Writes `content` to `path` (created or truncated) and flushes it to disk.
bool WriteWholeFile(const std::string& path, const std::string& content, std::string* error);

/// Renames `from` over `to` in one step: readers see the old or the new
/// file, never a mix.
bool ReplaceFileAtomically(const std::string& from, const std::string& to, std::string* error);

/// Creates the folder and its parents when missing.
bool MakeDirectories(const std::string& path, std::string* error);

bool FileExists(const std::string& path);

/// An exclusive lock on a lock file, held until released or destroyed.
/// Waits for other holders. The lock belongs to this process alone: child
/// processes do not inherit it.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();
  bool Acquire(const std::string& path, std::string* error);
  /// Gives the lock up; nothing when it is not held.
  void Release();
  bool Held() const { return handle_ != -1; }

 private:
  intptr_t handle_ = -1;
};

}  // namespace platform
