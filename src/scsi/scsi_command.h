// One SCSI command sent to one device through the platform's SCSI
// pass-through, and the naming of the devices it is sent to.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/device_io.h"
#include "platform/output.h"

namespace scsi {

/// The address every pass-through request carries; each field is sent as
/// one byte.
struct ScsiAddress {
  uint32_t PortNumber = 0;
  uint32_t PathId = 0;
  uint32_t TargetId = 0;
  uint32_t Lun = 0;
};

/// What the DSM's own path records say of an address.
struct PathOwner {
  enum class Found {
    kSerial,      // a multipath device has a path with the address
    kUnreadable,  // the records cannot be read
    kNoPath,      // no multipath device has a path with the address
  };
  Found found = Found::kUnreadable;
  /// With kSerial: the serial number of the LUN that owns the path.
  std::string serial;
};

/// Names the owner of the path with an address. The caller hands it in, so
/// the SCSI code reads no DSM records of its own.
using PathOwnerLookup = std::function<PathOwner(const ScsiAddress&)>;

/// The process-wide address, set by every ScsiCommand open and read by
/// every execute: commands go to one device at a time.
ScsiAddress& CurrentScsiAddress();

/// Longest device path or name accepted; longer ones are refused rather
/// than cut, so a command never reaches a device other than the one named.
constexpr size_t kMaxDevicePath = 255;

/// Size of the pass-through request and the offsets of its fields.
constexpr size_t kRequestSize = 88;
constexpr uint32_t kSenseOffset = 60;
constexpr size_t kSenseSize = 24;
constexpr uint32_t kTimeoutSeconds = 60;

/// The multipath request: MPIO_PASS_THROUGH_PATH_DIRECT (72 bytes: the
/// SCSI_PASS_THROUGH_DIRECT, Version, Length, Flags, PortNumber,
/// MpioPathId), then the sense buffer.
constexpr size_t kMpioHeaderSize = 72;
constexpr uint32_t kMpioSenseOffset = 72;
constexpr size_t kMpioRequestSize = kMpioSenseOffset + kSenseSize;

/// Every buffer handed to a device (the request with its sense buffer, the
/// data) starts on a page, which meets any adapter's alignment requirement.
constexpr size_t kDeviceBufferAlignment = 4096;

/// The CDB length for an operation code, from its group code (top three
/// bits); 0 for the groups without a fixed length.
uint8_t CdbLengthOf(uint8_t operationCode);

/// The device path of a disk typed by the user: "p.b.t.l" (four decimal
/// numbers) becomes "\\.\Scsip:Busb:IDt:LUNl", any text without "." a
/// physical drive "\\.\PhysicalDrive<text>". Null for a text with "." that
/// is not four decimal numbers of 0 to 255, or a path longer than
/// kMaxDevicePath.
std::optional<std::string> ResolveDiskArgument(std::string_view text);

/// Outcome of one execute, as left in the command.
struct ScsiOutcome {
  uint8_t Status = 0;
  uint32_t Residual = 0;
  std::array<uint8_t, kSenseSize> Sense{};
  uint8_t SenseLength = 0;
};

/// One command on one device. Opening happens on construction; a device
/// that cannot be opened (or a path that is too long) leaves a command
/// whose Execute sends nothing and returns false.
class ScsiCommand {
 public:
  /// Opens `path` and sets CurrentScsiAddress: from the path in port form
  /// ("\\.\Scsi..."; the port device "\\.\Scsi<port>:" is opened), else
  /// from the device's address query (0 when that fails). `pathOwner`
  /// finds the multipath disk of an address the adapter refuses; without
  /// one such a command goes nowhere else.
  explicit ScsiCommand(const std::string& path, PathOwnerLookup pathOwner = {});
  ~ScsiCommand() { Close(); }
  ScsiCommand(const ScsiCommand&) = delete;
  ScsiCommand& operator=(const ScsiCommand&) = delete;

  /// Releases the device; later executes send nothing.
  void Close() { device_.reset(); }
  bool IsOpen() const { return device_ != nullptr; }

  /// Takes as many bytes of `cdb` (16 bytes) as the group code of byte 0
  /// gives. REQUEST SENSE without a data buffer reads into the sense field.
  void SetCdb(const std::array<uint8_t, 16>& cdb);
  /// The caller's buffer, which must outlive the execute.
  void SetDataIn(uint8_t* buffer, uint32_t length);
  void SetDataOut(uint8_t* buffer, uint32_t length);

  /// Sends the command once. True when it completed: status 0, or CHECK
  /// CONDITION with a recovered error. A NOT READY or UNIT ATTENTION with
  /// ASC 0x29 writes "<name>: device reset" (no line end) to `out`.
  /// A command to an address ("\\.\Scsi...") that the adapter refuses goes
  /// down the same path through the multipath disk of the LUN that owns the
  /// path: the physical drive whose identifier is the serial number the
  /// path owner lookup gives (found once per command, the first in walk
  /// order). Only that drive is sent the command, once. When there is no
  /// such drive or it fails the command, the adapter's reason and then the
  /// route's go to `errors`, one line each.
  bool Execute(platform::Output& out, platform::Output& errors = platform::StandardError());

  /// The 88-byte request for the current address, naming `data` (the
  /// caller's buffer when null) as its data buffer.
  std::array<uint8_t, kRequestSize> BuildRequest(const uint8_t* data = nullptr) const;
  /// The multipath request for the current address, naming `data`.
  std::array<uint8_t, kMpioRequestSize> BuildMpioRequest(const uint8_t* data = nullptr) const;

  const ScsiOutcome& Outcome() const { return outcome_; }
  /// Bytes transferred: min(length, length - residual).
  uint32_t Transferred() const;
  uint8_t CdbLength() const { return cdbLength_; }
  const std::string& Name() const { return name_; }

 private:
  bool JudgeOutcome(bool sent, platform::Output& out) const;
  void FillHeader(uint8_t* request, const uint8_t* data, uint32_t senseOffset) const;
  const std::string& MultipathDisk(platform::Output& out);
  platform::Win32Error SendThroughMultipath(uint8_t* request, platform::Output& out);
  void ReportMultipathFailure(platform::Output& errors) const;

  std::unique_ptr<platform::Device> device_;
  bool portForm_ = false;
  bool dataIn_ = false;
  uint32_t timeout_ = kTimeoutSeconds;
  std::array<uint8_t, 16> cdb_{};
  uint8_t cdbLength_ = 0;
  uint8_t* data_ = nullptr;
  uint32_t dataLength_ = 0;
  ScsiOutcome outcome_;
  std::string name_;
  PathOwnerLookup pathOwner_;
  // The multipath route, found on the first refusal: the owning drive's
  // path, or empty with the reason there is none; and the drive's error.
  bool routeFound_ = false;
  std::string owner_;
  std::string noOwnerReason_;
  platform::Win32Error ownerError_ = 0;
};

}  // namespace scsi
