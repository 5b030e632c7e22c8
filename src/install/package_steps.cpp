#include "install/package_steps.h"

#include <memory>

#include "install/device_actions.h"
#include "install/results.h"
#include "install/storage_lists.h"

namespace install {
namespace {

constexpr size_t kMaxHardwareId = 1024;

// Creates a root device of the INF's class carrying `hardwareId` and
// registers it; a failed registration is undone.
Win32Error CreateRootDevice(Installer& in, const std::string& infPath,
                            const std::string& hardwareId) {
  platform::ClassGuid cls;
  std::string className;
  if (Win32Error e = in.setup.InfClass(infPath, &cls, &className)) return e;
  if (hardwareId.size() > kMaxHardwareId) return platform::win32_error::kInvalidParameter;
  std::unique_ptr<platform::DeviceInfoSet> set;
  if (Win32Error e = in.setup.CreateDeviceInfoList(cls, &set)) return e;
  platform::DeviceElement element = 0;
  if (Win32Error e = set->Create("MPIO", cls, &element)) return e;
  const std::string ids = hardwareId + std::string(2, '\0');
  Win32Error e = set->SetProperty(element, platform::DeviceProperty::kHardwareId, ids.data(),
                                  static_cast<uint32_t>(ids.size()));
  if (e == 0) e = set->CallClassInstaller(platform::kDifRegisterDevice, element);
  if (e != 0) set->CallClassInstaller(platform::kDifRemove, element);
  return e;
}

// Finishes a device step: the failure line, or the reboot flag and success.
Win32Error FinishDeviceStep(Installer& in, Win32Error result, uint32_t local, uint32_t* reboot) {
  if (result != 0) {
    PrintFailure(in, result);
    return result;
  }
  TakeReboot(reboot, local);
  PrintDeviceSuccess(in, local);
  return 0;
}

// The ".pnf" twin of an INF path: the part from its last "." replaced.
std::string PnfTwin(const std::string& path) {
  const size_t dot = path.rfind('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ".pnf";
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

Win32Error InstallRootDevice(Installer& in, const std::string& infPath,
                             const std::string& hardwareId, uint32_t* reboot) {
  bool needed = false;
  Win32Error e = in.setup.UpdateDriver(hardwareId, infPath, &needed);
  if (e == platform::setup_error::kNoSuchDevinst) {
    e = CreateRootDevice(in, infPath, hardwareId);
    if (e == 0) e = in.setup.UpdateDriver(hardwareId, infPath, &needed);
  }
  return FinishDeviceStep(in, e, needed ? 1 : 0, reboot);
}

Win32Error UninstallDeviceInf(Installer& in, const std::string& infPath,
                              const std::string& hardwareId, int number, uint32_t* reboot) {
  platform::ClassGuid cls;
  std::string className;
  uint32_t local = 0;
  Win32Error result = in.setup.InfClass(infPath, &cls, &className);
  if (result == 0) {
    const std::vector<std::string> id = {hardwareId};
    if (Win32Error e = ForEachClassDevice(in, cls, RemoveMatchingDevice, &id, &local)) {
      PrintFailure(in, e);
      return e;
    }
    std::string list;
    const bool listRead = in.IsWindows2000Release() && ReadStorageValue(in, number, &list) == 0;
    result = ProcessInfSection(in, infPath, "DefaultUninstall");
    if (result == 0 && listRead) {
      std::string section;
      result = ReadDelRegSection(in, infPath, &section);
      if (result == 0 && section.empty()) result = platform::win32_error::kInvalidData;
      if (result == 0) result = ApplyDelRegStrings(in, infPath, section, number, &list);
      if (result == 0) result = WriteStorageList(in, number, list);
    }
  }
  return FinishDeviceStep(in, result, local, reboot);
}

Win32Error ProcessInfSection(Installer& in, const std::string& infPath,
                             const std::string& section) {
  std::unique_ptr<platform::InfFile> inf;
  Win32Error e = in.setup.OpenInf(infPath, &inf);
  if (e == 0) {
    e = inf->InstallSection(section, platform::kSpinstRegistryAndFiles,
                            platform::kSpCopyForceNewer);
  }
  if (e == 0) {
    const bool dsmListEmpty = IsDsmDeviceListEmpty(in);
    const bool dsmInf = !Contains(infPath, "mpdev.inf") && !Contains(infPath, "mpio.inf");
    if (!(dsmInf && SameText(section, "DefaultUninstall") && !dsmListEmpty)) {
      e = inf->InstallServices(section + ".Services", 0);
    }
  }
  inf.reset();
  if (e != 0) {
    PrintFailure(in, e);
    return e;
  }
  in.out.Write("Success\n");
  return 0;
}

Win32Error InstallMultiPathDeviceDriver(Installer& in, const std::string& infPath, bool full,
                                        uint32_t* reboot) {
  Win32Error e = 0;
  if (full && (e = in.setup.CopyOemInf(infPath, 0, nullptr)) != 0) {
    PrintFailure(in, e);
    return e;
  }
  std::string bytes;
  if ((e = ReadStorageValue(in, kFrameworkList, &bytes)) != 0) {
    PrintFailure(in, e);
    return e;
  }
  std::vector<std::string> list = ListEntries(bytes);
  BlanksToUnderscores(&list);
  uint32_t local = 0;
  e = ForEachClassDevice(in, std::string(platform::kDiskClass), MarkDiskForMultiPath, &list,
                         &local);
  bool needed = false;
  if (e == 0 && full) {
    e = in.setup.UpdateDriver("MPIODisk", infPath, &needed);
    if (e == platform::setup_error::kNoSuchDevinst || e == platform::win32_error::kNoMoreItems) {
      e = 0;
    }
  }
  return FinishDeviceStep(in, e, needed ? 1 : 0, reboot);
}

Win32Error UninstallMultiPathDeviceDriver(Installer& in, const std::string& infPath,
                                          const std::vector<std::string>* list, uint32_t* reboot) {
  uint32_t local = 0;
  Win32Error e =
      ForEachClassDevice(in, std::string(platform::kDiskClass), ReleaseDisk, list, &local);
  if (e == 0 && (list == nullptr || list->empty())) {
    e = ProcessInfSection(in, infPath, "DefaultUninstall");
  }
  return FinishDeviceStep(in, e, local, reboot);
}

Win32Error RestartScsiAdapters(Installer& in, uint32_t* reboot) {
  uint32_t local = 0;
  const Win32Error e = ForEachClassDevice(in, std::string(platform::kScsiAdapterClass),
                                          RestartAdapter, nullptr, &local);
  return FinishDeviceStep(in, e, local, reboot);
}

void RemoveOemInfCopy(Installer& in, const std::string& infPath) {
  std::string copy;
  if (in.setup.CopyOemInf(infPath, platform::kSpCopyReplaceOnly, &copy) != 0) return;
  // The copy comes back as a full path; the uninstall call takes the
  // file name alone and refuses a path.
  if (!IsWindows2000OrOlder(in)) {
    in.setup.UninstallOemInf(copy.substr(copy.rfind('\\') + 1), platform::kSuoiForceDelete);
  }
  in.sys.RemoveFile(PnfTwin(copy));
  in.sys.RemoveFile(copy);
}

void DeleteDriverFile(Installer& in, const std::string& name) {
  std::string system, drivers, path;
  if (in.sys.SystemDirectory(&system) != 0 || !JoinPath(system, "drivers", &drivers) ||
      !JoinPath(drivers, name, &path)) {
    return;
  }
  in.sys.RemoveFile(path);
}

bool NamesCatalog(const std::string& text, const std::string& catalog) {
  const std::string wanted = "CatalogFile = " + catalog;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.substr(0, wanted.size()) == wanted) {
      const std::string_view rest = line.substr(wanted.size());
      if (rest.empty() || rest[0] == ' ' || rest[0] == '\t' || rest[0] == '\r' || rest[0] == ';') {
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

void RemoveInfsForCatalog(Installer& in, const std::string& catalog) {
  std::string windows, folder;
  std::vector<platform::DirectoryEntry> entries;
  if (in.sys.WindowsDirectory(&windows) != 0 || !JoinPath(windows, "inf", &folder) ||
      in.sys.ListDirectory(folder, &entries) != 0) {
    return;
  }
  for (const platform::DirectoryEntry& entry : entries) {
    std::string path, text;
    if (entry.directory || entry.name == "." || entry.name == ".." ||
        !JoinPath(folder, entry.name, &path) || in.sys.ReadContent(path, &text) != 0 ||
        !NamesCatalog(text, catalog)) {
      continue;
    }
    if (!IsWindows2000OrOlder(in)) in.setup.UninstallOemInf(entry.name, platform::kSuoiForceDelete);
    in.sys.RemoveFile(PnfTwin(path));
    in.sys.RemoveFile(path);
  }
}

bool IsDsmDeviceListEmpty(Installer& in) {
  std::string bytes;
  if (ReadStorageValue(in, kDsmList, &bytes) != 0 && ReadStorageValue(in, kDsmList, &bytes) != 0) {
    return true;
  }
  return ListEntries(bytes).empty();
}

bool IsWindows2000OrOlder(Installer& in) {
  platform::OsVersionInfo version;
  if (in.sys.Version(&version) != 0) return true;
  return version.major < 5 || (version.major == 5 && version.minor == 0);
}

}  // namespace install
