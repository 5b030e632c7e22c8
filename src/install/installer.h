// What every step of the installer works with: the machine's services,
// the output, the system version read at start, and the device ids the
// uninstall collects for the disks it rebuilds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output.h"
#include "platform/registry.h"
#include "platform/setup.h"
#include "platform/system.h"

namespace install {

using platform::Win32Error;

/// The paths the installer builds hold at most this many characters (the
/// system path limit less the terminator).
constexpr size_t kMaxPath = 259;
/// ERROR_FILENAME_EXCED_RANGE: a path longer than kMaxPath.
constexpr Win32Error kPathTooLong = 206;

/// The multi-string of device ids that the DSM INF deletes from the
/// framework's supported device list, in INF order, bounded like the
/// buffer the system keeps them in.
class RemovedDeviceIds {
 public:
  /// Room in bytes, the final terminator included.
  static constexpr size_t kCapacity = 1000;
  /// Adds `id` with its terminator when it fits; false (and nothing added)
  /// when it does not. An empty id is not added (it would end the list),
  /// and counts as added.
  bool Append(std::string_view id);
  const std::vector<std::string>& Ids() const { return ids_; }
  /// Every blank of every id becomes "_".
  void BlanksToUnderscores();

 private:
  std::vector<std::string> ids_;
  size_t used_ = 1;  // the final terminator
};

struct Installer {
  Installer(platform::Output& o, platform::DeviceSetup& s, platform::System& y,
            platform::Registry& r)
      : out(o), setup(s), sys(y), reg(r) {}

  /// Major version below 6: the framework's half is this program's.
  bool HandlesFramework() const { return version.major < 6; }
  /// Major version below 5, or 5.0.
  bool IsWindows2000Release() const {
    return version.major < 5 || (version.major == 5 && version.minor == 0);
  }

  platform::Output& out;
  platform::DeviceSetup& setup;
  platform::System& sys;
  platform::Registry& reg;
  platform::OsVersionInfo version;  // read once at start
  RemovedDeviceIds removed;
};

/// A sequence's reboot flag takes `value` only while it is still 0.
inline void TakeReboot(uint32_t* flag, uint32_t value) {
  if (*flag == 0) *flag = value;
}

/// `folder` + "\" + `name` into `*path`; false when that is longer than
/// kMaxPath (the path is then refused, never cut).
bool JoinPath(std::string_view folder, std::string_view name, std::string* path);

/// ASCII case-insensitive equality and prefix test.
bool SameText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view text, std::string_view prefix);

}  // namespace install
