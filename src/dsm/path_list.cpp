#include <string>
#include <vector>

#include "cli/words.h"
#include "dsm/columns.h"
#include "dsm/commands.h"
#include "dsm/model.h"

namespace dsm {
namespace {

using platform::Output;

// Which paths a pathinfo filter lets through.
struct PathFilter {
  enum class Kind { kNone, kSerial, kAdapter, kNothing } kind = Kind::kNone;
  std::string value;

  bool Passes(const std::string& deviceSerial, const PathPerf& perf) const {
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
};

PathFilter MakeFilter(const std::optional<std::string>& kind, std::string value) {
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

void Field(Output& out, std::string_view label, const std::string& value) {
  out.Line(PadRight(label, 16) + value);
}

void PrintPathBlock(Output& out, const DsmDevice& device, const std::string& serial,
                    const DsmPathEntry& path, const PathPerf& perf) {
  out.Line("");
  Field(out, " Policy:", device.PolicyName);
  Field(out, " SerialNumber:", serial);
  Field(out, " PathId:", PathIdText(path.PathId));
  Field(out, " Weight:", std::to_string(path.Weight));
  Field(out, " Primary:", path.Primary ? "true" : "false");
  Field(out, " ScsiAddress:", perf.ScsiAddressKey);
  Field(out, " HbaWWPN:", perf.HbaWwpn);
  Field(out, " CtrlPortWWPN:", perf.CtrlPortWwpn);
  Field(out, " State:", perf.State);
  Field(out, " BytesRead:", std::to_string(perf.BytesRead));
  Field(out, " BytesWritten:", std::to_string(perf.BytesWritten));
  Field(out, " NumberReads:", std::to_string(perf.NumberReads));
  Field(out, " NumberWrites:", std::to_string(perf.NumberWrites));
}

}  // namespace

int ListPaths(Output& out, std::optional<std::string> kind, std::string value) {
  DsmLists lists;
  if (int r = LoadDsmLists(lists); r != 0) return r;
  if (lists.devices.empty()) return 0;
  const auto& [devices, perf, descriptors] = lists;

  PathFilter filter = MakeFilter(kind, std::move(value));
  PathIndex index(descriptors, perf);
  for (const DsmDevice& device : devices) {
    std::string serial = DeviceSerialNumber(device, index);
    for (const DsmPathEntry& path : device.Paths) {
      const PathPerf* record = index.FindPathPerf(path.PathId);
      if (record == nullptr) {
        // The rest of this device cannot be shown; the others still can.
        out.Line("Error occured!");
        break;
      }
      if (filter.Passes(serial, *record)) PrintPathBlock(out, device, serial, path, *record);
    }
  }
  out.Line("");
  return 0;
}

}  // namespace dsm
