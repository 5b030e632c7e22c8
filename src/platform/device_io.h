// Device I/O of the platform seam: open a device path, DeviceIoControl on
// it, and the DOS device-name list. Results are Win32 error numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

/// The two control codes the programs send.
constexpr uint32_t kIoctlScsiGetAddress = 0x41018;
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;

/// An open device (a HANDLE from CreateFileA); closed when destroyed.
class Device {
 public:
  virtual ~Device() = default;
  /// DeviceIoControl(handle, code, in, inSize, out, outSize, &returned,
  /// NULL). Returns kSuccess, or the call's GetLastError value. The
  /// buffers are exactly as Windows takes them: for the pass-through
  /// request the 88-byte SCSI_PASS_THROUGH_DIRECT block with its sense
  /// buffer, whose DataBuffer field holds the address of the caller's data.
  virtual Win32Error IoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                               uint32_t outSize, uint32_t* returned) = 0;
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  /// CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ |
  /// FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL).
  virtual Win32Error Open(const std::string& path, std::unique_ptr<Device>* device) = 0;
  /// QueryDosDeviceA(name, buffer, size): with an empty `name` every device
  /// name, else the targets of that name; as a multi-string (NUL after each
  /// entry, an empty entry at the end) of at most `size` bytes.
  /// kInsufficientBuffer when it does not fit, kFileNotFound for an
  /// unknown name.
  virtual Win32Error QueryDosDevice(const std::string& name, uint32_t size,
                                    std::string* multiString) = 0;
};

}  // namespace platform
