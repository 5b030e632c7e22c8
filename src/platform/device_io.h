// Device I/O of the platform seam: open a device path, DeviceIoControl on
// it, and the DOS device-name list. Results are Win32 error numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

/// The control codes the programs send: the address query, the
/// pass-through to an adapter or disk, and the multipath disk's
/// pass-through down one of its paths (MPIO_PASS_THROUGH_PATH_DIRECT).
constexpr uint32_t kIoctlScsiGetAddress = 0x41018;
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr uint32_t kIoctlMpioPassThroughPathDirect = 0x4D040;

/// MPIO_IOCTL_FLAG_USE_SCSIADDRESS: the path is the one with the request's
/// port, path id, target id and LUN.
constexpr uint32_t kMpioFlagUseScsiAddress = 2;

/// Windows' own text for an error number, as FormatMessage gives it on an
/// English system (without the line end), for the numbers the device calls
/// give; "error N" for the others.
inline std::string SystemErrorText(Win32Error code) {
  switch (code) {
    case 1: return "Incorrect function.";
    case 2: return "The system cannot find the file specified.";
    case 5: return "Access is denied.";
    case 8: return "Not enough memory resources are available to process this command.";
    case 31: return "A device attached to the system is not functioning.";
    case 50: return "The request is not supported.";
    case 87: return "The parameter is incorrect.";
    case 122: return "The data area passed to a system call is too small.";
    case 1117: return "The request could not be performed because of an I/O device error.";
    case 1167: return "The device is not connected.";
    default: return "error " + std::to_string(code);
  }
}

/// An open device (a HANDLE from CreateFileA); closed when destroyed.
class Device {
 public:
  virtual ~Device() = default;
  /// DeviceIoControl(handle, code, in, inSize, out, outSize, &returned,
  /// NULL). Returns kSuccess, or the call's GetLastError value. The
  /// buffers are exactly as Windows takes them: for the pass-through
  /// request the 88-byte SCSI_PASS_THROUGH_DIRECT block with its sense
  /// buffer, whose DataBuffer field holds the address of the caller's data;
  /// for the multipath pass-through the 72-byte
  /// MPIO_PASS_THROUGH_PATH_DIRECT with the sense buffer after it.
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
  /// entry, an empty entry at the end) of at most `size` bytes. When it
  /// does not fit, kInsufficientBuffer and nothing (Windows returns 0 then,
  /// and the caller asks again with a larger buffer); kFileNotFound for an
  /// unknown name.
  virtual Win32Error QueryDosDevice(const std::string& name, uint32_t size,
                                    std::string* multiString) = 0;
  /// The system's text for an error number the calls above returned.
  virtual std::string ErrorText(Win32Error code) { return SystemErrorText(code); }
};

}  // namespace platform
