// POSIX only: files, locks and atomic renames.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace platform {
namespace {
std::string Reason() { return std::strerror(errno); }
}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Reason();
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    *error = "is a directory";
    return false;
  }
  content->clear();
  // Machine files run to megabytes: one block instead of a doubling string.
  if (S_ISREG(st.st_mode) && st.st_size > 0) content->reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = Reason();
      close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Reason();
    return false;
  }
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = Reason();
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) {
    *error = Reason();
    close(fd);
    return false;
  }
  if (close(fd) != 0) {
    *error = Reason();
    return false;
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    *error = Reason();
    return false;
  }
  return true;
}

bool MakeDirectories(const std::string& path, std::string* error) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = Reason();
        return false;
      }
    }
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (handle_ >= 0) close(static_cast<int>(handle_));  // closing drops the lock
  handle_ = -1;
}

bool FileLock::Acquire(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Reason();
    return false;
  }
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      *error = Reason();
      close(fd);
      return false;
    }
  }
  handle_ = fd;
  return true;
}

}  // namespace platform
