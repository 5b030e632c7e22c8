#include "install/device_actions.h"

#include <cstring>
#include <memory>

#include "install/storage_lists.h"

namespace install {
namespace {

constexpr uint32_t kHardwareIdBuffer = 1026;

// DI_REMOVEDEVICE_GLOBAL; DICS_PROPCHANGE in DICS_FLAG_CONFIGSPECIFIC.
constexpr platform::ClassInstallParams kRemoveParams{platform::kDifRemove, 0, 1, 0};
constexpr platform::ClassInstallParams kChangeParams{platform::kDifPropertyChange, 3, 2, 0};

// After a class installer call: whether the device asks for a restart.
uint32_t NeedsReboot(platform::DeviceInfoSet& set, platform::DeviceElement element) {
  uint32_t flags = 0;
  if (set.GetInstallFlags(element, &flags) != 0) return 0;
  return (flags & (platform::kDiNeedRestart | platform::kDiNeedReboot)) != 0 ? 1 : 0;
}

Win32Error CallWith(platform::DeviceInfoSet& set, platform::DeviceElement element,
                    const platform::ClassInstallParams& params, uint32_t* reboot) {
  if (Win32Error e = set.SetClassInstallParams(element, params)) return e;
  if (Win32Error e = set.CallClassInstaller(params.function, element)) return e;
  *reboot = NeedsReboot(set, element);
  return 0;
}

bool HasId(const std::vector<std::string>& ids, std::string_view id) {
  for (const std::string& h : ids) {
    if (SameText(h, id)) return true;
  }
  return false;
}

Win32Error ReadEnumerator(platform::DeviceInfoSet& set, platform::DeviceElement element,
                          std::string* name) {
  char buffer[261] = {};
  uint32_t required = 0;
  Win32Error e =
      set.GetProperty(element, platform::DeviceProperty::kEnumeratorName, buffer, 260, &required);
  if (e == 0) *name = buffer;
  return e;
}

// Sets CONFIGFLAG_REINSTALL on the device.
Win32Error FlagReinstall(platform::DeviceInfoSet& set, platform::DeviceElement element) {
  uint32_t flags = 0, required = 0;
  if (Win32Error e = set.GetProperty(element, platform::DeviceProperty::kConfigFlags, &flags,
                                     sizeof flags, &required)) {
    return e;
  }
  flags |= platform::kConfigFlagReinstall;
  return set.SetProperty(element, platform::DeviceProperty::kConfigFlags, &flags, sizeof flags);
}

}  // namespace

Win32Error ForEachClassDevice(Installer& in, const platform::ClassGuid& cls, DeviceAction action,
                              const std::vector<std::string>* text, uint32_t* reboot) {
  std::unique_ptr<platform::DeviceInfoSet> set;
  if (Win32Error e = in.setup.ClassDevices(cls, &set)) return e;
  Win32Error result = 0;
  platform::DeviceElement element = 0;
  for (uint32_t index = 0; result == 0 && set->Enum(index, &element) == 0; ++index) {
    uint32_t local = 0;
    result = action(in, *set, element, text, &local);
    if (result == 0) TakeReboot(reboot, local);
  }
  return result;
}

Win32Error ReadHardwareIds(platform::DeviceInfoSet& set, platform::DeviceElement element,
                           std::vector<std::string>* ids) {
  std::string buffer(kHardwareIdBuffer, '\0');
  uint32_t required = 0;
  Win32Error e = set.GetProperty(element, platform::DeviceProperty::kHardwareId, buffer.data(),
                                 kHardwareIdBuffer, &required);
  if (e == platform::win32_error::kInsufficientBuffer && required > kHardwareIdBuffer) {
    buffer.assign(required + 2, '\0');
    e = set.GetProperty(element, platform::DeviceProperty::kHardwareId, buffer.data(), required,
                        &required);
  }
  if (e == 0) *ids = ListEntries(buffer);
  return e;
}

Win32Error RemoveMatchingDevice(Installer&, platform::DeviceInfoSet& set,
                                platform::DeviceElement element,
                                const std::vector<std::string>* text, uint32_t* reboot) {
  std::vector<std::string> ids;
  if (Win32Error e = ReadHardwareIds(set, element, &ids)) return e;
  if (text == nullptr || text->empty() || !HasId(ids, (*text)[0])) return 0;
  return CallWith(set, element, kRemoveParams, reboot);
}

Win32Error RestartAdapter(Installer&, platform::DeviceInfoSet& set, platform::DeviceElement element,
                          const std::vector<std::string>*, uint32_t* reboot) {
  std::vector<std::string> ids;
  if (Win32Error e = ReadHardwareIds(set, element, &ids)) return e;
  if (HasId(ids, "Detected\\MPIO")) return 0;
  return CallWith(set, element, kChangeParams, reboot);
}

Win32Error MarkDiskForMultiPath(Installer&, platform::DeviceInfoSet& set,
                                platform::DeviceElement element,
                                const std::vector<std::string>* text, uint32_t*) {
  std::vector<std::string> ids;
  if (Win32Error e = ReadHardwareIds(set, element, &ids)) return e;
  if (ids.empty() || text == nullptr || !AnyEntryMatches(*text, ids)) return 0;
  bool replaced = false;
  for (std::string& id : ids) {
    if (SameText(id, "GenDisk")) {
      id = "MPIODisk";
      replaced = true;
    }
  }
  if (!replaced) return 0;
  const std::string bytes = ListBytes(ids);
  if (Win32Error e = set.SetProperty(element, platform::DeviceProperty::kHardwareId, bytes.data(),
                                     static_cast<uint32_t>(bytes.size()))) {
    return e;
  }
  return FlagReinstall(set, element);
}

Win32Error RemoveRebuiltDisk(Installer&, platform::DeviceInfoSet& set,
                             platform::DeviceElement element, const std::vector<std::string>* text,
                             uint32_t* reboot) {
  std::vector<std::string> ids;
  if (ReadHardwareIds(set, element, &ids) != 0) return 0;
  if (ids.empty() || text == nullptr || !AnyEntryMatches(*text, ids)) return 0;
  std::string enumerator;
  if (ReadEnumerator(set, element, &enumerator) != 0 ||
      !(SameText(enumerator, "MPIO") || SameText(enumerator, "SCSI"))) {
    return 0;
  }
  return CallWith(set, element, kRemoveParams, reboot);
}

Win32Error ReleaseDisk(Installer& in, platform::DeviceInfoSet& set, platform::DeviceElement element,
                       const std::vector<std::string>* text, uint32_t* reboot) {
  std::vector<std::string> ids;
  if (Win32Error e = ReadHardwareIds(set, element, &ids)) return e;
  bool claimed = false;
  if (!ids.empty()) {
    if (text != nullptr && AnyEntryMatches(*text, ids)) return 0;
    claimed = in.HandlesFramework() && HasId(ids, "MPIODisk");
  }
  std::string enumerator;
  if (Win32Error e = ReadEnumerator(set, element, &enumerator)) return e;
  if (SameText(enumerator, "MPIO")) return CallWith(set, element, kRemoveParams, reboot);
  if (in.HandlesFramework() && !claimed) return 0;
  if (Win32Error e = FlagReinstall(set, element)) return e;
  return CallWith(set, element, kChangeParams, reboot);
}

}  // namespace install
