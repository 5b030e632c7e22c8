#include "scsi/scsi_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/machine.h"
#include "scsi/bytes.h"

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

// "p.b.t.l", four decimal numbers and nothing else.
bool ParseAddress(std::string_view text, unsigned (&numbers)[4]) {
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    if (!TakeNumber(text, &numbers[i])) return false;
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

ScsiCommand::ScsiCommand(const std::string& path) {
  if (path.size() > kMaxDevicePath) return;
  name_ = path;
  std::string opened = path;
  size_t prefixAt = path.find(kPortPrefix);
  bool portForm = prefixAt != std::string::npos;
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

std::array<uint8_t, kRequestSize> ScsiCommand::BuildRequest() const {
  std::array<uint8_t, kRequestSize> request{};
  const ScsiAddress& address = CurrentScsiAddress();
  uint8_t* r = request.data();
  PutLittleEndian(r + 0, 56, 2);
  r[3] = static_cast<uint8_t>(address.PathId);
  r[4] = static_cast<uint8_t>(address.TargetId);
  r[5] = static_cast<uint8_t>(address.Lun);
  r[6] = cdbLength_;
  r[7] = kSenseSize;
  r[8] = dataIn_ ? 1 : 0;
  PutLittleEndian(r + 12, dataLength_, 4);
  PutLittleEndian(r + 16, timeout_, 4);
  PutLittleEndian(r + 24, reinterpret_cast<uintptr_t>(data_), 8);
  PutLittleEndian(r + 32, kSenseOffset, 4);
  std::copy(cdb_.begin(), cdb_.end(), r + 36);
  return request;
}

uint32_t ScsiCommand::Transferred() const {
  return std::min(dataLength_, dataLength_ - outcome_.Residual);
}

bool ScsiCommand::Execute(platform::Output& out) {
  if (!device_) return false;
  std::array<uint8_t, kRequestSize> request = BuildRequest();
  outcome_.Status = 0;
  uint32_t returned = 0;
  bool sent = device_->IoControl(platform::kIoctlScsiPassThroughDirect, request.data(),
                                 kRequestSize, request.data(), kRequestSize,
                                 &returned) == platform::win32_error::kSuccess;
  const uint8_t* r = request.data();
  outcome_.Residual = dataLength_ - static_cast<uint32_t>(GetLittleEndian(r + 12, 4));
  outcome_.Status = r[2];
  // A driver never reports more sense than the buffer holds; do not trust it to.
  outcome_.SenseLength = std::min<uint8_t>(r[7], kSenseSize);
  std::copy_n(r + kSenseOffset, outcome_.SenseLength, outcome_.Sense.begin());
  return JudgeOutcome(sent, out);
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
