#include "dsm/policy.h"

#include <unordered_set>

#include "cli/help.h"
#include "cli/words.h"

namespace dsm {
namespace {

constexpr int kAttempts = 3;

// Marks primary, in the snapshot itself, the serial's entries with `pathId`,
// so later calls on the same snapshot see the mark.
void MarkPrimary(DeviceSnapshot& snapshot, const std::string& serial, uint64_t pathId) {
  for (const PathPosition& at : snapshot.Index().PathsOfSerial(serial)) {
    DsmPathEntry& entry = snapshot.Devices[at.Device].Paths[at.Path];
    if (entry.PathId == pathId) entry.Primary = true;
  }
}

}  // namespace

std::vector<DsmPathEntry> SerialPathList(const DeviceSnapshot& snapshot,
                                         const std::string& serial) {
  std::vector<DsmPathEntry> list;
  for (const PathPosition& at : snapshot.Index().PathsOfSerial(serial)) {
    list.push_back(snapshot.Devices[at.Device].Paths[at.Path]);
  }
  return list;
}

int SetDevicePolicy(platform::Output& out, DeviceSnapshot& snapshot, const std::string& serial,
                    const std::string& word) {
  if (cli::FailBackOf(word)) return SetDeviceFailBack(out, snapshot, serial, word);
  std::optional<int32_t> policy = cli::PolicyNumberOf(word);
  if (!policy) return cli::PrintHelp(out);
  if (snapshot.Perf.empty()) return 1;
  if (*policy == 1) {
    if (std::optional<uint64_t> chosen = ChoosePrimaryPath(snapshot, serial)) {
      MarkPrimary(snapshot, serial, *chosen);
    }
  }
  std::vector<DsmPathEntry> list = SerialPathList(snapshot, serial);
  if (list.empty()) return 1;
  return SendLoadBalancePolicy(list, *policy, false, &snapshot);
}

int SetDeviceFailBack(platform::Output& out, const DeviceSnapshot& snapshot,
                      const std::string& serial, const std::string& word) {
  std::optional<cli::FailBack> mode = cli::FailBackOf(word);
  if (!mode) return cli::PrintHelp(out);
  LbPolicyBlock block;
  uint64_t pathId = snapshot.Index().FailBackPathId(serial);
  if (FindSnapshotBlock(snapshot, pathId, &block, nullptr) != 0) return 1;
  if (block.LoadBalancePolicy != 1) {
    out.Line("  not fail-over: " + serial);
    return 0;
  }
  std::vector<DsmPathEntry> list = SerialPathList(snapshot, serial);
  if (list.empty()) return 1;
  return SendLoadBalancePolicy(list, 1, *mode == cli::FailBack::kEnabled, &snapshot);
}

int SetAllDevices(platform::Output& out, DeviceSnapshot& snapshot, const std::string& word) {
  if (!cli::FailBackOf(word) && !cli::PolicyNumberOf(word)) return cli::PrintHelp(out);
  // The devices in the order of a fresh performance list; only their
  // serial numbers are needed. A failed load leaves the list short or empty.
  std::vector<std::string> serials;
  LoadPathSerials(serials);

  int result = 0;
  bool any = false;
  std::unordered_set<std::string> handled;
  for (const std::string& serial : serials) {
    // A record too short to carry a serial number names no device.
    if (serial.empty() || !handled.insert(serial).second) continue;
    any = true;
    int r = SetDevicePolicy(out, snapshot, serial, word);
    for (int attempt = 1; r != 0 && attempt < kAttempts; ++attempt) {
      r = SetDevicePolicy(out, snapshot, serial, word);
    }
    if (r != 0) result = r;
    out.Line(serial + (r == 0 ? " is set." : " is not set."));
  }
  return any ? result : 1;
}

int DevinfoSetOne(platform::Output& out, const std::string& serial, const std::string& word) {
  DeviceSnapshot snapshot;
  if (int r = LoadDeviceSnapshot(snapshot); r != 0) return r;
  return SetDevicePolicy(out, snapshot, serial, word);
}

int DevinfoSetAll(platform::Output& out, const std::string& word) {
  DeviceSnapshot snapshot;
  if (int r = LoadDeviceSnapshot(snapshot); r != 0) return r;
  return SetAllDevices(out, snapshot, word);
}

}  // namespace dsm
