#include "scsi/scsi_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "platform/machine.h"
#include "scsi/bytes.h"
#include "scsi/drives.h"

namespace scsi {

ScsiAddress& CurrentScsiAddress() {
  static ScsiAddress address;
  return address;
}

uint8_t CdbLengthOf(uint8_t operationCode) {
  static constexpr uint8_t kLengths[8] = {6, 10, 10, 0, 16, 12, 0, 0};
  return kLengths[operationCode >> 5];
}

namespace {

constexpr char kPortPrefix[] = "\\\\.\\Scsi";

// One unsigned decimal number of at most nine digits, so it fits an int.
bool TakeNumber(std::string_view& text, unsigned* value) {
  size_t digits = 0;
  *value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    if (digits == 9) return false;
    *value = *value * 10 + static_cast<unsigned>(text[digits] - '0');
    ++digits;
  }
  text.remove_prefix(digits);
  return digits > 0;
}

// "p.b.t.l", four decimal numbers and nothing else. Each goes to the
// device as one byte, so a larger number would name another unit.
bool ParseAddress(std::string_view text, unsigned (&numbers)[4]) {
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    if (!TakeNumber(text, &numbers[i]) || numbers[i] > 255) return false;
  }
  return text.empty();
}

// Port form: the address comes from the path; fields it lacks stay 0.
std::string PortDevicePath(const std::string& path, size_t prefixAt) {
  int port = 0, bus = 0, target = 0, lun = 0;
  std::sscanf(path.c_str() + prefixAt, "\\\\.\\Scsi%d:Bus%d:ID%d:LUN%d", &port, &bus, &target,
              &lun);
  CurrentScsiAddress() = {static_cast<uint32_t>(port), static_cast<uint32_t>(bus),
                          static_cast<uint32_t>(target), static_cast<uint32_t>(lun)};
  return "\\\\.\\Scsi" + std::to_string(port) + ":";
}

void QueryAddress(platform::Device& device) {
  uint8_t address[8] = {};
  uint32_t returned = 0;
  if (device.IoControl(platform::kIoctlScsiGetAddress, nullptr, 0, address, sizeof address,
                       &returned) != platform::win32_error::kSuccess ||
      returned == 0) {
    return;
  }
  CurrentScsiAddress() = {address[4], address[5], address[6], address[7]};
}

// A zeroed block on a page boundary for the device to read and write;
// empty when the memory cannot be had.
class PageBuffer {
 public:
  explicit PageBuffer(size_t size)
      : size_(std::max<size_t>(size, 1)),
        bytes_(static_cast<uint8_t*>(::operator new(
            size_, std::align_val_t(kDeviceBufferAlignment), std::nothrow))) {
    if (bytes_ != nullptr) std::memset(bytes_, 0, size_);
  }
  ~PageBuffer() {
    if (bytes_ != nullptr) ::operator delete(bytes_, std::align_val_t(kDeviceBufferAlignment));
  }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  uint8_t* Get() const { return bytes_; }

 private:
  size_t size_;
  uint8_t* bytes_;
};

void WriteReason(platform::Output& errors, const std::string& device, platform::Win32Error error) {
  errors.Line("tollard: " + device + ": " +
              platform::CurrentMachine().Devices().ErrorText(error));
  errors.Flush();
}

}  // namespace

std::optional<std::string> ResolveDiskArgument(std::string_view text) {
  std::string path;
  if (text.find('.') != std::string_view::npos) {
    unsigned n[4];
    if (!ParseAddress(text, n)) return std::nullopt;
    path = "\\\\.\\Scsi" + std::to_string(n[0]) + ":Bus" + std::to_string(n[1]) + ":ID" +
           std::to_string(n[2]) + ":LUN" + std::to_string(n[3]);
  } else {
    path = "\\\\.\\PhysicalDrive" + std::string(text);
  }
  if (path.size() > kMaxDevicePath || path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

ScsiCommand::ScsiCommand(const std::string& path, PathOwnerLookup pathOwner)
    : pathOwner_(std::move(pathOwner)) {
  if (path.size() > kMaxDevicePath) return;
  name_ = path;
  std::string opened = path;
  size_t prefixAt = path.find(kPortPrefix);
  bool portForm = prefixAt != std::string::npos;
  portForm_ = portForm;
  if (portForm) {
    opened = PortDevicePath(path, prefixAt);
  } else {
    CurrentScsiAddress() = {};
  }
  std::unique_ptr<platform::Device> device;
  if (platform::CurrentMachine().Devices().Open(opened, &device) !=
      platform::win32_error::kSuccess) {
    return;
  }
  if (device && !portForm) QueryAddress(*device);
  device_ = std::move(device);
}

void ScsiCommand::SetCdb(const std::array<uint8_t, 16>& cdb) {
  cdbLength_ = CdbLengthOf(cdb[0]);
  std::copy_n(cdb.begin(), cdbLength_, cdb_.begin());
  if (cdb[0] == 0x03 && data_ == nullptr) SetDataIn(outcome_.Sense.data(), kSenseSize);
}

void ScsiCommand::SetDataIn(uint8_t* buffer, uint32_t length) {
  data_ = buffer;
  dataLength_ = length;
  dataIn_ = true;
}

void ScsiCommand::SetDataOut(uint8_t* buffer, uint32_t length) {
  data_ = buffer;
  dataLength_ = length;
  dataIn_ = false;
}

void ScsiCommand::FillHeader(uint8_t* r, const uint8_t* data, uint32_t senseOffset) const {
  const ScsiAddress& address = CurrentScsiAddress();
  PutLittleEndian(r + 0, 56, 2);
  r[3] = static_cast<uint8_t>(address.PathId);
  r[4] = static_cast<uint8_t>(address.TargetId);
  r[5] = static_cast<uint8_t>(address.Lun);
  r[6] = cdbLength_;
  r[7] = kSenseSize;
  r[8] = dataIn_ ? 1 : 0;
  PutLittleEndian(r + 12, dataLength_, 4);
  PutLittleEndian(r + 16, timeout_, 4);
  PutLittleEndian(r + 24, reinterpret_cast<uintptr_t>(data), 8);
  PutLittleEndian(r + 32, senseOffset, 4);
  std::copy(cdb_.begin(), cdb_.end(), r + 36);
}

std::array<uint8_t, kRequestSize> ScsiCommand::BuildRequest(const uint8_t* data) const {
  std::array<uint8_t, kRequestSize> request{};
  FillHeader(request.data(), data != nullptr ? data : data_, kSenseOffset);
  return request;
}

std::array<uint8_t, kMpioRequestSize> ScsiCommand::BuildMpioRequest(const uint8_t* data) const {
  std::array<uint8_t, kMpioRequestSize> request{};
  uint8_t* r = request.data();
  FillHeader(r, data != nullptr ? data : data_, kMpioSenseOffset);
  PutLittleEndian(r + 56, 0, 4);  // Version
  PutLittleEndian(r + 60, kMpioHeaderSize, 2);
  r[62] = platform::kMpioFlagUseScsiAddress;
  r[63] = static_cast<uint8_t>(CurrentScsiAddress().PortNumber);
  PutLittleEndian(r + 64, 0, 8);  // MpioPathId: not used with the address flag
  return request;
}

uint32_t ScsiCommand::Transferred() const {
  return std::min(dataLength_, dataLength_ - outcome_.Residual);
}

// The multipath disk of the current address, found once per command. The
// DSM's records name the LUN that owns the path and the LUN's serial number
// names its drive: a reservation command must never be offered to a disk it
// is not meant for, so no drive is tried on the chance that it has the path.
const std::string& ScsiCommand::MultipathDisk(platform::Output& out) {
  if (routeFound_) return owner_;
  routeFound_ = true;
  const ScsiAddress address = CurrentScsiAddress();
  const PathOwner lunOwner = pathOwner_ ? pathOwner_(address) : PathOwner{};
  switch (lunOwner.found) {
    case PathOwner::Found::kUnreadable:
      noOwnerReason_ = "the DSM's path records cannot be read";
      break;
    case PathOwner::Found::kNoPath:
      noOwnerReason_ = "no multipath device has a path with this address";
      break;
    case PathOwner::Found::kSerial:
      owner_ = FindDriveWithIdentifier(lunOwner.serial, out);
      if (!owner_.empty()) break;
      noOwnerReason_ = lunOwner.serial.empty()
                           ? "the multipath device with this path has no serial number"
                           : "no disk has the serial number " + lunOwner.serial;
      break;
  }
  // Asking the drives for their identifiers opened each of them.
  CurrentScsiAddress() = address;
  return owner_;
}

// Storport refuses a pass-through through the adapter for a unit a class
// driver has claimed, which every multipath disk is. MPIO takes the same
// command down the path with the request's address, on the disk it belongs
// to, so the command still runs on that path's I_T nexus.
platform::Win32Error ScsiCommand::SendThroughMultipath(uint8_t* request, platform::Output& out) {
  const std::string& disk = MultipathDisk(out);
  if (disk.empty()) return platform::win32_error::kFileNotFound;
  std::unique_ptr<platform::Device> drive;
  ownerError_ = platform::CurrentMachine().Devices().Open(disk, &drive);
  if (ownerError_ == platform::win32_error::kSuccess && !drive) {
    ownerError_ = platform::win32_error::kFileNotFound;
  }
  if (ownerError_ != platform::win32_error::kSuccess) return ownerError_;
  uint32_t returned = 0;
  ownerError_ = drive->IoControl(platform::kIoctlMpioPassThroughPathDirect, request,
                                 kMpioRequestSize, request, kMpioRequestSize, &returned);
  return ownerError_;
}

void ScsiCommand::ReportMultipathFailure(platform::Output& errors) const {
  if (!owner_.empty()) {
    WriteReason(errors, owner_, ownerError_);
    return;
  }
  errors.Line("tollard: " + name_ + ": " + noOwnerReason_);
  errors.Flush();
}

bool ScsiCommand::Execute(platform::Output& out, platform::Output& errors) {
  if (!device_) return false;
  outcome_.Status = 0;
  PageBuffer data(dataLength_);
  PageBuffer request(std::max(kRequestSize, kMpioRequestSize));
  if (data.Get() == nullptr || request.Get() == nullptr) return false;
  const bool hasData = data_ != nullptr && dataLength_ > 0;
  if (hasData) std::memcpy(data.Get(), data_, dataLength_);
  uint8_t* r = request.Get();
  FillHeader(r, data_ != nullptr ? data.Get() : nullptr, kSenseOffset);
  uint32_t returned = 0;
  platform::Win32Error error = device_->IoControl(platform::kIoctlScsiPassThroughDirect, r,
                                                  kRequestSize, r, kRequestSize, &returned);
  uint32_t senseOffset = kSenseOffset;
  if (error != platform::win32_error::kSuccess && portForm_) {
    const platform::Win32Error adapterError = error;
    if (hasData) std::memcpy(data.Get(), data_, dataLength_);
    const auto mpio = BuildMpioRequest(data_ != nullptr ? data.Get() : nullptr);
    std::copy(mpio.begin(), mpio.end(), r);
    senseOffset = kMpioSenseOffset;
    error = SendThroughMultipath(r, out);
    if (error != platform::win32_error::kSuccess) {
      WriteReason(errors, name_, adapterError);
      ReportMultipathFailure(errors);
    }
  }
  if (hasData && dataIn_) std::memcpy(data_, data.Get(), dataLength_);
  outcome_.Residual = dataLength_ - static_cast<uint32_t>(GetLittleEndian(r + 12, 4));
  outcome_.Status = r[2];
  // A driver never reports more sense than the buffer holds; do not trust it to.
  outcome_.SenseLength = std::min<uint8_t>(r[7], kSenseSize);
  std::copy_n(r + senseOffset, outcome_.SenseLength, outcome_.Sense.begin());
  return JudgeOutcome(error == platform::win32_error::kSuccess, out);
}

// Sense data is decoded here and nowhere else.
bool ScsiCommand::JudgeOutcome(bool sent, platform::Output& out) const {
  if (sent && outcome_.Status == 0) return true;
  if ((outcome_.Status & 0x02) == 0) return false;
  if (outcome_.SenseLength < 14) return false;
  uint8_t senseKey = outcome_.Sense[2] & 0x0F;
  if (senseKey == 1) return true;
  if (senseKey != 2 && senseKey != 6) return false;
  if (outcome_.Sense[12] == 0x29) {
    out.Write(name_ + ": device reset");
    out.Flush();
  }
  return false;
}

}  // namespace scsi
