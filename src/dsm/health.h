// `health [min-online-paths]`: a check in the monitoring-plugin convention.
// One line of text, performance data after "|", and the exit status 0 OK,
// 1 WARNING, 2 CRITICAL or 3 UNKNOWN (rules in docs/automation.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dsm/model.h"
#include "platform/output.h"

namespace dsm {

/// The check's states, with their exit statuses; a larger one is worse.
enum class HealthState { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };

/// "OK", "WARNING", "CRITICAL" or "UNKNOWN".
std::string_view HealthStateName(HealthState state);

/// Paths counted by state; a path without performance record counts as
/// unknown.
struct PathCounts {
  uint64_t online = 0;
  uint64_t standby = 0;
  uint64_t failed = 0;
  uint64_t unknown = 0;
  uint64_t Total() const { return online + standby + failed + unknown; }
};

/// One device as the check judges it.
struct DeviceHealth {
  size_t number = 0;
  std::string serial;  // as devinfo shows it
  HealthState state = HealthState::kOk;
  PathCounts paths;
  std::vector<std::string> reasons;  // why it is not OK, most serious first
};

/// The judgement of a whole machine.
struct HealthReport {
  HealthState state = HealthState::kOk;
  size_t devices = 0;
  PathCounts paths;
  size_t critical = 0;
  size_t warning = 0;
  std::vector<DeviceHealth> problems;  // worst first, then in device order
};

/// Judges every device: CRITICAL without an online path; WARNING with a
/// failed path, a path in an unknown state, or fewer online paths than it
/// needs (FailOver: an online primary path; every other policy two online
/// paths; every policy at least `minOnline` online paths).
HealthReport EvaluateHealth(const DsmLists& lists, const PathIndex& index, uint64_t minOnline);

/// The status line of a report (no line end): "DSM <STATE> - <text> |
/// <performance data>", naming at most five devices and then "and N more".
std::string HealthLine(const HealthReport& report);

/// The minimum of online paths as typed: decimal digits only, at most
/// 2147483647; none otherwise.
std::optional<uint64_t> ParseMinOnline(std::string_view word);

/// Handler of `health [min-online-paths]` (words[0] is the command word):
/// writes the status line and returns the state's exit status. A DSM that
/// cannot be reached or read, and words that fit no form, give UNKNOWN.
int RunHealth(platform::Output& out, int count, const char* const* words);

}  // namespace dsm
