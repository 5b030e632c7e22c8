// The registry values of the storage stack the installer reads and edits,
// and the INF-driven edit of their multi-string lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "install/installer.h"

namespace install {

/// The values, by number: 1 the framework's supported device list, 2 the
/// SCSI adapter class's upper filters, 3 the DSM's supported device list,
/// 4 the DSM service's image path.
enum StorageValue { kFrameworkList = 1, kAdapterFilters = 2, kDsmList = 3, kDsmImagePath = 4 };

/// FLG_DELREG_MULTI_SZ_DELSTRING: the flags of a delete-string line.
constexpr int32_t kDelStringFlags = 0x18002;

/// Reads value `number` (1 to 4, else 87) into `data` as stored (its bytes,
/// its size). Registry errors come back unchanged (2 for a missing key).
Win32Error ReadStorageValue(Installer& in, int number, std::string* data);
/// Writes `data` as REG_MULTI_SZ to value 1 or 2 (else 87).
Win32Error WriteStorageList(Installer& in, int number, const std::string& data);

/// The entries of a multi-string's bytes: up to its terminating empty
/// string, and never past its size (a value stored without terminators
/// still ends with its last byte).
std::vector<std::string> ListEntries(std::string_view data);
/// The bytes of a list: each entry and its NUL, then the final NUL (the
/// empty list is the single NUL).
std::string ListBytes(const std::vector<std::string>& entries);
/// Every blank of every entry becomes "_".
void BlanksToUnderscores(std::vector<std::string>* entries);

/// "SCSI\Disk" and the first 24 characters of a list entry.
std::string DeviceIdPattern(std::string_view entry);
/// Whether some entry's pattern begins one of `hardwareIds` (case ignored).
bool AnyEntryMatches(const std::vector<std::string>& entries,
                     const std::vector<std::string>& hardwareIds);

/// The "DelReg" entry of the INF's "DefaultUninstall" section (may be empty).
Win32Error ReadDelRegSection(Installer& in, const std::string& infPath, std::string* section);

/// Applies the INF section's delete-string lines for value 1 or 2 to
/// `list` (a multi-string's bytes, edited in place): each line of five
/// fields, flags 0x18002, root HKLM and the value's key and name removes
/// the first equal entry. For value 1 every such string is also collected
/// in the installer's RemovedDeviceIds; one that does not fit is reported
/// on a line of its own and left out. Returns 0 or the error of opening
/// the INF.
Win32Error ApplyDelRegStrings(Installer& in, const std::string& infPath, const std::string& section,
                              int number, std::string* list);

}  // namespace install
