#include "platform/sim/scsi/disks.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "platform/sim/scsi/disks_section.h"
#include "platform/sim/san/san.h"
#include "platform/sim/scsi/scsi_unit.h"

namespace platform::sim {
namespace {

constexpr Win32Error kInvalidFunction = 1;        // ERROR_INVALID_FUNCTION
constexpr Win32Error kDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
// The interface class of disks, in the names of their device interfaces.
constexpr char kDiskInterface[] = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string AddressText(uint8_t port, uint8_t bus, uint8_t target, uint8_t lun) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", port, bus, target, lun);
  return text;
}

// What a device name stands for.
struct DosName {
  std::string name, target;
  std::string serial;           // a SAN drive: its LUN
  std::optional<uint8_t> port;  // a SCSI port device: its adapter port
};

// The path through which a drive is reached: the first online one, else
// the first one that has not failed.
const SanPath* DrivePath(const SanLun& lun) {
  for (const auto& p : lun.paths) {
    if (p.state == 1) return &p;
  }
  for (const auto& p : lun.paths) {
    if (p.state != 5) return &p;
  }
  return nullptr;
}

class Disks;

// One open device. Everything it answers is looked up again at every call,
// because DSM methods may move paths between calls.
class SimDevice : public Device {
 public:
  SimDevice(Disks& disks, DosName name) : disks_(disks), name_(std::move(name)) {}
  Win32Error IoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) override;

 private:
  Win32Error RunRequest(const SanLun& lun, const SanPath& path, const PassThroughRequest& request,
                        const void* in, void* out, uint32_t* returned);

  Disks& disks_;
  DosName name_;
};

class Disks : public DeviceIo {
 public:
  Disks(MachineState& state, std::shared_ptr<SanModel> model, std::shared_ptr<Faults> faults)
      : state_(state), model_(std::move(model)), faults_(std::move(faults)) {}

  Win32Error Open(const std::string& path, std::unique_ptr<Device>* device) override {
    device->reset();
    const std::string_view prefix = "\\\\.\\";
    const std::string name = path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : path;
    if (const Fault* f = faults_->Check("CreateFileA", name)) return f->code;
    if (path.rfind(prefix, 0) != 0) return win32_error::kFileNotFound;
    const DosName* found = Find(name);
    if (found == nullptr) return win32_error::kFileNotFound;
    *device = std::make_unique<SimDevice>(*this, *found);
    return win32_error::kSuccess;
  }

  Win32Error QueryDosDevice(const std::string& name, uint32_t size,
                            std::string* multiString) override {
    multiString->clear();
    if (const Fault* f = faults_->Check("QueryDosDeviceA", name)) return f->code;
    std::string list;
    if (name.empty()) {
      for (const auto& entry : Names()) list += entry.name + '\0';
    } else {
      const DosName* found = Find(name);
      if (found == nullptr) return win32_error::kFileNotFound;
      list = found->target + '\0';
    }
    list += '\0';
    if (list.size() > size) return win32_error::kInsufficientBuffer;
    *multiString = std::move(list);
    return win32_error::kSuccess;
  }

  /// The LUN with that serial and the path with that address, or nulls.
  std::pair<const SanLun*, const SanPath*> Reach(const std::string& serial,
                                                 std::optional<uint8_t> port, uint8_t bus,
                                                 uint8_t target, uint8_t lun) const {
    if (!model_) return {nullptr, nullptr};
    for (const auto& l : model_->luns) {
      if (!serial.empty() && l.serial != serial) continue;
      if (!port) return {&l, DrivePath(l)};
      for (const auto& p : l.paths) {
        if (model_->adapters[p.adapter].port == *port && p.bus == bus && p.target == target &&
            p.lun == lun) {
          return {&l, &p};
        }
      }
    }
    return {nullptr, nullptr};
  }

  uint8_t PortOf(const SanPath& path) const { return model_->adapters[path.adapter].port; }
  bool ClaimsUnits(const SanPath& path) const {
    return model_->adapters[path.adapter].claimsUnits;
  }
  Faults& FaultList() { return *faults_; }
  MachineState& State() { return state_; }

 private:
  // The names are listed when first asked for: most commands never touch a
  // device.
  const std::vector<DosName>& Names() {
    if (!listed_) {
      listed_ = true;
      ListNames();
    }
    return names_;
  }

  // The entry of a name, compared without regard to case; the first one
  // when a name is listed twice.
  const DosName* Find(std::string_view name) {
    Names();
    return Listed(name);
  }

  const DosName* Listed(std::string_view name) const {
    auto hit = index_.find(Folded(name));
    return hit == index_.end() ? nullptr : &names_[hit->second];
  }

  // "MPIO#Disk&Ven_...#1&7f6ac24&0&3031#{53f56307-...}" for the instance
  // "MPIO\Disk&Ven_...\1&7f6ac24&0&3031_0".
  static std::string InterfaceName(const SanLun& lun) {
    std::string name;
    for (wchar_t c : lun.instanceName) {
      name += c == L'\\' ? '#' : c < 0x80 ? static_cast<char>(c) : '_';
    }
    return name + kDiskInterface;
  }

  static std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
  }

  void Add(DosName entry) {
    index_.emplace(Folded(entry.name), names_.size());
    names_.push_back(std::move(entry));
  }

  // The names in the order the system lists them: a volume, the SAN's
  // drives in LUN order, the boot disk (not a SCSI unit, and its target
  // is one the drive walk skips), the adapters' port devices, a CD and a
  // tape.
  void ListNames() {
    Add({"C:", "\\Device\\HarddiskVolume1", {}, {}});
    uint32_t spare = 0;
    if (model_) {
      size_t shown = 0;
      for (const auto& lun : model_->luns) {
        const std::string number = std::to_string(lun.disk);
        spare = std::max(spare, lun.disk + 1);
        if (DrivePath(lun) == nullptr || Listed("PhysicalDrive" + number) != nullptr) continue;
        const std::string disk = "\\Device\\Harddisk" + number;
        Add({"PhysicalDrive" + number,
             disk + (shown++ % 2 == 0 ? "\\DR" + number : "\\Partition0"),
             lun.serial,
             {}});
        // The disk's device interface, as Windows lists one for every disk.
        Add({InterfaceName(lun), "\\Device\\MPIODisk" + std::to_string(shown - 1), {}, {}});
      }
      if (Listed("PhysicalDrive0") == nullptr) spare = 0;
    }
    Add({"PhysicalDrive" + std::to_string(spare), "\\Device\\Ide\\IdeDeviceP0T0L0-3", {}, {}});
    if (model_) {
      for (const auto& a : model_->adapters) {
        Add({"Scsi" + std::to_string(a.port) + ":",
             "\\Device\\RaidPort" + std::to_string(a.port),
             {},
             a.port});
      }
    }
    Add({"CdRom0", "\\Device\\CdRom0", {}, {}});
    Add({"Tape0", "\\Device\\Tape0", {}, {}});
  }

  MachineState& state_;
  std::shared_ptr<SanModel> model_;
  std::shared_ptr<Faults> faults_;
  bool listed_ = false;
  std::vector<DosName> names_;
  std::unordered_map<std::string, size_t> index_;  // folded name -> first entry
};

char HexDigit(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

// Runs a request on the unit behind `lun` through `nexus`. The unit's new
// reservation state, unit attentions included, goes into the document as
// it stands; `fullTransfer` tells whether the unit reports whole buffers.
ScsiOutcome RunOnUnit(MachineState& state, const SanLun& lun, const SanPath& path,
                      const std::string& nexus, const PassThroughRequest& request,
                      bool* fullTransfer) {
  const auto& document = state.Document();
  DiskSettings settings;
  std::string error;
  ReadDiskSettings(document, lun.serial, &settings, &error);
  *fullTransfer = settings.reportsFullTransfer;
  UnitIdentity id{lun.vendor, lun.product, lun.revision, UnitSerialPage(lun),
                  DeviceIdentificationPage(lun, static_cast<uint16_t>(path.controller + 1))};
  ApplyInquiryOverride(settings, &id.identificationPage);
  std::vector<uint8_t> dataOut;
  if (request.dataIn == 0 && request.data != nullptr) {
    dataOut.assign(request.data, request.data + request.length);
  }
  ScsiOutcome outcome = ExecuteScsi(id, settings.reservations, nexus, request.cdb, dataOut);
  if (outcome.changed) {
    state.Change([serial = lun.serial, pr = settings.reservations](nlohmann::ordered_json& doc) {
      StoreReservations(doc, serial, pr);
      return true;
    });
  }
  return outcome;
}

const char* IoctlName(uint32_t code) {
  switch (code) {
    case kIoctlScsiGetAddress: return "IOCTL_SCSI_GET_ADDRESS";
    case kIoctlMpioPassThroughPathDirect: return "IOCTL_MPIO_PASS_THROUGH_PATH_DIRECT";
    default: return "IOCTL_SCSI_PASS_THROUGH_DIRECT";
  }
}

Win32Error SimDevice::IoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                                uint32_t outSize, uint32_t* returned) {
  *returned = 0;
  if (const Fault* f = disks_.FaultList().Check("DeviceIoControl", name_.name, IoctlName(code))) {
    return f->code;
  }
  if (name_.serial.empty() && !name_.port) return win32_error::kNotSupported;
  if (code == kIoctlScsiGetAddress) {
    if (name_.port) return kInvalidFunction;
    const auto [lun, path] = disks_.Reach(name_.serial, {}, 0, 0, 0);
    if (path == nullptr) return kDeviceNotConnected;
    if (out == nullptr || outSize < 8) return win32_error::kInsufficientBuffer;
    const uint8_t address[8] = {8,        0, 0, 0, disks_.PortOf(*path), path->bus, path->target,
                                path->lun};
    std::memcpy(out, address, sizeof address);
    *returned = 8;
    return win32_error::kSuccess;
  }
  const bool mpio = code == kIoctlMpioPassThroughPathDirect;
  if (code != kIoctlScsiPassThroughDirect && !mpio) return kInvalidFunction;
  // Only a multipath disk sends a request down one of its paths.
  if (mpio && name_.port) return kInvalidFunction;
  PassThroughRequest request;
  if (Win32Error e = ReadPassThrough(in, inSize, outSize,
                                     mpio ? kMpioPassThroughSize : kPassThroughSize, &request)) {
    return e;
  }
  if (mpio && (request.mpioFlags & kMpioFlagUseScsiAddress) == 0) {
    return win32_error::kInvalidParameter;  // paths by MPIO's own id are not offered
  }
  const std::optional<uint8_t> port =
      mpio ? std::optional<uint8_t>(request.portNumber) : name_.port;
  const auto [lun, path] =
      disks_.Reach(name_.serial, port, request.pathId, request.targetId, request.lun);
  // MPIO refuses an address that is none of this disk's paths.
  if (mpio && path == nullptr) return win32_error::kInvalidParameter;
  // Storport refuses a unit that a class driver (MPIO) has claimed.
  if (name_.port && path != nullptr && disks_.ClaimsUnits(*path)) return kInvalidFunction;
  if (path == nullptr || path->state == 5) return kDeviceNotConnected;
  return RunRequest(*lun, *path, request, in, out, returned);
}

Win32Error SimDevice::RunRequest(const SanLun& lun, const SanPath& path,
                                 const PassThroughRequest& request, const void* in, void* out,
                                 uint32_t* returned) {
  char opcode[5] = {'0', 'x', HexDigit(request.cdb[0] >> 4), HexDigit(request.cdb[0]), 0};
  if (const Fault* f = disks_.FaultList().Check("CheckCondition", name_.name, opcode)) {
    *returned = WritePassThrough(in, out, request, static_cast<uint8_t>(f->code), 0, f->data);
    return win32_error::kSuccess;
  }
  const std::string nexus = AddressText(disks_.PortOf(path), path.bus, path.target, path.lun);
  bool fullTransfer = false;
  const ScsiOutcome outcome = RunOnUnit(disks_.State(), lun, path, nexus, request, &fullTransfer);
  uint32_t transferred = 0;
  if (request.dataIn == 1 && request.data != nullptr) {
    transferred = static_cast<uint32_t>(std::min<size_t>(outcome.dataIn.size(), request.length));
    // A unit attention or an error carries no data at all.
    if (transferred > 0) std::memcpy(request.data, outcome.dataIn.data(), transferred);
    if (fullTransfer && outcome.status == kScsiGood) transferred = request.length;
  } else if (request.dataIn == 0 && outcome.status == kScsiGood) {
    transferred = request.length;
  }
  *returned = WritePassThrough(in, out, request, outcome.status, transferred, outcome.sense);
  return win32_error::kSuccess;
}

}  // namespace

Win32Error ReadPassThrough(const void* in, uint32_t inSize, uint32_t outSize, uint32_t headerSize,
                           PassThroughRequest* request) {
  if (in == nullptr || inSize < headerSize || outSize < headerSize) {
    return win32_error::kInvalidParameter;
  }
  uint8_t raw[kMpioPassThroughSize] = {};
  std::memcpy(raw, in, std::min<uint32_t>(headerSize, sizeof raw));
  const uint32_t cdbLength = raw[6];
  const uint32_t senseOffset = Get32(raw + 32);
  const bool senseFits = raw[7] == 0 || (senseOffset >= headerSize &&
                                         uint64_t{senseOffset} + raw[7] <= outSize);
  if ((raw[0] | (raw[1] << 8)) != kPassThroughSize || !senseFits || cdbLength == 0 ||
      cdbLength > 16) {
    return win32_error::kInvalidParameter;
  }
  if (headerSize == kMpioPassThroughSize &&
      (Get32(raw + 56) != 0 || (raw[60] | (raw[61] << 8)) != kMpioPassThroughSize)) {
    return win32_error::kInvalidParameter;
  }
  uint64_t address = 0;
  for (int i = 7; i >= 0; --i) address = (address << 8) | raw[24 + i];
  request->pathId = raw[3];
  request->targetId = raw[4];
  request->lun = raw[5];
  request->cdb.assign(raw + 36, raw + 36 + cdbLength);
  request->dataIn = raw[8];
  request->length = Get32(raw + 12);
  request->data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
  request->senseLength = raw[7];
  request->senseOffset = senseOffset;
  request->headerSize = headerSize;
  request->mpioFlags = headerSize == kMpioPassThroughSize ? raw[62] : 0;
  request->portNumber = headerSize == kMpioPassThroughSize ? raw[63] : 0;
  if (request->length == 0) {
    request->data = nullptr;
    return win32_error::kSuccess;
  }
  if (request->data == nullptr || (address & kAdapterAlignmentMask) != 0) {
    return win32_error::kInvalidParameter;
  }
  return win32_error::kSuccess;
}

uint32_t WritePassThrough(const void* in, void* out, const PassThroughRequest& request,
                          uint8_t status, uint32_t transferred, const std::vector<uint8_t>& sense) {
  uint8_t header[kMpioPassThroughSize];
  std::memcpy(header, in, request.headerSize);
  const uint8_t senseLength =
      static_cast<uint8_t>(std::min<size_t>(sense.size(), request.senseLength));
  header[2] = status;
  header[7] = senseLength;
  Put32(header + 12, transferred);
  auto* bytes = static_cast<uint8_t*>(out);
  std::memcpy(bytes, header, request.headerSize);
  if (senseLength > 0) std::memcpy(bytes + request.senseOffset, sense.data(), senseLength);
  return request.senseLength > 0 ? request.senseOffset + request.senseLength : request.headerSize;
}

std::unique_ptr<DeviceIo> MakeDisks(MachineState& state, std::shared_ptr<SanModel> model,
                                    std::shared_ptr<Faults> faults, std::string* error) {
  if (!CheckDisksSection(state.Document(), error)) return nullptr;
  return std::make_unique<Disks>(state, std::move(model), std::move(faults));
}

}  // namespace platform::sim
