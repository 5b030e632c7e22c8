#include "dsm/snapshot.h"

#include <algorithm>

#include "dsm/wmi_connection.h"

namespace dsm {

SnapshotIndex::SnapshotIndex(const DeviceSnapshot& snapshot)
    : snapshot_(snapshot), join_(snapshot.Descriptors, snapshot.Perf) {
  for (size_t d = 0; d < snapshot.Devices.size(); ++d) {
    const std::vector<DsmPathEntry>& paths = snapshot.Devices[d].Paths;
    for (size_t p = 0; p < paths.size(); ++p) {
      const PathPerf* perf = join_.FindPathPerf(paths[p].PathId);
      if (perf == nullptr || perf->SerialNumber.empty()) continue;
      pathsBySerial_[perf->SerialNumber].push_back(PathPosition{d, p});
    }
  }
  for (size_t b = 0; b < snapshot.Blocks.size(); ++b) {
    const LbPolicyBlock& block = snapshot.Blocks[b].Block;
    size_t count = std::min<size_t>(block.DSMPathCount, block.Entries.size());
    for (size_t i = 0; i < count; ++i) blockById_.try_emplace(block.Entries[i].DsmPathId, b);
  }
}

void SnapshotIndex::IndexFailBack() const {
  if (failBackIndexed_) return;
  failBackIndexed_ = true;
  for (const PathPerf& perf : snapshot_.Perf) {
    if (perf.SerialNumber.empty()) continue;
    const PathDescriptor* descriptor = join_.FirstDescriptorWithKey(perf.ScsiAddressKey);
    if (descriptor != nullptr) failBackId_[perf.SerialNumber] = descriptor->PathIdentifier;
  }
}

// The adapter tally depends on the performance list alone, so the port it
// picks is the same for every serial number of the snapshot.
void SnapshotIndex::IndexPrimaryChoice() const {
  if (primaryIndexed_) return;
  primaryIndexed_ = true;
  const DeviceSnapshot& snapshot = snapshot_;
  std::vector<std::pair<const std::string*, size_t>> tally;
  std::unordered_map<std::string, size_t> position;
  for (const PathPerf& perf : snapshot.Perf) {
    auto [it, added] = position.try_emplace(perf.HbaWwpn, tally.size());
    if (added) {
      tally.emplace_back(&perf.HbaWwpn, 1);
    } else {
      ++tally[it->second].second;
    }
  }
  if (tally.empty()) return;
  size_t least = 0;
  for (size_t i = 1; i < tally.size(); ++i) {
    if (tally[i].second < tally[least].second) least = i;
  }
  const std::string& port = *tally[least].first;
  for (const PathPerf& perf : snapshot.Perf) {
    if (perf.HbaWwpn == port && !perf.SerialNumber.empty()) {
      chosenPerf_.try_emplace(perf.SerialNumber, &perf);
    }
  }
}

const std::vector<PathPosition>& SnapshotIndex::PathsOfSerial(const std::string& serial) const {
  static const std::vector<PathPosition> kNone;
  auto hit = pathsBySerial_.find(serial);
  return hit == pathsBySerial_.end() ? kNone : hit->second;
}

std::optional<uint64_t> SnapshotIndex::ChosenPrimary(const std::string& serial) const {
  IndexPrimaryChoice();
  auto hit = chosenPerf_.find(serial);
  if (hit == chosenPerf_.end()) return std::nullopt;
  const PathDescriptor* descriptor = join_.FirstDescriptorWithKey(hit->second->ScsiAddressKey);
  if (descriptor == nullptr) return std::nullopt;
  return descriptor->PathIdentifier;
}

uint64_t SnapshotIndex::FailBackPathId(const std::string& serial) const {
  IndexFailBack();
  auto hit = failBackId_.find(serial);
  return hit == failBackId_.end() ? 0 : hit->second;
}

int64_t SnapshotIndex::BlockOf(uint64_t pathId) const {
  auto hit = blockById_.find(pathId);
  return hit == blockById_.end() ? -1 : static_cast<int64_t>(hit->second);
}

const SnapshotIndex& DeviceSnapshot::Index() const {
  if (!index_) index_ = std::make_unique<SnapshotIndex>(*this);
  return *index_;
}

int LoadDeviceSnapshot(DeviceSnapshot& snapshot) {
  if (int r = LoadPathPerf(snapshot.Perf); r != 0) return r;
  if (int r = LoadPathDescriptors(snapshot.Descriptors); r != 0) return r;
  return LoadSnapshotDevices(snapshot);
}

int LoadSnapshotDevices(DeviceSnapshot& snapshot) {
  HResult hr = EnumerateInstances(L"ORNDSM_QueryLBPolicy", [&](const ObjectPtr& instance) {
    if (!instance) return;
    DecodedDevice decoded = DecodePolicyInstance(*instance);
    snapshot.Blocks.push_back(
        SnapshotBlock{std::move(decoded.Block), std::move(decoded.InstanceName)});
    snapshot.Devices.push_back(std::move(decoded.Device));
  });
  return platform::Failed(hr) ? 1 : 0;
}

int FindSnapshotBlock(const DeviceSnapshot& snapshot, uint64_t pathId, LbPolicyBlock* block,
                      std::wstring* instanceName) {
  int64_t b = snapshot.Index().BlockOf(pathId);
  if (b < 0) return 2;
  const SnapshotBlock& found = snapshot.Blocks[static_cast<size_t>(b)];
  if (block != nullptr) *block = found.Block;
  if (instanceName != nullptr) *instanceName = found.InstanceName;
  return 0;
}

std::optional<uint64_t> ChoosePrimaryPath(const DeviceSnapshot& snapshot,
                                          const std::string& serial) {
  return snapshot.Index().ChosenPrimary(serial);
}

}  // namespace dsm
