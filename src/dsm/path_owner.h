// Which multipath device owns the path with a SCSI address: the join the
// SCSI code needs to reach a disk through the one path an adapter refuses.
#pragma once

#include <string>

#include "scsi/scsi_command.h"

namespace dsm {

/// The key of an address as the path records hold it ("02000001": port,
/// path id, target, LUN as two upper-case hexadecimal digits each), or
/// empty when a field does not fit a byte (no path has that address).
std::string ScsiAddressKeyOf(const scsi::ScsiAddress& address);

/// The LUN that owns the path with `address`, read afresh from the DSM:
/// the path is the one pathinfo shows with that ScsiAddress (devices and
/// paths in their order, the first match winning, a device's paths after
/// one without records not shown), the serial number the one pathinfo
/// shows beside it. kUnreadable when a loader fails.
scsi::PathOwner PathOwnerOf(const scsi::ScsiAddress& address);

}  // namespace dsm
