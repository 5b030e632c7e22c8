#include "platform/machine.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
Machine* g_machine = nullptr;
}

namespace {

// What a backend without registry or devices answers: every call fails as
// an unsupported request does on Windows.
class NoRegistry : public Registry {
 public:
  Win32Error OpenKey(RegistryRoot, std::string_view, RegistryAccess,
                     std::unique_ptr<RegistryKey>* key) override {
    key->reset();
    return win32_error::kNotSupported;
  }
};

class NoDevices : public DeviceIo {
 public:
  Win32Error Open(const std::string&, std::unique_ptr<Device>* device) override {
    device->reset();
    return win32_error::kNotSupported;
  }
  Win32Error QueryDosDevice(const std::string&, uint32_t, std::string* names) override {
    names->clear();
    return win32_error::kNotSupported;
  }
};

}  // namespace

Registry& Machine::Reg() {
  static NoRegistry none;
  return none;
}

DeviceIo& Machine::Devices() {
  static NoDevices none;
  return none;
}

void SetMachine(Machine* machine) { g_machine = machine; }

Machine& CurrentMachine() {
  if (g_machine == nullptr) {
    std::fputs("internal error: no machine selected\n", stderr);
    std::abort();
  }
  return *g_machine;
}

}  // namespace platform
