// Fuzzes what the disk commands receive from the devices: the device-name
// list and its targets, address answers, and pass-through answers with any
// status, sense length, transferred length, sense and data bytes, from
// drives that may fail to open or to answer. The drive walk, the drive
// identifiers and every pgr disk action run on them, with any answer of the
// DSM's path records for a refused address; the checks are that nothing is
// read or written outside the buffers the programs handed over (the
// sanitizers), that identifiers keep their form, and that a multipath
// request goes only to one drive per command, once per execute, and only
// after the records named a LUN.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "platform/device_io.h"
#include "platform/machine.h"
#include "platform/output.h"
#include "scsi/drives.h"
#include "scsi/pgr.h"

namespace {

constexpr size_t kRequestSize = 88;
constexpr size_t kMpioRequestSize = 96;
constexpr size_t kMaxNames = 8;

std::string PickName(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return "PhysicalDrive" + std::to_string(in.ConsumeIntegralInRange(-2, 300));
    case 1:
      return "CdRom0";
    case 2:
      return "PhysicalDrive" + in.ConsumeRandomLengthString(300);
    default:
      return in.ConsumeRandomLengthString(64);
  }
}

std::string PickTarget(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return "\\Device\\Harddisk1\\DR1";
    case 1:
      return "\\Device\\Harddisk2\\Partition0";
    case 2:
      return "\\Device\\Tape0";
    default:
      return in.ConsumeRandomLengthString(400);
  }
}

// What the multipath requests of one pgr command reached.
struct MultipathRecord {
  bool lunNamed = false;   // the path records named a LUN with a serial number
  bool oneCommand = true;  // the pgr command sends one SCSI command object
  size_t requests = 0;
  std::string drive;  // the drive the first one went to
};

class FuzzDevice : public platform::Device {
 public:
  FuzzDevice(FuzzedDataProvider& in, std::string path, MultipathRecord& record)
      : in_(in), path_(std::move(path)), record_(record) {}

  platform::Win32Error IoControl(uint32_t code, const void* input, uint32_t inSize, void* out,
                                 uint32_t outSize, uint32_t* returned) override {
    *returned = 0;
    if (in_.ConsumeBool()) return in_.ConsumeIntegralInRange<uint32_t>(1, 1200);
    auto* bytes = static_cast<uint8_t*>(out);
    if (code == platform::kIoctlScsiGetAddress) {
      FUZZ_CHECK(outSize == 8);
      for (uint32_t i = 0; i < outSize; ++i) bytes[i] = in_.ConsumeIntegral<uint8_t>();
      *returned = in_.ConsumeIntegralInRange<uint32_t>(0, outSize);
      return platform::win32_error::kSuccess;
    }
    // The pass-through to an adapter or disk, or the multipath disk's one
    // (the sense buffer after its 72-byte structure).
    const bool mpio = code == platform::kIoctlMpioPassThroughPathDirect;
    FUZZ_CHECK(mpio || code == platform::kIoctlScsiPassThroughDirect);
    if (mpio) CheckMultipathTarget();
    const size_t size = mpio ? kMpioRequestSize : kRequestSize;
    FUZZ_CHECK(inSize == size && outSize == size && input == out);
    // Every buffer the device gets starts on a page.
    FUZZ_CHECK(reinterpret_cast<uintptr_t>(out) % 4096 == 0);
    // A driver fills at most the data buffer the request names, then the
    // request's status, sense length, transferred length and sense area.
    uint32_t length = 0;
    uint64_t address = 0;
    std::memcpy(&length, bytes + 12, 4);
    std::memcpy(&address, bytes + 24, 8);
    FUZZ_CHECK(address % 4096 == 0);
    if (bytes[8] == 1 && address != 0) {
      auto* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
      const std::vector<uint8_t> answer = in_.ConsumeBytes<uint8_t>(length);
      if (!answer.empty()) std::memcpy(data, answer.data(), answer.size());
    }
    bytes[2] = in_.ConsumeIntegral<uint8_t>();
    bytes[7] = in_.ConsumeIntegral<uint8_t>();
    const uint32_t transferred = in_.ConsumeIntegral<uint32_t>();
    std::memcpy(bytes + 12, &transferred, 4);
    for (size_t i = mpio ? 72 : 60; i < size; ++i) bytes[i] = in_.ConsumeIntegral<uint8_t>();
    *returned = static_cast<uint32_t>(size);
    return platform::win32_error::kSuccess;
  }

 private:
  void CheckMultipathTarget() {
    FUZZ_CHECK(record_.lunNamed);
    FUZZ_CHECK(path_.find("PhysicalDrive") != std::string::npos);
    if (record_.requests++ == 0) record_.drive = path_;
    if (!record_.oneCommand) return;
    FUZZ_CHECK(record_.drive == path_);
    FUZZ_CHECK(record_.requests <= 2);  // list executes twice; the rest once
  }

  FuzzedDataProvider& in_;
  std::string path_;
  MultipathRecord& record_;
};

class FuzzDevices : public platform::DeviceIo {
 public:
  explicit FuzzDevices(FuzzedDataProvider& in) : in_(in) {}

  platform::Win32Error Open(const std::string& path,
                            std::unique_ptr<platform::Device>* device) override {
    FUZZ_CHECK(path.size() <= 260);
    if (in_.ConsumeBool()) return platform::win32_error::kFileNotFound;
    *device = std::make_unique<FuzzDevice>(in_, path, record);
    return platform::win32_error::kSuccess;
  }

  platform::Win32Error QueryDosDevice(const std::string& name, uint32_t size,
                                      std::string* multiString) override {
    multiString->clear();
    if (in_.ConsumeIntegralInRange(0, 7) == 0) return platform::win32_error::kFileNotFound;
    std::string list;
    if (name.empty()) {
      const size_t count = in_.ConsumeIntegralInRange<size_t>(0, kMaxNames);
      for (size_t i = 0; i < count; ++i) list += PickName(in_) + '\0';
    } else {
      list = PickTarget(in_) + '\0';
    }
    list += '\0';
    if (list.size() > size) return platform::win32_error::kInsufficientBuffer;
    *multiString = std::move(list);
    return platform::win32_error::kSuccess;
  }

  MultipathRecord record;

 private:
  FuzzedDataProvider& in_;
};

class FuzzMachine : public platform::Machine {
 public:
  explicit FuzzMachine(FuzzedDataProvider& in) : devices_(in) {}
  // The disk commands never reach WMI; the path records come from a lookup.
  platform::wmi::Runtime& Wmi() override { std::abort(); }
  platform::DeviceIo& Devices() override { return devices_; }
  int Finish() override { return 0; }
  MultipathRecord& Record() { return devices_.record; }

 private:
  FuzzDevices devices_;
};

bool IdentifierForm(const std::string& id) {
  if (id.empty()) return true;
  if (id.size() != 11 || id[8] != '-') return false;
  for (size_t i = 0; i < id.size(); ++i) {
    if (i != 8 && std::strchr("0123456789ABCDEF", id[i]) == nullptr) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzMachine machine(in);
  platform::SetMachine(&machine);
  platform::StringOutput out;

  std::vector<scsi::DriveIdentity> drives;
  scsi::CollectDriveIdentities(drives, out);
  for (const auto& drive : drives) FUZZ_CHECK(!drive.Identifier.empty() && IdentifierForm(drive.Identifier));

  // The records name a LUN by a serial some drive gave, or by any text.
  const auto pathOwner = [&](const scsi::ScsiAddress&) {
    scsi::PathOwner owner;
    owner.found = static_cast<scsi::PathOwner::Found>(in.ConsumeIntegralInRange(0, 2));
    if (!drives.empty() && in.ConsumeBool()) {
      owner.serial = drives[in.ConsumeIntegralInRange<size_t>(0, drives.size() - 1)].Identifier;
    } else {
      owner.serial = in.ConsumeRandomLengthString(16);
    }
    machine.Record().lunNamed |=
        owner.found == scsi::PathOwner::Found::kSerial && !owner.serial.empty();
    return owner;
  };
  const std::string disk = in.ConsumeRandomLengthString(300);
  const std::string key = in.ConsumeRandomLengthString(10);
  for (const char* action : {"list", "tur", "register", "reserve", "unregister", "clear",
                             "release"}) {
    const char* words[] = {"pgr", action, disk.c_str(), key.c_str()};
    machine.Record() = {};
    FUZZ_CHECK(scsi::Pgr(out, 4, words, pathOwner) == 0);
  }
  // One command per drive, whose names may hold anything, even an address.
  const char* all[] = {"pgr", "list"};
  machine.Record() = {};
  machine.Record().oneCommand = false;
  FUZZ_CHECK(scsi::Pgr(out, 2, all, pathOwner) == 0);
  return 0;
}
