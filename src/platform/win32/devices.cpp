// Windows only: device handles, DeviceIoControl and the DOS device names.
#include "platform/win32/devices.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "platform/win32/holders.h"

namespace platform::win32 {
namespace {

// The SCSI code builds the pass-through request and reads the address as
// raw bytes at fixed offsets; these pin those offsets to the SDK's layouts,
// so that a change on either side fails the build instead of the device.
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);
static_assert(IOCTL_SCSI_GET_ADDRESS == kIoctlScsiGetAddress);
static_assert(sizeof(void*) == 8, "the request carries a 64-bit data buffer address");
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == 0);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == 3);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == 5);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT{}.Cdb) == 16);
static_assert(sizeof(SCSI_ADDRESS) == 8);
static_assert(offsetof(SCSI_ADDRESS, Length) == 0);
static_assert(offsetof(SCSI_ADDRESS, PortNumber) == 4);
static_assert(offsetof(SCSI_ADDRESS, PathId) == 5);
static_assert(offsetof(SCSI_ADDRESS, TargetId) == 6);
static_assert(offsetof(SCSI_ADDRESS, Lun) == 7);

// The multipath disk's pass-through down one path. The mingw-w64 headers
// lack it, so it is declared here as the Windows SDK lays it out, and the
// SCSI code's offsets are pinned to this declaration. 72 bytes: MpioPathId
// falls on an 8-byte boundary with no padding before it.
struct MpioPassThroughPathDirect {
  SCSI_PASS_THROUGH_DIRECT PassThrough;
  ULONG Version;
  USHORT Length;
  UCHAR Flags;
  UCHAR PortNumber;
  ULONGLONG MpioPathId;
};
constexpr DWORD kMpioIoctl = CTL_CODE(IOCTL_SCSI_BASE, 0x410, METHOD_BUFFERED,
                                      FILE_READ_ACCESS | FILE_WRITE_ACCESS);
static_assert(kMpioIoctl == kIoctlMpioPassThroughPathDirect);
static_assert(sizeof(MpioPassThroughPathDirect) == 72);
static_assert(alignof(MpioPassThroughPathDirect) == 8);
static_assert(offsetof(MpioPassThroughPathDirect, PassThrough) == 0);
static_assert(offsetof(MpioPassThroughPathDirect, Version) == 56);
static_assert(offsetof(MpioPassThroughPathDirect, Length) == 60);
static_assert(offsetof(MpioPassThroughPathDirect, Flags) == 62);
static_assert(offsetof(MpioPassThroughPathDirect, PortNumber) == 63);
static_assert(offsetof(MpioPassThroughPathDirect, MpioPathId) == 64);

// The last error of a failed call; a failure never comes back as success,
// even when the call left no error behind.
Win32Error LastFailure() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// A name with a NUL in it would silently name a shorter one.
bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// The names of a multi-string up to its empty entry, each followed by NUL,
// then the empty entry; a last name the call left unterminated is ended.
std::string EndedList(std::string_view raw) {
  std::string list;
  while (!raw.empty() && raw.front() != '\0') {
    const std::string_view name = raw.substr(0, raw.find('\0'));
    list.append(name);
    list += '\0';
    raw.remove_prefix(std::min(raw.size(), name.size() + 1));
  }
  list += '\0';
  return list;
}

class Win32Device final : public Device {
 public:
  /// Opens `path`; IsOpen tells whether that worked, OpenError why not.
  explicit Win32Device(const std::string& path)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)),
        openError_(handle_.IsValid() ? ERROR_SUCCESS : LastFailure()) {}

  bool IsOpen() const { return handle_.IsValid(); }
  Win32Error OpenError() const { return openError_; }

  Win32Error IoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) override {
    DWORD count = 0;
    const BOOL done = DeviceIoControl(handle_.Get(), code, const_cast<void*>(in), inSize, out,
                                      outSize, &count, nullptr);
    const Win32Error error = done ? ERROR_SUCCESS : LastFailure();
    if (returned != nullptr) *returned = count;
    return error;
  }

 private:
  ScopedHandle handle_;
  Win32Error openError_;
};

class Win32Devices final : public DeviceIo {
 public:
  std::string ErrorText(Win32Error code) override {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ')) {
      reason.pop_back();
    }
    return reason.empty() ? SystemErrorText(code) : reason;
  }

  Win32Error Open(const std::string& path, std::unique_ptr<Device>* device) override {
    device->reset();
    if (HasNul(path)) return ERROR_INVALID_NAME;
    // Made before the open, so the handle has its owner from the start.
    auto opened = std::make_unique<Win32Device>(path);
    if (!opened->IsOpen()) return opened->OpenError();
    *device = std::move(opened);
    return ERROR_SUCCESS;
  }

  Win32Error QueryDosDevice(const std::string& name, uint32_t size,
                            std::string* multiString) override {
    multiString->clear();
    if (HasNul(name)) return ERROR_INVALID_NAME;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[std::max<uint32_t>(size, 1)]);
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD stored = QueryDosDeviceA(name.empty() ? nullptr : name.c_str(), buffer.get(), size);
    if (stored == 0) return LastFailure();
    std::string list = EndedList(std::string_view(buffer.get(), std::min<DWORD>(stored, size)));
    if (list.size() > size) return ERROR_INSUFFICIENT_BUFFER;
    *multiString = std::move(list);
    return ERROR_SUCCESS;
  }
};

}  // namespace

DeviceIo& RealDevices() {
  static Win32Devices devices;
  return devices;
}

}  // namespace platform::win32
