// The devices of a simulated machine: a physical drive for every LUN of the
// SAN, the SCSI port device of every adapter port, and the other names a
// Windows machine lists. The drives answer SCSI pass-through requests as
// SPC-3 logical units; reservations are kept in the machine file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/sim/faults/faults.h"
#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/san/san_model.h"

namespace platform::sim {

/// Makes the devices of a machine from `model` (null: no SAN, so no SAN
/// drives) and the "disks" section of `state`'s document, which it reads
/// at every command and edits through `state`. `faults` may make the
/// device calls fail. Null with `error` set on a malformed "disks" section.
std::unique_ptr<DeviceIo> MakeDisks(MachineState& state, std::shared_ptr<SanModel> model,
                                    std::shared_ptr<Faults> faults, std::string* error);

/// Sizes of the two request structures: SCSI_PASS_THROUGH_DIRECT and
/// MPIO_PASS_THROUGH_PATH_DIRECT (the former, then Version, Length, Flags,
/// PortNumber, MpioPathId).
constexpr uint32_t kPassThroughSize = 56;
constexpr uint32_t kMpioPassThroughSize = 72;

/// The alignment the simulated adapters need for data buffers: 8 bytes
/// (an alignment mask of 7).
constexpr uint64_t kAdapterAlignmentMask = 7;

/// A pass-through request as read from the caller's buffer.
struct PassThroughRequest {
  uint8_t pathId = 0, targetId = 0, lun = 0;
  std::vector<uint8_t> cdb;  // CdbLength bytes
  uint8_t dataIn = 0;        // 0 out, 1 in, 2 unspecified
  uint32_t length = 0;       // DataTransferLength
  uint8_t* data = nullptr;   // DataBuffer
  uint8_t senseLength = 0;   // SenseInfoLength: room for sense data at senseOffset
  uint32_t senseOffset = 0;  // SenseInfoOffset
  uint32_t headerSize = kPassThroughSize;
  // The multipath request's own fields.
  uint32_t mpioFlags = 0;
  uint8_t portNumber = 0;
};

/// Reads a request whose structure is `headerSize` bytes (kPassThroughSize
/// or kMpioPassThroughSize) from `in`; the answer will go to an
/// `outSize`-byte buffer. kInvalidParameter when it is malformed: too
/// short, a Length (or the multipath Length or Version) other than the
/// structure's, sense room that overlaps the structure or lies beyond the
/// output buffer, CdbLength 0 or above 16, data without a buffer, or a data
/// buffer the adapters cannot use (not aligned to 8 bytes).
Win32Error ReadPassThrough(const void* in, uint32_t inSize, uint32_t outSize, uint32_t headerSize,
                           PassThroughRequest* request);

/// Writes the outcome into the caller's output buffer (the request's
/// structure copied from `in`, then ScsiStatus, DataTransferLength,
/// SenseInfoLength and the sense bytes at its offset, cut to the room the
/// request gave). Returns the number of bytes written.
uint32_t WritePassThrough(const void* in, void* out, const PassThroughRequest& request,
                          uint8_t status, uint32_t transferred, const std::vector<uint8_t>& sense);

}  // namespace platform::sim
