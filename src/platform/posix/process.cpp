// POSIX only: the program's own path and child processes.
#include <signal.h>
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
  // Ctrl+C while the child runs is the child's: the terminal sends SIGINT
  // to both, the child ends, and the shell goes on. The child gets the
  // reaction the shell itself had.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &previous);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (previous.sa_handler != SIG_IGN) {
    sigset_t reset;
    sigemptyset(&reset);
    sigaddset(&reset, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &reset);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  }
  pid_t pid = 0;
  const bool started =
      posix_spawn(&pid, applicationPath.c_str(), nullptr, &attributes, argv.data(), environ) == 0;
  posix_spawnattr_destroy(&attributes);
  int wstatus = 0;
  bool waited = started;
  while (started && waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      waited = false;
      break;
    }
  }
  sigaction(SIGINT, &previous, nullptr);
  if (!waited) return false;
  *exitCode = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return true;
}

}  // namespace platform
