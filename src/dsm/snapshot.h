// The device snapshot of the devinfo setters: performance records,
// descriptors, devices and their policy blocks, loaded once per command,
// with the lookups the setters repeat for every device.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dsm/model.h"

namespace dsm {

/// A device's policy block with the InstanceName of the instance it came
/// from (the name of the method object that serves the device).
struct SnapshotBlock {
  LbPolicyBlock Block;
  std::wstring InstanceName;
};

/// Where a path entry stands in the snapshot's device list.
struct PathPosition {
  size_t Device = 0;
  size_t Path = 0;
};

struct DeviceSnapshot;

/// The snapshot's joins, built once so each setter call costs only the
/// paths of its device, yet with the results of walking the lists in
/// order. Serial numbers that are empty (identifiers too short to carry
/// one) name no path.
class SnapshotIndex {
 public:
  /// Builds the path and block lookups from the snapshot's lists; those
  /// that only fail-back and FailOver settings ask, on their first use.
  explicit SnapshotIndex(const DeviceSnapshot& snapshot);

  /// The device path entries whose performance record has `serial`, in
  /// device order and path order.
  const std::vector<PathPosition>& PathsOfSerial(const std::string& serial) const;
  /// ChoosePrimaryPath's answer for `serial`.
  std::optional<uint64_t> ChosenPrimary(const std::string& serial) const;
  /// The PathIdentifier of the first descriptor of the last performance
  /// record of `serial` that has one; 0 when none does.
  uint64_t FailBackPathId(const std::string& serial) const;
  /// The first block (in list order) holding `pathId` among its first
  /// DSMPathCount entries, or -1.
  int64_t BlockOf(uint64_t pathId) const;

 private:
  void IndexFailBack() const;
  void IndexPrimaryChoice() const;

  const DeviceSnapshot& snapshot_;
  PathIndex join_;
  std::unordered_map<std::string, std::vector<PathPosition>> pathsBySerial_;
  std::unordered_map<uint64_t, size_t> blockById_;
  mutable bool failBackIndexed_ = false;
  mutable std::unordered_map<std::string, uint64_t> failBackId_;
  mutable bool primaryIndexed_ = false;
  mutable std::unordered_map<std::string, const PathPerf*> chosenPerf_;
};

/// The four lists of one devinfo setter command. It is neither copied nor
/// moved, since its index refers to its lists; the lists must not change
/// once the index is built, except for the Primary flags of path entries.
struct DeviceSnapshot {
  std::vector<PathPerf> Perf;
  std::vector<PathDescriptor> Descriptors;
  std::vector<DsmDevice> Devices;
  std::vector<SnapshotBlock> Blocks;

  DeviceSnapshot() = default;
  DeviceSnapshot(const DeviceSnapshot&) = delete;
  DeviceSnapshot& operator=(const DeviceSnapshot&) = delete;

  /// The lookups over the lists, built on first use.
  const SnapshotIndex& Index() const;

 private:
  mutable std::unique_ptr<SnapshotIndex> index_;
};

/// LoadPathPerf, LoadPathDescriptors, LoadSnapshotDevices in that order;
/// the first nonzero result stops the loading and is returned.
int LoadDeviceSnapshot(DeviceSnapshot& snapshot);

/// Fills the device and block lists from ORNDSM_QueryLBPolicy. 0, or 1
/// when the enumeration cannot be opened.
int LoadSnapshotDevices(DeviceSnapshot& snapshot);

/// The first block holding `pathId`: a copy of it and its instance name,
/// and 0; 2 when no block holds it (outputs untouched).
int FindSnapshotBlock(const DeviceSnapshot& snapshot, uint64_t pathId, LbPolicyBlock* block,
                      std::wstring* instanceName);

/// The path to make primary under FailOver: the serial's first path (in
/// performance-list order) through the adapter port that the fewest paths
/// of all devices use (the earliest such port on a tie), named by the first
/// descriptor with its SCSI address. None when there is no such path.
std::optional<uint64_t> ChoosePrimaryPath(const DeviceSnapshot& snapshot,
                                          const std::string& serial);

}  // namespace dsm
