// Windows only: files, locks and atomic renames.
#include "platform/files.h"

#include <algorithm>
#include <string>

#include "platform/win32/holders.h"

namespace platform {
namespace {

// The system's text for the last error, without its line end.
std::string Reason() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = n > 0 && text != nullptr ? std::string(text, n) : std::string();
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason.empty() ? "error " + std::to_string(code) : reason;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  if (IsDirectory(path)) {
    *error = "is a directory";
    return false;
  }
  win32::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    *error = Reason();
    return false;
  }
  content->clear();
  char buffer[65536];
  while (true) {
    DWORD n = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr)) {
      *error = Reason();
      return false;
    }
    if (n == 0) return true;
    content->append(buffer, n);
  }
}

bool WriteWholeFile(const std::string& path, const std::string& content, std::string* error) {
  win32::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    *error = Reason();
    return false;
  }
  size_t done = 0;
  while (done < content.size()) {
    const size_t chunk = std::min<size_t>(content.size() - done, 1u << 30);
    DWORD n = 0;
    if (!WriteFile(file.Get(), content.data() + done, static_cast<DWORD>(chunk), &n, nullptr)) {
      *error = Reason();
      return false;
    }
    done += n;
  }
  if (!FlushFileBuffers(file.Get())) {
    *error = Reason();
    return false;
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to, std::string* error) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = Reason();
    return false;
  }
  return true;
}

bool MakeDirectories(const std::string& path, std::string* error) {
  // A UNC path's server and share are not folders to create.
  size_t start = 0;
  if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    int separators = 0;
    for (start = 2; start < path.size() && separators < 2; ++start) {
      if (IsSeparator(path[start])) ++separators;
    }
  }
  for (size_t i = start; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::string partial = path.substr(0, i);
    if (partial.empty() || partial.back() == ':' || IsSeparator(partial.back()) ||
        IsDirectory(partial)) {
      continue;
    }
    if (!CreateDirectoryA(partial.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = Reason();
      return false;
    }
  }
  return true;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (handle_ == -1) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED whole{};
  // Unlocked at once; a lock left to CloseHandle may linger.
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(file);
  handle_ = -1;
}

bool FileLock::Acquire(const std::string& path, std::string* error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = Reason();
    return false;
  }
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    *error = Reason();
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

}  // namespace platform
