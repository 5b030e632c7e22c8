#include "dsm/path_owner.h"

#include <cstdio>

#include "dsm/model.h"

namespace dsm {

std::string ScsiAddressKeyOf(const scsi::ScsiAddress& address) {
  const uint32_t fields[] = {address.PortNumber, address.PathId, address.TargetId, address.Lun};
  std::string key;
  for (uint32_t field : fields) {
    // A larger number cut to a byte would name another path.
    if (field > 0xFF) return "";
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(field));
    key += digits;
  }
  return key;
}

scsi::PathOwner PathOwnerOf(const scsi::ScsiAddress& address) {
  using Found = scsi::PathOwner::Found;
  DsmLists lists;
  if (LoadDsmLists(lists) != 0) return {Found::kUnreadable, ""};
  const std::string key = ScsiAddressKeyOf(address);
  if (key.empty()) return {Found::kNoPath, ""};
  const PathIndex index(lists.descriptors, lists.perf);
  for (const DsmDevice& device : lists.devices) {
    for (const DsmPathEntry& path : device.Paths) {
      const PathPerf* record = index.FindPathPerf(path.PathId);
      if (record == nullptr) break;
      if (record->ScsiAddressKey == key) return {Found::kSerial, DeviceSerialNumber(device, index)};
    }
  }
  return {Found::kNoPath, ""};
}

}  // namespace dsm
