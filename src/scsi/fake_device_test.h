// An in-memory stand-in for the device seam, for the SCSI tests: disks by
// path that answer the address query and pass-through requests through a
// function, a device-name list, and a record of every request sent.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "scsi/bytes.h"
#include "scsi/scsi_command.h"

namespace scsi::testing {

/// What a fake disk saw of one pass-through request.
struct SentRequest {
  std::string path;                   // the path opened
  std::array<uint8_t, 88> request{};  // as sent (its first 88 bytes for the multipath one)
  std::vector<uint8_t> dataOut;       // the data-out bytes, if any
  uint32_t code = platform::kIoctlScsiPassThroughDirect;
  std::vector<uint8_t> whole;         // every byte of the request as sent
  uintptr_t requestAt = 0, dataAt = 0;  // where the request and its data were
};

/// Fills the answer to one request: `request` (88 bytes, to be updated in
/// place: status, sense, transferred length) and the data-in buffer.
using Responder = std::function<platform::Win32Error(uint8_t* request, uint8_t* data)>;

/// A disk: its SCSI_ADDRESS answer and how it answers requests (without a
/// responder every request completes with status 0 and no data).
struct FakeDisk {
  std::array<uint8_t, 8> address{8, 0, 0, 0, 0, 0, 0, 0};
  bool addressFails = false;
  Responder respond;
  /// How it answers the multipath pass-through (the sense at offset 72);
  /// without one the call fails with ERROR_INVALID_FUNCTION, as a disk
  /// that is no multipath disk does.
  Responder mpio;
};

class FakeDeviceIo : public platform::DeviceIo {
 public:
  platform::Win32Error Open(const std::string& path,
                            std::unique_ptr<platform::Device>* device) override;
  platform::Win32Error QueryDosDevice(const std::string& name, uint32_t size,
                                      std::string* multiString) override {
    asked.push_back(size);
    if (name.empty() && tooSmallAlways) return platform::win32_error::kInsufficientBuffer;
    auto hit = dosNames.find(name);
    if (hit == dosNames.end()) return platform::win32_error::kFileNotFound;
    if (hit->second.size() > size) return platform::win32_error::kInsufficientBuffer;
    *multiString = hit->second;
    return platform::win32_error::kSuccess;
  }

  std::map<std::string, FakeDisk> disks;
  /// "" gives the whole name list; other keys a name's targets.
  std::map<std::string, std::string> dosNames;
  std::vector<std::string> opened;
  std::vector<SentRequest> sent;
  /// The buffer sizes QueryDosDevice was called with.
  std::vector<uint32_t> asked;
  /// The whole list never fits, whatever the buffer.
  bool tooSmallAlways = false;
};

class FakeDevice : public platform::Device {
 public:
  FakeDevice(FakeDeviceIo& io, std::string path) : io_(io), path_(std::move(path)) {}
  platform::Win32Error IoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                                 uint32_t outSize, uint32_t* returned) override {
    FakeDisk& disk = io_.disks.at(path_);
    if (code == platform::kIoctlScsiGetAddress) {
      if (disk.addressFails) return platform::win32_error::kNotSupported;
      std::memcpy(out, disk.address.data(), std::min<size_t>(outSize, 8));
      *returned = 8;
      return platform::win32_error::kSuccess;
    }
    const bool mpio = code == platform::kIoctlMpioPassThroughPathDirect;
    const uint32_t size = mpio ? kMpioRequestSize : 88;
    if (!mpio) {
      EXPECT_EQ(code, platform::kIoctlScsiPassThroughDirect);
    }
    EXPECT_EQ(inSize, size);
    EXPECT_EQ(outSize, size);
    EXPECT_EQ(in, out);
    auto* request = static_cast<uint8_t*>(out);
    auto* data = reinterpret_cast<uint8_t*>(
        static_cast<uintptr_t>(GetLittleEndian(request + 24, 8)));
    SentRequest record{path_, {}, {}, code, std::vector<uint8_t>(request, request + size),
                       reinterpret_cast<uintptr_t>(out), reinterpret_cast<uintptr_t>(data)};
    std::memcpy(record.request.data(), request, 88);
    uint32_t length = static_cast<uint32_t>(GetLittleEndian(request + 12, 4));
    if (request[8] == 0 && data != nullptr) record.dataOut.assign(data, data + length);
    io_.sent.push_back(record);
    *returned = size;
    if (mpio) return disk.mpio ? disk.mpio(request, data) : platform::win32_error::kSuccess + 1;
    return disk.respond ? disk.respond(request, data) : platform::win32_error::kSuccess;
  }

 private:
  FakeDeviceIo& io_;
  std::string path_;
};

inline platform::Win32Error FakeDeviceIo::Open(const std::string& path,
                                               std::unique_ptr<platform::Device>* device) {
  opened.push_back(path);
  if (disks.find(path) == disks.end()) return platform::win32_error::kFileNotFound;
  *device = std::make_unique<FakeDevice>(*this, path);
  return platform::win32_error::kSuccess;
}

/// A WMI runtime that is never reached by the SCSI code.
class NoWmi : public platform::wmi::Runtime {
 public:
  platform::HResult Initialize() override { return platform::status::kFail; }
  platform::HResult InitializeSecurity() override { return platform::status::kFail; }
  platform::HResult CreateLocator(platform::wmi::LocatorPtr*) override {
    return platform::status::kFail;
  }
  platform::HResult CreateSinkStub(const platform::wmi::EventSinkPtr&,
                                   platform::wmi::EventSinkPtr*) override {
    return platform::status::kFail;
  }
  platform::wmi::ObjectPtr TakeErrorObject() override { return nullptr; }
  void Uninitialize() override {}
};

struct FakeDeviceMachine : platform::Machine {
  platform::wmi::Runtime& Wmi() override { return wmi; }
  platform::DeviceIo& Devices() override { return devices; }
  int Finish() override { return 0; }
  NoWmi wmi;
  FakeDeviceIo devices;
};

/// Installs a fresh fake machine for each test and clears the address.
class ScsiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMachine(&machine);
    CurrentScsiAddress() = {};
  }
  void TearDown() override { platform::SetMachine(nullptr); }

  FakeDeviceIo& Devices() { return machine.devices; }

 public:
  /// A responder that answers with `status`, `sense` and a data-in copy of
  /// `answer` (the transferred length being its size).
  static Responder Answer(uint8_t status, std::vector<uint8_t> sense = {},
                          std::vector<uint8_t> answer = {}) {
    return [=](uint8_t* request, uint8_t* data) {
      request[2] = status;
      request[7] = static_cast<uint8_t>(sense.size());
      const uint32_t senseAt = static_cast<uint32_t>(GetLittleEndian(request + 32, 4));
      if (!sense.empty()) {
        std::memcpy(request + senseAt, sense.data(), std::min<size_t>(sense.size(), 24));
      }
      uint32_t length = static_cast<uint32_t>(GetLittleEndian(request + 12, 4));
      if (request[8] == 1 && data != nullptr) {
        size_t n = std::min<size_t>(answer.size(), length);
        if (n > 0) std::memcpy(data, answer.data(), n);
        PutLittleEndian(request + 12, n, 4);
      }
      return platform::win32_error::kSuccess;
    };
  }

 protected:
  FakeDeviceMachine machine;
  platform::StringOutput out;
};

/// Adds PhysicalDrive<number> to `machine`: listed among the device names,
/// its target a disk, answering its identification page with a serial
/// number of five bytes.
inline void AddSerialDrive(FakeDeviceMachine& machine, int number, std::array<uint8_t, 5> serial) {
  std::vector<uint8_t> page(64, 0);
  page[1] = 0x83, page[3] = 0x38, page[7] = 16, page[8] = 0x60;
  std::copy(serial.begin(), serial.end(), page.begin() + 19);
  std::string name = "PhysicalDrive" + std::to_string(number);
  auto& names = machine.devices.dosNames;
  names[""] = names[""].substr(0, names[""].empty() ? 0 : names[""].size() - 1) + name +
              std::string(2, '\0');
  names[name] = "\\Device\\Harddisk" + std::to_string(number) + "\\DR0" + std::string(2, '\0');
  machine.devices.disks["\\\\.\\" + name].respond = ScsiTest::Answer(0, {}, page);
}

}  // namespace scsi::testing
