// System services of the platform seam the installer needs: the version,
// message texts, the environment, directories and files by Windows path.
// Results are Win32 error numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

/// What GetVersionExA reports (OSVERSIONINFOA).
struct OsVersionInfo {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
};

/// One entry of a directory listing (WIN32_FIND_DATAA).
struct DirectoryEntry {
  std::string name;
  bool directory = false;
};

class System {
 public:
  virtual ~System() = default;
  /// GetVersionExA with the size field set to 148.
  virtual Win32Error Version(OsVersionInfo* version) = 0;
  /// FormatMessageA(FROM_SYSTEM | ALLOCATE_BUFFER, id, language 0x400):
  /// false when the system has no text for `id`. The text is as the
  /// system gives it, line end included.
  virtual bool MessageText(uint32_t id, std::string* text) = 0;
  /// An environment variable; false when it is not set.
  virtual bool Environment(const std::string& name, std::string* value) = 0;
  /// FindFirstFileA on `path` used as a probe: 0 when something is there
  /// (file or directory), else the error (kFileNotFound, kPathNotFound).
  virtual Win32Error Probe(const std::string& path) = 0;
  /// FindFirstFileA / FindNextFileA over "<directory>\*": every entry,
  /// "." and ".." included when the system lists them.
  virtual Win32Error ListDirectory(const std::string& directory,
                                   std::vector<DirectoryEntry>* entries) = 0;
  /// The whole content of a file, as bytes.
  virtual Win32Error ReadContent(const std::string& path, std::string* content) = 0;
  /// DeleteFileA (named so that the SDK's DeleteFile macro cannot rename it).
  virtual Win32Error RemoveFile(const std::string& path) = 0;
  /// GetWindowsDirectoryA.
  virtual Win32Error WindowsDirectory(std::string* path) = 0;
  /// GetSystemDirectoryA.
  virtual Win32Error SystemDirectory(std::string* path) = 0;
  /// SetCurrentDirectoryA.
  virtual Win32Error ChangeDirectory(const std::string& path) = 0;
};

}  // namespace platform
