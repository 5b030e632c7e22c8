// Windows only: the program's own path and child processes.
#include "platform/process.h"

#include <string>
#include <vector>

#include "platform/win32/holders.h"

namespace platform {

std::string ModuleFileName() {
  // Long paths do not fit MAX_PATH: grow until the name is not cut.
  std::vector<char> buffer(MAX_PATH);
  while (buffer.size() <= 32768) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), size);
    if (n == 0) return {};
    if (n < size) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

namespace {

// Ctrl+C and Ctrl+Break while a child runs are the child's: the console
// sends them to both, the child ends, and the shell goes on. A handler,
// unlike SetConsoleCtrlHandler(nullptr, TRUE), is not inherited, so the
// child keeps the default reaction.
BOOL WINAPI IgnoreBreak(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

class BreaksIgnored {
 public:
  BreaksIgnored() : installed_(SetConsoleCtrlHandler(IgnoreBreak, TRUE) != FALSE) {}
  ~BreaksIgnored() {
    if (installed_) SetConsoleCtrlHandler(IgnoreBreak, FALSE);
  }
  BreaksIgnored(const BreaksIgnored&) = delete;
  BreaksIgnored& operator=(const BreaksIgnored&) = delete;

 private:
  bool installed_;
};

}  // namespace

bool RunChildProcess(const std::string& applicationPath, const std::string& commandLine,
                     int* exitCode) {
  // The program is found from the command line's first word, as the
  // command interpreter would; a bare path is quoted into a line.
  std::string line = commandLine.empty() ? "\"" + applicationPath + "\"" : commandLine;
  std::vector<char> mutableLine(line.begin(), line.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  BreaksIgnored breaks;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  win32::ScopedHandle process(info.hProcess);
  win32::ScopedHandle thread(info.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.Get(), &code)) {
    return false;
  }
  *exitCode = static_cast<int>(code);
  return true;
}

}  // namespace platform
