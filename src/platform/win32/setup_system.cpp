// Windows only: the installer's system services: version, message texts,
// environment, directories and files.
#include <string>
#include <vector>

#include "platform/win32/holders.h"
#include "platform/win32/setup_api.h"
#include "platform/win32/setup_holders.h"

namespace platform::win32 {
namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148);

Win32Error LastError() {
  const DWORD code = GetLastError();
  return code == 0 ? static_cast<Win32Error>(ERROR_GEN_FAILURE) : static_cast<Win32Error>(code);
}

class Win32System final : public System {
 public:
  Win32Error Version(OsVersionInfo* version) override {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return LastError();
    *version = {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    return 0;
  }

  bool MessageText(uint32_t id, std::string* text) override {
    ScopedLocal<char> buffer;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        nullptr, id, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<char*>(buffer.Put()), 0, nullptr);
    if (length == 0 || buffer.Get() == nullptr) return false;
    text->assign(buffer.Get(), length);
    return true;
  }

  bool Environment(const std::string& name, std::string* value) override {
    const DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size == 0) return false;
    std::string buffer(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(), size);
    if (length == 0 || length >= size) return false;
    buffer.resize(length);
    *value = buffer;
    return true;
  }

  Win32Error Probe(const std::string& path) override {
    WIN32_FIND_DATAA data;
    ScopedFind find(FindFirstFileA(path.c_str(), &data));
    return find.IsValid() ? 0 : LastError();
  }

  Win32Error ListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    WIN32_FIND_DATAA data;
    const std::string pattern = directory + "\\*";
    ScopedFind find(FindFirstFileA(pattern.c_str(), &data));
    if (!find.IsValid()) return LastError();
    do {
      entries->push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(find.Get(), &data));
    const DWORD end = GetLastError();
    return end == ERROR_NO_MORE_FILES ? 0 : static_cast<Win32Error>(end);
  }

  Win32Error ReadContent(const std::string& path, std::string* content) override {
    // Shared as a text-mode open of the C library shares: an INF another
    // process holds open for writing is still read.
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return LastError();
    content->clear();
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
      content->append(buffer, read);
    }
    return 0;
  }

  Win32Error RemoveFile(const std::string& path) override {
    return DeleteFileA(path.c_str()) ? 0 : LastError();
  }

  Win32Error WindowsDirectory(std::string* path) override {
    char buffer[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
      return length == 0 ? LastError() : ERROR_INSUFFICIENT_BUFFER;
    *path = buffer;
    return 0;
  }

  Win32Error SystemDirectory(std::string* path) override {
    char buffer[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
      return length == 0 ? LastError() : ERROR_INSUFFICIENT_BUFFER;
    *path = buffer;
    return 0;
  }

  Win32Error ChangeDirectory(const std::string& path) override {
    return SetCurrentDirectoryA(path.c_str()) ? 0 : LastError();
  }
};

}  // namespace

System& RealSystem() {
  static Win32System system;
  return system;
}

}  // namespace platform::win32
