#include "platform/sim/scsi/disks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/san/san.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

Json Machine() {
  return Json::parse(R"({
    "san": {
      "adapters": [{"port": 2, "wwpn": "2100001B32814A10"}, {"port": 3, "wwpn": "2101001B32A14A10"}],
      "controllers": [{"wwpn": "50060E8007C3E100"}, {"wwpn": "50060E8007C3E110"}],
      "luns": [
        {"serial": "6A0B1C20-01", "lun": 1, "paths": [
          {"adapter": 0, "controller": 0, "state": "Failed"}, {"adapter": 1, "controller": 1}]},
        {"serial": "6A0B1C20-02", "lun": 2, "paths": [
          {"adapter": 0, "controller": 1}, {"adapter": 1, "controller": 0}]}]},
    "faults": [
      {"call": "CheckCondition", "target": "PhysicalDrive2", "method": "0x00", "code": 2,
       "data": [112, 0, 6, 0, 0, 0, 0, 10, 0, 0, 0, 0, 41, 0]}]})");
}

struct Sim {
  MachineState state;
  std::shared_ptr<Faults> faults = std::make_shared<Faults>();
  std::unique_ptr<DeviceIo> io;

  explicit Sim(Json document = Machine()) {
    state.Adopt(std::move(document), "");
    std::string error;
    std::shared_ptr<SanModel> model = std::make_shared<SanModel>();
    EXPECT_TRUE(ParseSan(state.Document()["san"], model.get(), &error)) << error;
    EXPECT_TRUE(faults->Load(state.Document()["faults"], &error)) << error;
    io = MakeDisks(state, model, faults, &error);
    EXPECT_TRUE(io) << error;
  }
};

// The 88-byte request as the programs build it.
struct Request {
  uint8_t raw[88] = {};
  Request(std::vector<uint8_t> cdb, uint8_t dataIn, void* data, uint32_t length,
          uint8_t target = 0, uint8_t lun = 0) {
    raw[0] = 56;
    raw[4] = target;
    raw[5] = lun;
    raw[6] = static_cast<uint8_t>(cdb.size());
    raw[7] = 24;
    raw[8] = dataIn;
    std::memcpy(raw + 12, &length, 4);
    const uint64_t address = reinterpret_cast<uintptr_t>(data);
    std::memcpy(raw + 24, &address, 8);
    raw[32] = 60;
    std::memcpy(raw + 36, cdb.data(), cdb.size());
  }
  Win32Error Send(Device& device) {
    uint32_t returned = 0;
    return device.IoControl(kIoctlScsiPassThroughDirect, raw, 88, raw, 88, &returned);
  }
  uint32_t Transferred() const { return raw[12] | (raw[13] << 8); }
};

std::unique_ptr<Device> Open(Sim& sim, const std::string& path) {
  std::unique_ptr<Device> device;
  EXPECT_EQ(sim.io->Open(path, &device), 0u) << path;
  return device;
}

TEST(Disks, NamesAndTargets) {
  Sim sim;
  std::string names;
  ASSERT_EQ(sim.io->QueryDosDevice("", 0x20000, &names), 0u);
  const char kNames[] = "C:\0PhysicalDrive1\0PhysicalDrive2\0PhysicalDrive0\0Scsi2:\0"
                        "Scsi3:\0CdRom0\0Tape0\0";
  EXPECT_EQ(names, std::string(kNames, sizeof kNames));
  std::string target;
  ASSERT_EQ(sim.io->QueryDosDevice("PhysicalDrive1", 260, &target), 0u);
  EXPECT_EQ(target, std::string("\\Device\\Harddisk1\\DR1\0\0", 23));
  ASSERT_EQ(sim.io->QueryDosDevice("PhysicalDrive2", 260, &target), 0u);
  EXPECT_EQ(target, std::string("\\Device\\Harddisk2\\Partition0\0\0", 30));
  EXPECT_EQ(sim.io->QueryDosDevice("", 10, &names), win32_error::kInsufficientBuffer);
  EXPECT_EQ(sim.io->QueryDosDevice("Nothing", 260, &target), win32_error::kFileNotFound);
  std::unique_ptr<Device> device;
  EXPECT_EQ(sim.io->Open("\\\\.\\PhysicalDrive9", &device), win32_error::kFileNotFound);
}

TEST(Disks, DriveAnswersWithItsLunsIdentity) {
  Sim sim;
  auto drive = Open(sim, "\\\\.\\PhysicalDrive1");
  uint8_t address[8] = {};
  uint32_t returned = 0;
  ASSERT_EQ(drive->IoControl(kIoctlScsiGetAddress, nullptr, 0, address, 8, &returned), 0u);
  // The first path has failed: the drive is reached through port 3.
  EXPECT_EQ(std::vector<uint8_t>(address, address + 8), (std::vector<uint8_t>{8, 0, 0, 0, 3, 0, 1, 1}));
  uint8_t page[64] = {};
  Request inquiry({0x12, 0x01, 0x83, 0x00, 0x40, 0x00}, 1, page, 64);
  ASSERT_EQ(inquiry.Send(*drive), 0u);
  EXPECT_EQ(inquiry.raw[2], 0);
  EXPECT_EQ(inquiry.Transferred(), 60u);
  EXPECT_EQ(page[1], 0x83);
  EXPECT_EQ(std::vector<uint8_t>(page + 19, page + 24),
            (std::vector<uint8_t>{0x6A, 0x0B, 0x1C, 0x20, 0x01}));
}

TEST(Disks, ReservationsAreKeptPerPathAndInTheFile) {
  Sim sim;
  auto drive = Open(sim, "\\\\.\\PhysicalDrive2");  // nexus 2.0.1.2
  auto port = Open(sim, "\\\\.\\Scsi3:");            // reaches LUN 2 through 3.0.0.2
  uint8_t key[24] = {};
  std::memcpy(key + 8, "KEYAAAAA", 8);
  Request reg({0x5F, 0x06, 0x06, 0, 0, 0, 0, 0, 0x18, 0}, 0, key, 24);
  ASSERT_EQ(reg.Send(*drive), 0u);
  EXPECT_EQ(reg.raw[2], 0);
  EXPECT_EQ(sim.state.Document()["disks"]["6A0B1C20-02"]["reservations"],
            Json::parse(R"({"generation": 1,
              "registrations": [{"nexus": "2.0.1.2", "key": "4B45594141414141"}]})"));
  std::memcpy(key, "KEYAAAAA", 8);
  Request reserve({0x5F, 0x01, 0x06, 0, 0, 0, 0, 0, 0x18, 0}, 0, key, 24, 0, 2);
  ASSERT_EQ(reserve.Send(*port), 0u);
  EXPECT_EQ(reserve.raw[2], 0x18);  // the other path's nexus is not registered
  uint8_t keys[4096] = {};
  Request read({0x5E, 0x00, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 1, keys, 4096, 0, 2);
  ASSERT_EQ(read.Send(*port), 0u);
  EXPECT_EQ(read.Transferred(), 16u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(keys) + 8, 8), "KEYAAAAA");
  Request nobody({0x00, 0, 0, 0, 0, 0}, 0, nullptr, 0, 0, 7);
  EXPECT_EQ(nobody.Send(*port), 1167u);  // no LUN 7 behind port 3
}

TEST(Disks, FaultsAndSpecialAnswers) {
  Json machine = Machine();
  machine["disks"] = Json::parse(R"({"6A0B1C20-01": {"inquiry": {"pageLength": 52}}})");
  Sim sim(machine);
  auto drive = Open(sim, "\\\\.\\PhysicalDrive2");
  Request tur({0x00, 0, 0, 0, 0, 0}, 0, nullptr, 0);
  ASSERT_EQ(tur.Send(*drive), 0u);
  EXPECT_EQ(tur.raw[2], 2);
  EXPECT_EQ(tur.raw[7], 14);
  EXPECT_EQ(tur.raw[60 + 12], 0x29);
  uint8_t page[64] = {};
  Request inquiry({0x12, 0x01, 0x83, 0x00, 0x40, 0x00}, 1, page, 64);
  auto short_page = Open(sim, "\\\\.\\PhysicalDrive1");
  ASSERT_EQ(inquiry.Send(*short_page), 0u);
  EXPECT_EQ(page[3], 52);
  EXPECT_EQ(inquiry.Transferred(), 56u);
  auto boot = Open(sim, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(tur.Send(*boot), win32_error::kNotSupported);
}

TEST(Disks, MalformedRequestsAreRefused) {
  struct Case {
    size_t offset;
    uint8_t value;
  } cases[] = {{0, 55}, {32, 61}, {6, 0}, {6, 17}, {7, 29}, {24, 0}};
  Sim sim;
  auto drive = Open(sim, "\\\\.\\PhysicalDrive2");
  for (const auto& c : cases) {
    uint8_t data[64] = {};
    Request request({0x12, 0x01, 0x83, 0x00, 0x40, 0x00}, 1, data, 64);
    if (c.offset == 24) std::memset(request.raw + 24, 0, 8);  // data without a buffer
    request.raw[c.offset] = c.value;
    EXPECT_EQ(request.Send(*drive), win32_error::kInvalidParameter) << c.offset;
  }
  uint8_t request[56] = {56};
  uint32_t returned = 0;
  EXPECT_EQ(drive->IoControl(kIoctlScsiPassThroughDirect, request, 40, request, 56, &returned),
            win32_error::kInvalidParameter);
}

}  // namespace
}  // namespace platform::sim
