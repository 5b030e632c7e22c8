// Windows only: owners of the handles device installation uses, so that
// every way out of a function releases them.
#pragma once

#include <utility>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

/// Owns an HDEVINFO (SetupDiDestroyDeviceInfoList).
class ScopedDevInfo {
 public:
  explicit ScopedDevInfo(HDEVINFO owned) : h_(owned) {}
  ScopedDevInfo(const ScopedDevInfo&) = delete;
  ScopedDevInfo& operator=(const ScopedDevInfo&) = delete;
  ~ScopedDevInfo() {
    if (IsValid()) SetupDiDestroyDeviceInfoList(h_);
  }
  HDEVINFO Get() const { return h_; }
  bool IsValid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HDEVINFO h_;
};

/// Owns an HINF (SetupCloseInfFile).
class ScopedInf {
 public:
  explicit ScopedInf(HINF owned) : h_(owned) {}
  ScopedInf(const ScopedInf&) = delete;
  ScopedInf& operator=(const ScopedInf&) = delete;
  ~ScopedInf() {
    if (IsValid()) SetupCloseInfFile(h_);
  }
  HINF Get() const { return h_; }
  bool IsValid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HINF h_;
};

/// Owns a default queue callback's context (SetupTermDefaultQueueCallback).
class ScopedQueueContext {
 public:
  explicit ScopedQueueContext(PVOID owned) : p_(owned) {}
  ScopedQueueContext(const ScopedQueueContext&) = delete;
  ScopedQueueContext& operator=(const ScopedQueueContext&) = delete;
  ~ScopedQueueContext() {
    if (p_ != nullptr) SetupTermDefaultQueueCallback(p_);
  }
  PVOID Get() const { return p_; }

 private:
  PVOID p_;
};

/// Owns a find handle (FindClose).
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE owned) : h_(owned) {}
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;
  ~ScopedFind() {
    if (IsValid()) FindClose(h_);
  }
  HANDLE Get() const { return h_; }
  bool IsValid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HANDLE h_;
};

/// Owns a LocalAlloc block, such as FormatMessageA's text (LocalFree).
template <typename T>
class ScopedLocal {
 public:
  ScopedLocal() = default;
  ScopedLocal(const ScopedLocal&) = delete;
  ScopedLocal& operator=(const ScopedLocal&) = delete;
  ~ScopedLocal() {
    if (p_ != nullptr) LocalFree(p_);
  }
  T* Get() const { return p_; }
  /// The place for a block the system allocates.
  T** Put() { return &p_; }

 private:
  T* p_ = nullptr;
};

}  // namespace platform::win32
