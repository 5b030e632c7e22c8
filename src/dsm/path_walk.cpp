#include "dsm/path_walk.h"

#include <utility>

#include "cli/words.h"

namespace dsm {

bool PathFilter::Passes(const std::string& deviceSerial, const PathPerf& perf) const {
  switch (kind) {
    case Kind::kNone:
      return true;
    case Kind::kSerial:
      return deviceSerial == value;
    case Kind::kAdapter:
      return perf.HbaWwpn == value;
    case Kind::kNothing:
      break;
  }
  return false;
}

PathFilter MakePathFilter(const std::optional<std::string>& kind, std::string value) {
  PathFilter filter;
  filter.value = std::move(value);
  if (!kind) return filter;
  if (cli::EqualsIgnoreCase(*kind, "sn")) {
    filter.kind = PathFilter::Kind::kSerial;
  } else if (cli::EqualsIgnoreCase(*kind, "hba")) {
    filter.kind = PathFilter::Kind::kAdapter;
  } else {
    filter.kind = PathFilter::Kind::kNothing;
  }
  return filter;
}

void WalkPaths(const DsmLists& lists, const PathIndex& index, const PathFilter& filter,
               const std::function<void(const WalkedPath&)>& listed,
               const std::function<void(const WalkedPath&)>& missing) {
  for (size_t number = 0; number < lists.devices.size(); ++number) {
    const DsmDevice& device = lists.devices[number];
    const std::string serial = DeviceSerialNumber(device, index);
    for (const DsmPathEntry& path : device.Paths) {
      WalkedPath walked{number, &device, &serial, &path, index.FindPathPerf(path.PathId)};
      if (walked.perf == nullptr) {
        // The rest of this device cannot be shown; the others still can.
        missing(walked);
        break;
      }
      if (filter.Passes(serial, *walked.perf)) listed(walked);
    }
  }
}

}  // namespace dsm
