// The walk of pathinfo: which paths it lists, in which order, and where a
// device's listing stops. The text listing and the JSON listing both use
// it, so they always show the same paths.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "dsm/model.h"

namespace dsm {

/// Which paths a pathinfo filter lets through.
struct PathFilter {
  enum class Kind { kNone, kSerial, kAdapter, kNothing } kind = Kind::kNone;
  std::string value;

  /// No filter passes everything; "sn" compares the device's serial number
  /// and "hba" the path's adapter port with `value`, exactly.
  bool Passes(const std::string& deviceSerial, const PathPerf& perf) const;
};

/// The filter of a kind word ("sn" or "hba" in any letter case; no kind is
/// no filter, any other kind passes nothing) and its value.
PathFilter MakePathFilter(const std::optional<std::string>& kind, std::string value);

/// One path as the walk meets it.
struct WalkedPath {
  size_t deviceNumber = 0;
  const DsmDevice* device = nullptr;
  const std::string* serial = nullptr;  // the device's, as the listings show it
  const DsmPathEntry* path = nullptr;
  const PathPerf* perf = nullptr;  // null for a path without performance record
};

/// Walks the devices in order and each device's paths in order. A path
/// without performance record goes to `missing` (filter or not) and ends
/// its device's walk; a path that the filter passes goes to `listed`.
void WalkPaths(const DsmLists& lists, const PathIndex& index, const PathFilter& filter,
               const std::function<void(const WalkedPath&)>& listed,
               const std::function<void(const WalkedPath&)>& missing);

}  // namespace dsm
