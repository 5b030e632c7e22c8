// Windows only: the registry through the Reg* calls.
#include "platform/win32/registry.h"

#include <string>
#include <utility>

#include "platform/win32/windows_api.h"

namespace platform::win32 {
namespace {

/// Owns an open HKEY (RegCloseKey).
class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }

  HKEY Get() const { return key_; }
  HKEY* Put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

class Win32Key final : public RegistryKey {
 public:
  HKEY* Put() { return key_.Put(); }

  Win32Error QueryValue(std::string_view name, uint32_t* type, void* data,
                        uint32_t* size) override {
    const std::string text(name);
    DWORD valueType = 0;
    DWORD room = size != nullptr ? *size : 0;
    LONG status = RegQueryValueExA(key_.Get(), text.c_str(), nullptr, &valueType,
                                   static_cast<BYTE*>(data), size != nullptr ? &room : nullptr);
    if (type != nullptr && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)) {
      *type = valueType;
    }
    if (size != nullptr) *size = room;
    return static_cast<Win32Error>(status);
  }

  Win32Error SetValue(std::string_view name, uint32_t type, const void* data,
                      uint32_t size) override {
    const std::string text(name);
    return static_cast<Win32Error>(
        RegSetValueExA(key_.Get(), text.c_str(), 0, type, static_cast<const BYTE*>(data), size));
  }

 private:
  ScopedKey key_;
};

class Win32Registry final : public Registry {
 public:
  Win32Error OpenKey(RegistryRoot, std::string_view path, RegistryAccess access,
                     std::unique_ptr<RegistryKey>* key) override {
    key->reset();
    const std::string text(path);
    auto opened = std::make_unique<Win32Key>();
    const REGSAM sam = access == RegistryAccess::kAllAccess ? KEY_ALL_ACCESS : KEY_READ;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, text.c_str(), 0, sam, opened->Put());
    if (status == ERROR_SUCCESS) *key = std::move(opened);
    return static_cast<Win32Error>(status);
  }
};

}  // namespace

Registry& RealRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace platform::win32
