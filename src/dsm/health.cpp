#include "dsm/health.h"

#include <algorithm>

#include "dsm/read_failure.h"

namespace dsm {
namespace {

constexpr size_t kNamedDevices = 5;

// "1 failed path", "2 failed paths".
std::string Count(uint64_t n, std::string_view singular, std::string_view plural) {
  return std::to_string(n) + " " + std::string(n == 1 ? singular : plural);
}

void CountPath(const PathPerf* perf, bool primary, PathCounts& counts, bool& onlinePrimary) {
  const std::string_view state = perf ? std::string_view(perf->State) : "Unknown";
  if (state == "Online") {
    ++counts.online;
    onlinePrimary = onlinePrimary || primary;
  } else if (state == "Standby") {
    ++counts.standby;
  } else if (state == "Failed") {
    ++counts.failed;
  } else {
    ++counts.unknown;
  }
}

DeviceHealth Judge(size_t number, const DsmDevice& device, const PathIndex& index,
                   uint64_t minOnline) {
  DeviceHealth health;
  health.number = number;
  health.serial = DeviceSerialNumber(device, index);
  bool onlinePrimary = false;
  for (const DsmPathEntry& path : device.Paths) {
    CountPath(index.FindPathPerf(path.PathId), path.Primary, health.paths, onlinePrimary);
  }
  const PathCounts& paths = health.paths;
  const bool failOver = device.PolicyName == "FailOver";
  const uint64_t needed = std::max<uint64_t>(failOver ? 1 : 2, minOnline);
  if (paths.online == 0) {
    health.state = HealthState::kCritical;
    health.reasons.push_back(paths.Total() == 0 ? "no path" : "no online path");
  } else {
    if (failOver && !onlinePrimary) health.reasons.push_back("no online primary path");
    if (paths.online < needed) {
      health.reasons.push_back(Count(paths.online, "online path", "online paths") + ", " +
                               std::to_string(needed) + " needed");
    }
  }
  if (paths.failed > 0)
    health.reasons.push_back(Count(paths.failed, "failed path", "failed paths"));
  if (paths.unknown > 0) {
    health.reasons.push_back(
        Count(paths.unknown, "path in an unknown state", "paths in an unknown state"));
  }
  if (health.state == HealthState::kOk && !health.reasons.empty()) {
    health.state = HealthState::kWarning;
  }
  return health;
}

void AddCounts(PathCounts& total, const PathCounts& more) {
  total.online += more.online;
  total.standby += more.standby;
  total.failed += more.failed;
  total.unknown += more.unknown;
}

std::string PerformanceData(const HealthReport& report) {
  const PathCounts& p = report.paths;
  return "devices=" + std::to_string(report.devices) + " paths=" + std::to_string(p.Total()) +
         " online=" + std::to_string(p.online) + " standby=" + std::to_string(p.standby) +
         " failed=" + std::to_string(p.failed) + " unknown=" + std::to_string(p.unknown) +
         " devices_critical=" + std::to_string(report.critical) +
         " devices_warning=" + std::to_string(report.warning);
}

std::string Summary(const HealthReport& report) {
  if (report.devices == 0) return "no multipath devices";
  std::string text = Count(report.devices, "device", "devices");
  if (report.problems.empty()) {
    return text + " with " + Count(report.paths.Total(), "path", "paths") + ", " +
           std::to_string(report.paths.online) + " online";
  }
  text += ", " + std::to_string(report.critical) + " critical, " + std::to_string(report.warning) +
          " warning: ";
  const size_t named = std::min(report.problems.size(), kNamedDevices);
  for (size_t i = 0; i < named; ++i) {
    const DeviceHealth& device = report.problems[i];
    if (i > 0) text += "; ";
    text += device.serial + " (device " + std::to_string(device.number) + "): ";
    for (size_t r = 0; r < device.reasons.size(); ++r) {
      text += (r > 0 ? ", " : "") + device.reasons[r];
    }
  }
  if (report.problems.size() > named) {
    text += "; and " + std::to_string(report.problems.size() - named) + " more";
  }
  return text;
}

// The typed word in the status line: a control character would break the
// one line a monitoring system reads.
std::string Printable(std::string_view word) {
  std::string text(word);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

int Unknown(platform::Output& out, const std::string& text) {
  out.Line("DSM UNKNOWN - " + text);
  return static_cast<int>(HealthState::kUnknown);
}

}  // namespace

std::string_view HealthStateName(HealthState state) {
  switch (state) {
    case HealthState::kOk:
      return "OK";
    case HealthState::kWarning:
      return "WARNING";
    case HealthState::kCritical:
      return "CRITICAL";
    case HealthState::kUnknown:
      break;
  }
  return "UNKNOWN";
}

HealthReport EvaluateHealth(const DsmLists& lists, const PathIndex& index, uint64_t minOnline) {
  HealthReport report;
  report.devices = lists.devices.size();
  for (size_t number = 0; number < lists.devices.size(); ++number) {
    DeviceHealth device = Judge(number, lists.devices[number], index, minOnline);
    AddCounts(report.paths, device.paths);
    report.state = std::max(report.state, device.state);
    if (device.state == HealthState::kCritical) ++report.critical;
    if (device.state == HealthState::kWarning) ++report.warning;
    if (device.state != HealthState::kOk) report.problems.push_back(std::move(device));
  }
  // Worst first; devices of one state stay in device order.
  std::stable_sort(report.problems.begin(), report.problems.end(),
                   [](const DeviceHealth& a, const DeviceHealth& b) { return a.state > b.state; });
  return report;
}

std::string HealthLine(const HealthReport& report) {
  return "DSM " + std::string(HealthStateName(report.state)) + " - " + Summary(report) + " | " +
         PerformanceData(report);
}

std::optional<uint64_t> ParseMinOnline(std::string_view word) {
  if (word.empty() || word.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 2147483647) return std::nullopt;
  return value;
}

int RunHealth(platform::Output& out, int count, const char* const* words) {
  uint64_t minOnline = 0;
  if (count > 2) {
    return Unknown(
        out, "syntax error near " + Printable(words[2]) + "; usage: health [min-online-paths]");
  }
  if (count == 2) {
    auto parsed = ParseMinOnline(words[1]);
    if (!parsed) {
      return Unknown(
          out, "syntax error near " + Printable(words[1]) + "; usage: health [min-online-paths]");
    }
    minOnline = *parsed;
  }
  if (auto failure = ConnectionFailure()) {
    return Unknown(out, "cannot connect to WMI: " + DescribeFailure(*failure));
  }
  DsmLists lists;
  if (auto failure = LoadListsOrFailure(lists)) {
    return Unknown(out, "cannot read the DSM: " + DescribeFailure(*failure));
  }
  const PathIndex index(lists.descriptors, lists.perf);
  const HealthReport report = EvaluateHealth(lists, index, minOnline);
  out.Line(HealthLine(report));
  return static_cast<int>(report.state);
}

}  // namespace dsm
