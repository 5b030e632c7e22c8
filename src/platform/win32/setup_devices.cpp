// Windows only: device information sets, INF files and driver updates
// through SetupAPI and newdev.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/setup_api.h"
#include "platform/win32/setup_holders.h"

namespace platform::win32 {
namespace {

// The layouts the installer's calls rely on (64-bit builds: a 32-bit
// process on 64-bit Windows cannot update drivers).
static_assert(sizeof(void*) == 8, "install must be a 64-bit program");
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 320);
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8);
static_assert(sizeof(SP_REMOVEDEVICE_PARAMS) == 16);
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20);
static_assert(DI_NEEDRESTART == kDiNeedRestart && DI_NEEDREBOOT == kDiNeedReboot);
static_assert(DIF_REMOVE == kDifRemove && DIF_PROPERTYCHANGE == kDifPropertyChange &&
              DIF_REGISTERDEVICE == kDifRegisterDevice);
static_assert(SPDRP_HARDWAREID == 1 && SPDRP_CONFIGFLAGS == 10 && SPDRP_ENUMERATOR_NAME == 22);
static_assert((SPINST_REGISTRY | SPINST_FILES) == kSpinstRegistryAndFiles);
static_assert(SP_COPY_FORCE_NEWER == kSpCopyForceNewer &&
              SP_COPY_REPLACEONLY == kSpCopyReplaceOnly);
static_assert(SUOI_FORCEDELETE == kSuoiForceDelete);
static_assert(static_cast<Win32Error>(ERROR_NO_SUCH_DEVINST) == setup_error::kNoSuchDevinst);

Win32Error LastError() {
  const DWORD code = GetLastError();
  // A call that failed without saying why still failed.
  return code == 0 ? static_cast<Win32Error>(ERROR_GEN_FAILURE) : static_cast<Win32Error>(code);
}

bool ParseGuid(const std::string& text, GUID* guid) {
  unsigned long data1 = 0;
  unsigned data2 = 0, data3 = 0, b[8] = {};
  char end = 0;
  if (std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &data1, &data2,
                  &data3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &end) != 11) {
    return false;
  }
  guid->Data1 = static_cast<DWORD>(data1);
  guid->Data2 = static_cast<WORD>(data2);
  guid->Data3 = static_cast<WORD>(data3);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<BYTE>(b[i]);
  return true;
}

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

class Win32DeviceSet final : public DeviceInfoSet {
 public:
  explicit Win32DeviceSet(HDEVINFO owned) : set_(owned) {}

  Win32Error Enum(uint32_t index, DeviceElement* element) override {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInfo(set_.Get(), index, &data)) return LastError();
    return Keep(data, element);
  }

  Win32Error Create(std::string_view name, const ClassGuid& cls, DeviceElement* element) override {
    GUID guid;
    if (!ParseGuid(cls, &guid)) return ERROR_INVALID_PARAMETER;
    const std::string text(name);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiCreateDeviceInfoA(set_.Get(), text.c_str(), &guid, nullptr, nullptr,
                                  DICD_GENERATE_ID, &data)) {
      return LastError();
    }
    return Keep(data, element);
  }

  Win32Error GetProperty(DeviceElement element, DeviceProperty property, void* data, uint32_t size,
                         uint32_t* required) override {
    DWORD needed = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set_.Get(), At(element), static_cast<DWORD>(property),
                                           nullptr, static_cast<BYTE*>(data), size, &needed)) {
      *required = needed;
      return LastError();
    }
    *required = needed;
    return 0;
  }

  Win32Error SetProperty(DeviceElement element, DeviceProperty property, const void* data,
                         uint32_t size) override {
    if (!SetupDiSetDeviceRegistryPropertyA(set_.Get(), At(element), static_cast<DWORD>(property),
                                           static_cast<const BYTE*>(data), size)) {
      return LastError();
    }
    return 0;
  }

  Win32Error SetClassInstallParams(DeviceElement element,
                                   const ClassInstallParams& params) override {
    BOOL done = FALSE;
    if (params.function == DIF_REMOVE) {
      SP_REMOVEDEVICE_PARAMS remove{};
      remove.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
      remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
      remove.Scope = params.scope;
      remove.HwProfile = params.hwProfile;
      done = SetupDiSetClassInstallParamsA(set_.Get(), At(element), &remove.ClassInstallHeader,
                                           sizeof remove);
    } else {
      SP_PROPCHANGE_PARAMS change{};
      change.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
      change.ClassInstallHeader.InstallFunction = params.function;
      change.StateChange = params.stateChange;
      change.Scope = params.scope;
      change.HwProfile = params.hwProfile;
      done = SetupDiSetClassInstallParamsA(set_.Get(), At(element), &change.ClassInstallHeader,
                                           sizeof change);
    }
    return done ? 0 : LastError();
  }

  Win32Error CallClassInstaller(uint32_t function, DeviceElement element) override {
    return SetupDiCallClassInstaller(function, set_.Get(), At(element)) ? 0 : LastError();
  }

  Win32Error GetInstallFlags(DeviceElement element, uint32_t* flags) override {
    SP_DEVINSTALL_PARAMS_A params{};
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsA(set_.Get(), At(element), &params)) return LastError();
    *flags = params.Flags;
    return 0;
  }

 private:
  Win32Error Keep(const SP_DEVINFO_DATA& data, DeviceElement* element) {
    elements_.push_back(std::make_unique<SP_DEVINFO_DATA>(data));
    *element = static_cast<DeviceElement>(elements_.size() - 1);
    return 0;
  }
  SP_DEVINFO_DATA* At(DeviceElement element) {
    return element < elements_.size() ? elements_[element].get() : nullptr;
  }

  ScopedDevInfo set_;
  std::vector<std::unique_ptr<SP_DEVINFO_DATA>> elements_;
};

class Win32Inf final : public InfFile {
 public:
  explicit Win32Inf(HINF owned) : inf_(owned) {}

  Win32Error LineText(std::string_view section, std::string_view key, std::string* text) override {
    const std::string s(section), k(key);
    DWORD size = 0;
    if (!SetupGetLineTextA(nullptr, inf_.Get(), s.c_str(), k.c_str(), nullptr, 0, &size)) {
      return LastError();
    }
    std::string buffer(size, '\0');
    if (!SetupGetLineTextA(nullptr, inf_.Get(), s.c_str(), k.c_str(), buffer.data(), size, &size)) {
      return LastError();
    }
    *text = buffer.c_str();
    return 0;
  }

  long LineCount(std::string_view section) override {
    const std::string s(section);
    return SetupGetLineCountA(inf_.Get(), s.c_str());
  }

  Win32Error FieldCount(std::string_view section, uint32_t index, uint32_t* count) override {
    INFCONTEXT line;
    if (Win32Error e = Line(section, index, &line)) return e;
    *count = SetupGetFieldCount(&line);
    return 0;
  }

  Win32Error IntField(std::string_view section, uint32_t index, uint32_t field,
                      int32_t* value) override {
    INFCONTEXT line;
    if (Win32Error e = Line(section, index, &line)) return e;
    INT read = 0;
    if (!SetupGetIntField(&line, field, &read)) return LastError();
    *value = read;
    return 0;
  }

  Win32Error StringField(std::string_view section, uint32_t index, uint32_t field,
                         std::string* value) override {
    INFCONTEXT line;
    if (Win32Error e = Line(section, index, &line)) return e;
    DWORD size = 0;
    if (!SetupGetStringFieldA(&line, field, nullptr, 0, &size)) return LastError();
    std::string buffer(size, '\0');
    if (!SetupGetStringFieldA(&line, field, buffer.data(), size, &size)) return LastError();
    *value = buffer.c_str();
    return 0;
  }

  Win32Error InstallSection(std::string_view section, uint32_t flags, uint32_t copyFlags) override {
    ScopedQueueContext context(SetupInitDefaultQueueCallbackEx(
        nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr));
    if (context.Get() == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    const std::string s(section);
    if (!SetupInstallFromInfSectionA(nullptr, inf_.Get(), s.c_str(), flags, nullptr, nullptr,
                                     copyFlags, SetupDefaultQueueCallbackA, context.Get(), nullptr,
                                     nullptr)) {
      return LastError();
    }
    return 0;
  }

  Win32Error InstallServices(std::string_view section, uint32_t flags) override {
    const std::string s(section);
    return SetupInstallServicesFromInfSectionA(inf_.Get(), s.c_str(), flags) ? 0 : LastError();
  }

 private:
  Win32Error Line(std::string_view section, uint32_t index, INFCONTEXT* line) {
    const std::string s(section);
    return SetupGetLineByIndexA(inf_.Get(), s.c_str(), index, line) ? 0 : LastError();
  }

  ScopedInf inf_;
};

class Win32DeviceSetup final : public DeviceSetup {
 public:
  Win32Error InfClass(const std::string& infPath, ClassGuid* cls, std::string* name) override {
    GUID guid;
    char text[32] = {};
    if (!SetupDiGetINFClassA(infPath.c_str(), &guid, text, sizeof text, nullptr)) {
      return LastError();
    }
    *cls = GuidText(guid);
    *name = text;
    return 0;
  }

  Win32Error ClassDevices(const ClassGuid& cls, std::unique_ptr<DeviceInfoSet>* set) override {
    GUID guid;
    if (!ParseGuid(cls, &guid)) return ERROR_INVALID_PARAMETER;
    HDEVINFO devices = SetupDiGetClassDevsA(&guid, nullptr, nullptr, 0);
    if (devices == INVALID_HANDLE_VALUE) return LastError();
    *set = std::make_unique<Win32DeviceSet>(devices);
    return 0;
  }

  Win32Error CreateDeviceInfoList(const ClassGuid& cls,
                                  std::unique_ptr<DeviceInfoSet>* set) override {
    GUID guid;
    if (!ParseGuid(cls, &guid)) return ERROR_INVALID_PARAMETER;
    HDEVINFO devices = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (devices == INVALID_HANDLE_VALUE) return LastError();
    *set = std::make_unique<Win32DeviceSet>(devices);
    return 0;
  }

  Win32Error UpdateDriver(const std::string& hardwareId, const std::string& infPath,
                          bool* reboot) override {
    BOOL needed = FALSE;
    const BOOL done = UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId.c_str(),
                                                         infPath.c_str(), 0, &needed);
    *reboot = needed != FALSE;
    return done ? 0 : LastError();
  }

  Win32Error OpenInf(const std::string& path, std::unique_ptr<InfFile>* inf) override {
    HINF handle = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    *inf = std::make_unique<Win32Inf>(handle);
    return 0;
  }

  Win32Error CopyOemInf(const std::string& path, uint32_t style,
                        std::string* destination) override {
    char name[MAX_PATH] = {};
    if (!SetupCopyOEMInfA(path.c_str(), nullptr, SPOST_PATH, style,
                          destination != nullptr ? name : nullptr,
                          destination != nullptr ? sizeof name : 0, nullptr, nullptr)) {
      return LastError();
    }
    if (destination != nullptr) *destination = name;
    return 0;
  }

  Win32Error UninstallOemInf(const std::string& name, uint32_t flags) override {
    return SetupUninstallOEMInfA(name.c_str(), flags, nullptr) ? 0 : LastError();
  }
};

}  // namespace

DeviceSetup& RealDeviceSetup() {
  static Win32DeviceSetup setup;
  return setup;
}

}  // namespace platform::win32
