#include "install/flow.h"

#include "install/device_actions.h"
#include "install/package_steps.h"
#include "install/results.h"
#include "install/storage_lists.h"

namespace install {
namespace {

constexpr const char* kPackageFolder = "\\velloran\\QX-T40512";
constexpr Win32Error kEnvironmentNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND

// The file name `name` with everything from its last "." replaced by
// `extension`; false when it has no ".".
bool SwapExtension(const std::string& name, const char* extension, std::string* out) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  *out = name.substr(0, dot) + extension;
  return true;
}

// A path argument: "." is the package folder under "ProgramFiles"; one
// trailing backslash is dropped. False when "ProgramFiles" is needed but
// not set.
bool ResolvePath(Installer& in, const std::string& argument, std::string* path) {
  *path = argument;
  if (argument == ".") {
    std::string programFiles;
    if (!in.sys.Environment("ProgramFiles", &programFiles)) return false;
    *path = programFiles + kPackageFolder;
  }
  if (!path->empty() && path->back() == '\\') path->pop_back();
  return true;
}

// Makes `folder` current and builds the INF path in it; false (after the
// failure line) when the path would be too long.
bool EnterFolder(Installer& in, const std::string& folder, const char* name, std::string* infPath) {
  if (!JoinPath(folder, name, infPath)) {
    PrintFailure(in, kPathTooLong);
    return false;
  }
  in.sys.ChangeDirectory(folder);
  return true;
}

// The framework's bus driver; false when the run ends here.
bool InstallBusDriver(Installer& in, const std::string& common, uint32_t* reboot) {
  RemoveInfsForCatalog(in, "mpio.cat");
  std::string inf;
  if (!JoinPath(common, "mpio.inf", &inf)) {
    PrintFailure(in, kPathTooLong);
    return false;
  }
  in.sys.ChangeDirectory(common);
  in.out.Write("\nInstalling the Multi-Path Adapter Filter and Multi-Path Bus Driver...\n");
  if (InstallRootDevice(in, inf, "Detected\\MPIO", reboot) == 0) return true;
  RemoveOemInfCopy(in, inf);
  DeleteDriverFile(in, "mpspfltr.sys");
  return false;
}

}  // namespace

void PrintInstallerUsage(platform::Output& out) {
  out.Write(
      "Installs the Multi-Path software package.\n"
      "\n"
      "Usage: install switch [ source_path common_path dsm_inf dsm_hwid ]\n"
      "\n"
      "  switch     \tWhether to install or uninstall (-i or -u)\n"
      "             \t-iq: install DSM only\n"
      "  source_path\tPermanent location that hosts tevdsm infs and drivers\n"
      "             \tdefault: .\n"
      "  common_path\tPermanent location that hosts MPIO infs and drivers\n"
      "             \tdefault: .\n"
      "  dsm_inf    \tName of dsm inf (with extension)\n"
      "             \tdefault: tevdsm.inf\n"
      "  dsm_hwid   \tHardware Id associated with the dsm\n"
      "             \tdefault: ROOT\\tevmpdsm\n"
      "\n");
}

void InstallPackage(Installer& in, const std::string& source, const std::string& common,
                    const std::string& dsmInf, const std::string& dsmHardwareId, bool full) {
  std::string catalog;
  if (!SwapExtension(dsmInf, ".cat", &catalog)) {
    in.out.Write("Unable to get the cat file.");
    PrintErrorText(in, platform::win32_error::kInvalidParameter);
    return;
  }
  uint32_t reboot = 0;
  if (in.HandlesFramework() && full && !InstallBusDriver(in, common, &reboot)) return;
  RemoveInfsForCatalog(in, catalog);
  std::string inf;
  if (!JoinPath(source, dsmInf, &inf)) {
    PrintFailure(in, kPathTooLong);
    return;
  }
  in.sys.ChangeDirectory(source);
  in.out.Write("\nInstalling the Device Specific Module...\n");
  Win32Error result = InstallRootDevice(in, inf, dsmHardwareId, &reboot);
  if (in.HandlesFramework()) {
    if (result != 0 || !EnterFolder(in, common, "mpdev.inf", &inf)) return;
    in.out.Write("\nInstalling the Multi-Path Device Driver...\n");
    result = InstallMultiPathDeviceDriver(in, inf, full, &reboot);
  }
  if (result == 0 && reboot == 0) {
    in.out.Write("\nRestarting all SCSI adapters...\n");
    RestartScsiAdapters(in, &reboot);
  }
}

namespace {

// The image file of the DSM service: the text after the last backslash of
// its "ImagePath". False (after the failure line) when it cannot be had.
bool ReadImageFile(Installer& in, std::string* image) {
  std::string bytes;
  Win32Error e = ReadStorageValue(in, kDsmImagePath, &bytes);
  const std::string text = bytes.substr(0, bytes.find('\0'));
  const size_t slash = text.rfind('\\');
  if (e == 0 && slash == std::string::npos) e = platform::win32_error::kInvalidData;
  if (e != 0) {
    in.out.Write("Unable to get the image file.");
    PrintErrorText(in, e);
    return false;
  }
  *image = text.substr(slash + 1);
  return true;
}

// The framework's supported device list after the DSM is gone, and the ids
// the DSM's INF took out of it. Returns the result the sequence goes on with.
Win32Error ReadRemainingList(Installer& in, const std::string& inf, bool* read,
                             std::vector<std::string>* list) {
  std::string bytes;
  const Win32Error e = ReadStorageValue(in, kFrameworkList, &bytes);
  *read = e == 0;
  if (e != 0) return e == platform::win32_error::kFileNotFound ? 0 : e;
  *list = ListEntries(bytes);
  BlanksToUnderscores(list);
  std::string again, section;
  if (ReadStorageValue(in, kFrameworkList, &again) == 0 &&
      ReadDelRegSection(in, inf, &section) == 0 && !section.empty()) {
    ApplyDelRegStrings(in, inf, section, kFrameworkList, &again);
  }
  in.removed.BlanksToUnderscores();
  return 0;
}

// Below major version 6: the framework's half goes when no supported
// device is left; otherwise only the disks the DSM gave up are rebuilt.
Win32Error UninstallFramework(Installer& in, const std::string& common,
                              const std::vector<std::string>& list, bool empty,
                              const std::string& image, const std::string& driver,
                              uint32_t* reboot) {
  std::string inf;
  Win32Error result = 0;
  if (empty) {
    if (!EnterFolder(in, common, "mpdev.inf", &inf)) return kPathTooLong;
    in.out.Write("\nUninstalling the Multi-Path Device Driver...\n");
    result = UninstallMultiPathDeviceDriver(in, inf, &list, reboot);
    if (result == 0) RemoveOemInfCopy(in, inf);
  } else if (!in.removed.Ids().empty()) {
    in.out.Write("\nRebuilding the storage stack...\n");
    uint32_t local = 0;
    result = ForEachClassDevice(in, std::string(platform::kDiskClass), RemoveRebuiltDisk,
                                &in.removed.Ids(), &local);
    if (result != 0) {
      PrintFailure(in, result);
      return result;
    }
    TakeReboot(reboot, local);
    PrintDeviceSuccess(in, *reboot);
  }
  if (result != 0 || !empty) return result;
  if (!EnterFolder(in, common, "mpio.inf", &inf)) return kPathTooLong;
  in.out.Write("\nUninstalling the Multi-Path Bus Driver...\n");
  result = UninstallDeviceInf(in, inf, "Detected\\MPIO", kAdapterFilters, reboot);
  if (result != 0) return result;
  RemoveOemInfCopy(in, inf);
  for (const std::string& file : {std::string("mpdev.sys"), std::string("mpio.sys"),
                                  std::string("mpspfltr.sys"), image, driver}) {
    DeleteDriverFile(in, file);
  }
  return 0;
}

}  // namespace

void UninstallPackage(Installer& in, const std::string& source, const std::string& common,
                      const std::string& dsmInf, const std::string& dsmHardwareId) {
  std::string image, driver, inf;
  if (!ReadImageFile(in, &image)) return;
  if (!SwapExtension(dsmInf, ".sys", &driver)) {
    in.out.Write("Unable to get the driver file.");
    PrintErrorText(in, platform::win32_error::kInvalidParameter);
    return;
  }
  if (!EnterFolder(in, source, dsmInf.c_str(), &inf)) return;
  in.out.Write("\nUninstalling the Device Specific Module...\n");
  uint32_t reboot = 0;
  Win32Error result = UninstallDeviceInf(in, inf, dsmHardwareId, kFrameworkList, &reboot);
  if (result == 0) {
    RemoveOemInfCopy(in, inf);
    if (driver != image) DeleteDriverFile(in, driver);
    bool read = false;
    std::vector<std::string> list;
    result = ReadRemainingList(in, inf, &read, &list);
    // A list that could not be read counts as not empty: the framework stays.
    const bool empty = result == 0 && list.empty();
    if (!in.HandlesFramework() && result == 0) {
      in.out.Write("\nRebuilding the storage stack...\n");
      uint32_t local = 0;
      result = ForEachClassDevice(in, std::string(platform::kDiskClass), ReleaseDisk,
                                  read ? &list : nullptr, &local);
      if (result == 0) PrintDeviceSuccess(in, reboot != 0 || local != 0 ? 1 : 0);
    } else if (in.HandlesFramework() && result == 0) {
      result = UninstallFramework(in, common, list, empty, image, driver, &reboot);
    }
  }
  if (result != 0) {
    in.out.Write("Failure.");
    PrintErrorText(in, result);
  }
}

void RunInstaller(const std::vector<std::string>& args, platform::Machine& machine,
                  platform::Output& out) {
  if (args.size() != 5) {
    PrintInstallerUsage(out);
    return;
  }
  Installer in(out, machine.Setup(), machine.Sys(), machine.Reg());
  std::string source, common;
  if (!ResolvePath(in, args[1], &source) || !ResolvePath(in, args[2], &common)) {
    out.Write("Unable to get the ProgramFiles directory.");
    PrintErrorText(in, kEnvironmentNotFound);
    return;
  }
  out.Write("\n");
  Win32Error e = source.size() > kMaxPath ? kPathTooLong : in.sys.Probe(source);
  if (e != 0) {
    out.Write("Unable to validate the source path. " + source);
    PrintErrorText(in, e);
    return;
  }
  if (common.size() > kMaxPath || in.sys.Probe(common) != 0) common = source;
  if (in.sys.Version(&in.version) != 0) {
    out.Write("Failed to get the OS version, exiting ...\n");
    return;
  }
  if (args[0] == "-i" || args[0] == "-iq") {
    InstallPackage(in, source, common, args[3], args[4], args[0] == "-i");
  } else if (args[0] == "-u") {
    UninstallPackage(in, source, common, args[3], args[4]);
  } else {
    PrintInstallerUsage(out);
  }
}

}  // namespace install
