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

class NoSetup : public DeviceSetup {
 public:
  Win32Error InfClass(const std::string&, ClassGuid*, std::string*) override {
    return win32_error::kNotSupported;
  }
  Win32Error ClassDevices(const ClassGuid&, std::unique_ptr<DeviceInfoSet>* set) override {
    set->reset();
    return win32_error::kNotSupported;
  }
  Win32Error CreateDeviceInfoList(const ClassGuid&, std::unique_ptr<DeviceInfoSet>* set) override {
    set->reset();
    return win32_error::kNotSupported;
  }
  Win32Error UpdateDriver(const std::string&, const std::string&, bool* reboot) override {
    *reboot = false;
    return win32_error::kNotSupported;
  }
  Win32Error OpenInf(const std::string&, std::unique_ptr<InfFile>* inf) override {
    inf->reset();
    return win32_error::kNotSupported;
  }
  Win32Error CopyOemInf(const std::string&, uint32_t, std::string*) override {
    return win32_error::kNotSupported;
  }
  Win32Error UninstallOemInf(const std::string&, uint32_t) override {
    return win32_error::kNotSupported;
  }
};

class NoSystem : public System {
 public:
  Win32Error Version(OsVersionInfo*) override { return win32_error::kNotSupported; }
  bool MessageText(uint32_t, std::string*) override { return false; }
  bool Environment(const std::string&, std::string*) override { return false; }
  Win32Error Probe(const std::string&) override { return win32_error::kNotSupported; }
  Win32Error ListDirectory(const std::string&, std::vector<DirectoryEntry>*) override {
    return win32_error::kNotSupported;
  }
  Win32Error ReadContent(const std::string&, std::string*) override {
    return win32_error::kNotSupported;
  }
  Win32Error RemoveFile(const std::string&) override { return win32_error::kNotSupported; }
  Win32Error WindowsDirectory(std::string*) override { return win32_error::kNotSupported; }
  Win32Error SystemDirectory(std::string*) override { return win32_error::kNotSupported; }
  Win32Error ChangeDirectory(const std::string&) override { return win32_error::kNotSupported; }
};

}  // namespace

DeviceSetup& Machine::Setup() {
  static NoSetup none;
  return none;
}

System& Machine::Sys() {
  static NoSystem none;
  return none;
}

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
