// Load-balance policy and fail-back of devices: the devinfo setters on a
// device snapshot, and the one operation that re-sends a device's whole
// policy to the DSM.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dsm/model.h"
#include "dsm/snapshot.h"
#include "platform/output.h"

namespace dsm {

/// The value SendLoadBalancePolicy puts in Version, whatever the block read
/// back holds.
constexpr int32_t kPolicyVersion = 394544;

/// devinfo <serial> <word> on a loaded snapshot. A fail-back word goes to
/// SetDeviceFailBack; an unknown word prints the long help (result 0).
/// Otherwise the serial's paths are sent with the policy and fail-back off,
/// for FailOver with ChoosePrimaryPath's path marked primary (also in the
/// snapshot). 1 when the snapshot has no performance record or the serial
/// no path; else SendLoadBalancePolicy's result.
int SetDevicePolicy(platform::Output& out, DeviceSnapshot& snapshot, const std::string& serial,
                    const std::string& word);

/// devinfo <serial> failback-on|failback-off. "  not fail-over: <serial>"
/// and 0 for a device whose policy is not FailOver; 1 when the serial's
/// device or paths cannot be found; else SendLoadBalancePolicy's result.
int SetDeviceFailBack(platform::Output& out, const DeviceSnapshot& snapshot,
                      const std::string& serial, const std::string& word);

/// devinfo all <word>: SetDevicePolicy for each serial number of a fresh
/// performance list, in order of first appearance, up to three attempts
/// each, then "<serial> is set." or, when the last attempt failed,
/// "<serial> is not set.". 1 when the list is empty or any device failed.
int SetAllDevices(platform::Output& out, DeviceSnapshot& snapshot, const std::string& word);

/// Copies of the snapshot's path entries whose performance record has
/// `serial`, in device order and path order.
std::vector<DsmPathEntry> SerialPathList(const DeviceSnapshot& snapshot, const std::string& serial);

/// Sends the whole policy of the device holding paths[0].PathId with
/// OrnDsmSetLoadBalancePolicy: the device's block (from `snapshot`, or
/// loaded live when it is null), each path's weight and primary flag taken
/// from the first entry of `paths` with its id. Policy 1 and FailBack 1
/// when `failBackOn`, else `policy` and FailBack 2. 0 on success (or when
/// the DSM has no method object and Next did not fail); 1 when the device
/// is not found, its block is not whole, a WMI step fails or ExecMethod
/// returns a negative result. `paths` must not be empty.
int SendLoadBalancePolicy(const std::vector<DsmPathEntry>& paths, int32_t policy, bool failBackOn,
                          const DeviceSnapshot* snapshot);

}  // namespace dsm
