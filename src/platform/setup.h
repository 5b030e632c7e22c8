// The device-installation part of the platform seam: device information
// sets, INF files, driver updates and the INF directory's OEM copies.
// Results are Win32 error numbers, including SetupAPI's 0xE000xxxx ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

/// SetupAPI's own error numbers (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR).
namespace setup_error {
constexpr Win32Error kSectionNotFound = 0xE0000101;
constexpr Win32Error kLineNotFound = 0xE0000102;
constexpr Win32Error kNoDriverSelected = 0xE0000203;
constexpr Win32Error kNoSuchDevinst = 0xE000020B;
constexpr Win32Error kInvalidClass = 0xE0000209;
}  // namespace setup_error

/// A setup class GUID in its registry text form, "{4D36E967-...}", upper case.
using ClassGuid = std::string;

/// The disk drive and SCSI adapter setup classes.
inline constexpr std::string_view kDiskClass = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
inline constexpr std::string_view kScsiAdapterClass = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";

/// Device registry properties (SPDRP_*).
enum class DeviceProperty : uint32_t {
  kHardwareId = 1,      // SPDRP_HARDWAREID, a multi-string
  kConfigFlags = 10,    // SPDRP_CONFIGFLAGS, a 32-bit value
  kEnumeratorName = 22  // SPDRP_ENUMERATOR_NAME, a string
};

/// Class installer functions (DIF_*).
constexpr uint32_t kDifRemove = 0x05;
constexpr uint32_t kDifPropertyChange = 0x12;
constexpr uint32_t kDifRegisterDevice = 0x19;

/// Device install flags (DI_*) that tell of a needed restart or reboot.
constexpr uint32_t kDiNeedRestart = 0x80;
constexpr uint32_t kDiNeedReboot = 0x100;

/// CONFIGFLAG_REINSTALL: the device's driver is installed again when it starts.
constexpr uint32_t kConfigFlagReinstall = 0x20;

/// Class-install parameters for DIF_REMOVE or DIF_PROPERTYCHANGE.
struct ClassInstallParams {
  uint32_t function = 0;     // kDifRemove or kDifPropertyChange
  uint32_t stateChange = 0;  // DICS_PROPCHANGE (3) for a property change
  uint32_t scope = 0;        // DI_REMOVEDEVICE_GLOBAL (1), DICS_FLAG_CONFIGSPECIFIC (2)
  uint32_t hwProfile = 0;
};

/// One element of a device information set (the SP_DEVINFO_DATA of the
/// set): valid while the set lives.
using DeviceElement = uint32_t;

/// A device information set (HDEVINFO); destroyed with the object.
class DeviceInfoSet {
 public:
  virtual ~DeviceInfoSet() = default;
  /// SetupDiEnumDeviceInfo: the element at `index`; kNoMoreItems past the end.
  virtual Win32Error Enum(uint32_t index, DeviceElement* element) = 0;
  /// SetupDiCreateDeviceInfoA with DICD_GENERATE_ID: a new root device
  /// "ROOT\<name>\NNNN" of `cls`, known only to this set until registered.
  virtual Win32Error Create(std::string_view name, const ClassGuid& cls,
                            DeviceElement* element) = 0;
  /// SetupDiGetDeviceRegistryPropertyA into `data` of `size` bytes;
  /// `*required` gets the property's size (kInsufficientBuffer when it
  /// does not fit, kInvalidData when the device has no such property).
  virtual Win32Error GetProperty(DeviceElement element, DeviceProperty property, void* data,
                                 uint32_t size, uint32_t* required) = 0;
  /// SetupDiSetDeviceRegistryPropertyA.
  virtual Win32Error SetProperty(DeviceElement element, DeviceProperty property, const void* data,
                                 uint32_t size) = 0;
  /// SetupDiSetClassInstallParamsA.
  virtual Win32Error SetClassInstallParams(DeviceElement element,
                                           const ClassInstallParams& params) = 0;
  /// SetupDiCallClassInstaller(function) on the element.
  virtual Win32Error CallClassInstaller(uint32_t function, DeviceElement element) = 0;
  /// SetupDiGetDeviceInstallParamsA: the element's DI_* flags.
  virtual Win32Error GetInstallFlags(DeviceElement element, uint32_t* flags) = 0;
};

/// An open INF file (HINF, INF_STYLE_WIN4); closed with the object. Lines
/// are addressed by section and index from 0, fields from 1.
class InfFile {
 public:
  virtual ~InfFile() = default;
  /// SetupGetLineTextA of the line `key` in `section`: its fields joined
  /// by commas, quotes removed and %strkey% replaced.
  virtual Win32Error LineText(std::string_view section, std::string_view key,
                              std::string* text) = 0;
  /// SetupGetLineCountA: -1 when the section is missing.
  virtual long LineCount(std::string_view section) = 0;
  /// SetupGetLineByIndexA then SetupGetFieldCount.
  virtual Win32Error FieldCount(std::string_view section, uint32_t index, uint32_t* count) = 0;
  /// SetupGetIntField of field `field` (from 1) of the line.
  virtual Win32Error IntField(std::string_view section, uint32_t index, uint32_t field,
                              int32_t* value) = 0;
  /// SetupGetStringFieldA of field `field` (from 1) of the line.
  virtual Win32Error StringField(std::string_view section, uint32_t index, uint32_t field,
                                 std::string* value) = 0;
  /// SetupInstallFromInfSectionA of `section` with `flags` (SPINST_*) and
  /// `copyFlags` (SP_COPY_*), through the default queue callback without
  /// progress display. kNotEnoughMemory when that callback cannot be made.
  virtual Win32Error InstallSection(std::string_view section, uint32_t flags,
                                    uint32_t copyFlags) = 0;
  /// SetupInstallServicesFromInfSectionA of `section` with `flags`.
  virtual Win32Error InstallServices(std::string_view section, uint32_t flags) = 0;
};

/// SPINST_REGISTRY | SPINST_FILES and SP_COPY_FORCE_NEWER.
constexpr uint32_t kSpinstRegistryAndFiles = 0x14;
constexpr uint32_t kSpCopyForceNewer = 0x2000;
/// SetupCopyOEMInfA copy styles and SetupUninstallOEMInfA's force flag.
constexpr uint32_t kSpCopyReplaceOnly = 0x2;
constexpr uint32_t kSuoiForceDelete = 0x1;

/// The device-installation services of a machine.
class DeviceSetup {
 public:
  virtual ~DeviceSetup() = default;
  /// SetupDiGetINFClassA: the class GUID and name the INF declares.
  virtual Win32Error InfClass(const std::string& infPath, ClassGuid* cls,
                              std::string* className) = 0;
  /// SetupDiGetClassDevsA(class, no enumerator, flags 0): every device of
  /// the class, present or not.
  virtual Win32Error ClassDevices(const ClassGuid& cls, std::unique_ptr<DeviceInfoSet>* set) = 0;
  /// SetupDiCreateDeviceInfoList for `cls`: an empty set.
  virtual Win32Error CreateDeviceInfoList(const ClassGuid& cls,
                                          std::unique_ptr<DeviceInfoSet>* set) = 0;
  /// UpdateDriverForPlugAndPlayDevicesA(no window, hwid, inf, flags 0):
  /// installs the INF's driver on every device carrying `hardwareId`;
  /// `*reboot` tells whether a reboot is needed. kNoSuchDevinst when no
  /// device carries the id.
  virtual Win32Error UpdateDriver(const std::string& hardwareId, const std::string& infPath,
                                  bool* reboot) = 0;
  /// SetupOpenInfFileA(path, no class, INF_STYLE_WIN4).
  virtual Win32Error OpenInf(const std::string& path, std::unique_ptr<InfFile>* inf) = 0;
  /// SetupCopyOEMInfA(path, no media root, SPOST_PATH, style): the name of
  /// the copy in the INF directory goes to `destination` when not null.
  virtual Win32Error CopyOemInf(const std::string& path, uint32_t style,
                                std::string* destination) = 0;
  /// SetupUninstallOEMInfA(file name in the INF directory, flags).
  virtual Win32Error UninstallOemInf(const std::string& name, uint32_t flags) = 0;
};

}  // namespace platform
