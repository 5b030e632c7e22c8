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

/// A pass-through request (SCSI_PASS_THROUGH_DIRECT) as read from the
/// caller's buffer.
struct PassThroughRequest {
  uint8_t pathId = 0, targetId = 0, lun = 0;
  std::vector<uint8_t> cdb;  // CdbLength bytes
  uint8_t dataIn = 0;        // 0 out, 1 in, 2 unspecified
  uint32_t length = 0;       // DataTransferLength
  uint8_t* data = nullptr;   // DataBuffer
  uint8_t senseLength = 0;   // SenseInfoLength: room for sense data at offset 60
};

/// Reads the request in `in`; the answer will go to an `outSize`-byte
/// buffer. kInvalidParameter when it is malformed: too short, Length not
/// 56, SenseInfoOffset not 60, CdbLength 0 or above 16, room for sense data
/// beyond the output buffer, or data without a buffer.
Win32Error ReadPassThrough(const void* in, uint32_t inSize, uint32_t outSize,
                           PassThroughRequest* request);

/// Writes the outcome into the caller's output buffer (the request's
/// header copied from `in`, then ScsiStatus, DataTransferLength,
/// SenseInfoLength and the sense bytes, cut to the room the request gave).
/// Returns the number of bytes written.
uint32_t WritePassThrough(const void* in, void* out, uint8_t status, uint32_t transferred,
                          const std::vector<uint8_t>& sense, uint8_t senseRoom);

}  // namespace platform::sim
