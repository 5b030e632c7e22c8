// POSIX only: the program's own path and child processes.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace platform {

std::string ModuleFileName() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

bool RunChildProcess(const std::string& applicationPath, const std::string& commandLine,
                     int* exitCode) {
  // The child gets the words a Windows runtime would have made of the
  // command line; no shell sees it.
  std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty()) words.push_back(applicationPath);
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, applicationPath.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return false;
  }
  *exitCode = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return true;
}

}  // namespace platform
