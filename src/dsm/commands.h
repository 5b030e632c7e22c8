// The DSM device and path commands, one entry point per command form. Each
// writes its output to `out` and returns the command's result, 0 for
// success; the shell prints "command failed!" for any other result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/output.h"

namespace dsm {

/// devinfo: the device table. Nothing when there is no device; a loader's
/// nonzero result unchanged, with no output.
int ListDevices(platform::Output& out);

/// pathinfo [sn|hba <value>]: a block per path, filtered by the device's
/// serial number (kind "sn") or the path's adapter port (kind "hba"), both
/// compared exactly. No kind lists every path.
int ListPaths(platform::Output& out, std::optional<std::string> kind, std::string value);

/// devinfo <serial> <policy|failback-on|failback-off> on a fresh snapshot.
int DevinfoSetOne(platform::Output& out, const std::string& serial, const std::string& word);

/// devinfo all <policy|failback-on|failback-off>: every device in turn,
/// one line per device saying whether it was set; nonzero when any failed.
int DevinfoSetAll(platform::Output& out, const std::string& word);

/// pathinfo <wwpn> <online|standby|failed>: one OrnDsmSetPathStatus call
/// for every path that leaves that adapter port.
int SetAdapterPathState(platform::Output& out, const std::string& wwpn, const std::string& word);

/// primary (true) / secondary (false) <PathId>: re-sends the device's
/// policy with the path's role changed. "Bad PathId!" and 1 for an
/// unknown path.
int SetPathRole(platform::Output& out, uint64_t pathId, bool primary);

/// weight <PathId> <weight>: re-sends the device's policy with the path's
/// weight changed and every primary flag cleared.
int SetPathWeight(platform::Output& out, uint64_t pathId, int32_t weight);

/// clear: OrnDsmClearCounters on every DSM method object. 1 when any call
/// failed (" Clear all counters: Failed"), the enumeration's status when
/// it cannot be opened, else 0.
int ClearCounters(platform::Output& out);

}  // namespace dsm
