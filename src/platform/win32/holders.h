// Windows only: owners of COM pointers, BSTRs, VARIANTs, SAFEARRAYs and
// kernel handles, so that every way out of a function releases them.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

/// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  /// Takes over a reference the caller already owns.
  explicit ComPtr(T* owned) : p_(owned) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  /// Adds a reference of its own to `borrowed`.
  static ComPtr Share(T* borrowed) {
    if (borrowed != nullptr) borrowed->AddRef();
    return ComPtr(borrowed);
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  /// Releases the held reference and returns the place for a new one, as
  /// an out-parameter of a COM call.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  /// Hands the reference to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }

  /// QueryInterface for U; the status of the query.
  template <typename U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(iid, out->PutVoid());
  }

 private:
  T* p_ = nullptr;
};

/// Owns a BSTR (SysFreeString). A null BSTR stands for an absent text.
class Bstr {
 public:
  Bstr() = default;
  /// A copy of `text`; ends the process when out of memory.
  explicit Bstr(std::wstring_view text);
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }

  /// A copy of `*text`, or a null BSTR when `text` is null.
  static Bstr OrNull(const std::wstring* text);

  BSTR Get() const { return b_; }
  BSTR* Put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  /// Hands the BSTR to the caller (for example into a VARIANT).
  BSTR Detach() { return std::exchange(b_, nullptr); }
  /// The text; empty for a null BSTR.
  std::wstring Text() const { return ToText(b_); }
  /// The text of a BSTR someone else owns; empty for a null one.
  static std::wstring ToText(BSTR b) {
    return b == nullptr ? std::wstring() : std::wstring(b, SysStringLen(b));
  }

 private:
  BSTR b_ = nullptr;
};

/// Owns a VARIANT: initialised on construction, cleared on destruction.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }

  VARIANT* Get() { return &v_; }
  const VARIANT& Ref() const { return v_; }
  /// Clears the held value and returns the place for a new one.
  VARIANT* Put() {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

/// Owns a SAFEARRAY (SafeArrayDestroy).
class SafeArray {
 public:
  SafeArray() = default;
  explicit SafeArray(SAFEARRAY* owned) : a_(owned) {}
  SafeArray(const SafeArray&) = delete;
  SafeArray& operator=(const SafeArray&) = delete;
  ~SafeArray() {
    if (a_ != nullptr) SafeArrayDestroy(a_);
  }

  SAFEARRAY* Get() const { return a_; }
  SAFEARRAY** Put() {
    if (a_ != nullptr) SafeArrayDestroy(std::exchange(a_, nullptr));
    return &a_;
  }
  /// Hands the array to the caller (for example into a VARIANT).
  SAFEARRAY* Detach() { return std::exchange(a_, nullptr); }

 private:
  SAFEARRAY* a_ = nullptr;
};

/// Owns a kernel handle (CloseHandle). Null and INVALID_HANDLE_VALUE both
/// mean none.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE owned) : h_(owned) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (IsValid()) CloseHandle(h_);
  }

  HANDLE Get() const { return h_; }
  bool IsValid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace platform::win32
