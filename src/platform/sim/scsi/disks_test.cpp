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

void PutAddress(uint8_t* raw, const void* data) {
  const uint64_t address = reinterpret_cast<uintptr_t>(data);
  std::memcpy(raw + 24, &address, 8);
}

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
  const char kNames[] =
      "C:\0PhysicalDrive1\0"
      "MPIO#Disk&Ven_ORRIN&Prod_VDISK&Rev_0100#1&7f6ac24&0&36413042314332303031_0"
      "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\0PhysicalDrive2\0"
      "MPIO#Disk&Ven_ORRIN&Prod_VDISK&Rev_0100#1&7f6ac24&0&36413042314332303032_0"
      "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\0PhysicalDrive0\0Scsi2:\0"
      "Scsi3:\0CdRom0\0Tape0\0";
  EXPECT_EQ(names, std::string(kNames, sizeof kNames));
  std::string target;
  ASSERT_EQ(sim.io->QueryDosDevice("PhysicalDrive1", 260, &target), 0u);
  EXPECT_EQ(target, std::string("\\Device\\Harddisk1\\DR1\0\0", 23));
  ASSERT_EQ(sim.io->QueryDosDevice("PhysicalDrive2", 260, &target), 0u);
  EXPECT_EQ(target, std::string("\\Device\\Harddisk2\\Partition0\0\0", 30));
  // As Windows: a list that does not fit is an error and nothing is given.
  EXPECT_EQ(sim.io->QueryDosDevice("", sizeof kNames - 1, &names),
            win32_error::kInsufficientBuffer);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(sim.io->QueryDosDevice("", sizeof kNames, &names), 0u);
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
  alignas(8) uint8_t page[64] = {};
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
  alignas(8) uint8_t key[24] = {};
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
  alignas(8) uint8_t keys[4096] = {};
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
  alignas(8) uint8_t page[64] = {};
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
  } cases[] = {{0, 55}, {32, 40}, {32, 65}, {6, 0}, {6, 17}, {7, 29}, {24, 0}, {24, 1}};
  Sim sim;
  auto drive = Open(sim, "\\\\.\\PhysicalDrive2");
  for (const auto& c : cases) {
    alignas(8) uint8_t data[64] = {};
    Request request({0x12, 0x01, 0x83, 0x00, 0x40, 0x00}, 1, data, 64);
    if (c.offset == 24) std::memset(request.raw + 24, 0, 8);  // data without a buffer
    // {24, 1}: a data buffer off the adapters' 8-byte alignment.
    if (c.offset == 24 && c.value == 1) PutAddress(request.raw, data + 1);
    request.raw[c.offset] = c.value;
    EXPECT_EQ(request.Send(*drive), win32_error::kInvalidParameter) << c.offset;
  }
  uint8_t request[56] = {56};
  uint32_t returned = 0;
  EXPECT_EQ(drive->IoControl(kIoctlScsiPassThroughDirect, request, 40, request, 56, &returned),
            win32_error::kInvalidParameter);
}

// The multipath request: the 88-byte request's first 56 bytes, Version,
// Length, Flags, PortNumber and MpioPathId, the sense buffer at 72.
struct MpioRequest {
  alignas(8) uint8_t raw[96] = {};
  MpioRequest(const Request& base, uint8_t port, uint8_t target, uint8_t lun,
              uint8_t flags = kMpioFlagUseScsiAddress, uint8_t length = 72) {
    std::memcpy(raw, base.raw, 56);
    raw[4] = target;
    raw[5] = lun;
    raw[32] = 72;
    raw[60] = length;
    raw[62] = flags;
    raw[63] = port;
  }
  Win32Error Send(Device& device) {
    uint32_t returned = 0;
    return device.IoControl(kIoctlMpioPassThroughPathDirect, raw, 96, raw, 96, &returned);
  }
};

TEST(Disks, ClaimedAdapterRefusesAndTheDiskSendsDownItsPaths) {
  Json machine = Machine();
  machine["san"]["adapters"][0]["claimsUnits"] = true;
  Sim sim(machine);
  auto port2 = Open(sim, "\\\\.\\Scsi2:");
  auto port3 = Open(sim, "\\\\.\\Scsi3:");
  auto drive1 = Open(sim, "\\\\.\\PhysicalDrive1");
  auto drive2 = Open(sim, "\\\\.\\PhysicalDrive2");
  const Request tur({0x00, 0, 0, 0, 0, 0}, 0, nullptr, 0);
  struct Case {
    const char* what;
    Device* device;
    bool mpio;
    uint8_t port, target, lun;
    Win32Error result;
    uint8_t flags = kMpioFlagUseScsiAddress;
    uint8_t length = 72;
  } cases[] = {
      {"claimed adapter, LUN 2's path", port2.get(), false, 2, 1, 2, 1},
      {"claimed adapter, no such unit", port2.get(), false, 2, 5, 5, 1167},
      {"adapter that claims nothing", port3.get(), false, 3, 0, 2, 0},
      {"disk, its path on the claimed adapter", drive2.get(), true, 2, 1, 2, 0},
      {"disk, its other path", drive2.get(), true, 3, 0, 2, 0},
      {"disk, another disk's path", drive1.get(), true, 2, 1, 2, 87},
      {"disk, its failed path", drive1.get(), true, 2, 0, 1, 1167},
      {"port device, multipath request", port3.get(), true, 3, 0, 2, 1},
      {"disk, path by MPIO's id", drive2.get(), true, 2, 1, 2, 87, 1},
      {"disk, wrong structure length", drive2.get(), true, 2, 1, 2, 87, 2, 80},
  };
  for (const Case& c : cases) {
    Win32Error result;
    if (c.mpio) {
      MpioRequest request(tur, c.port, c.target, c.lun, c.flags, c.length);
      result = request.Send(*c.device);
    } else {
      Request request = tur;
      request.raw[4] = c.target;
      request.raw[5] = c.lun;
      result = request.Send(*c.device);
    }
    EXPECT_EQ(result, c.result) << c.what;
  }
  // A registration sent down a path is that path's I_T nexus.
  alignas(8) uint8_t key[24] = {};
  std::memcpy(key + 8, "KEYAAAAA", 8);
  MpioRequest reg(Request({0x5F, 0x06, 0x06, 0, 0, 0, 0, 0, 0x18, 0}, 0, key, 24), 3, 0, 2);
  ASSERT_EQ(reg.Send(*drive2), 0u);
  EXPECT_EQ(reg.raw[2], 0);
  EXPECT_EQ(sim.state.Document()["disks"]["6A0B1C20-02"]["reservations"]["registrations"],
            Json::parse(R"([{"nexus": "3.0.0.2", "key": "4B45594141414141"}])"));
}

TEST(Disks, UnitAttentionsAndFullTransfersFromTheFile) {
  Json machine = Machine();
  machine["disks"] = Json::parse(R"({"6A0B1C20-02": {"reportsFullTransfer": true,
    "reservations": {"generation": 2,
      "registrations": [{"nexus": "2.0.1.2", "key": "4141414141414141"},
                        {"nexus": "3.0.0.2", "key": "4242424242424242"}],
      "reservation": {"holder": "2.0.1.2", "type": 6}}}})");
  Sim sim(machine);
  auto drive2 = Open(sim, "\\\\.\\PhysicalDrive2");  // nexus 2.0.1.2
  auto port3 = Open(sim, "\\\\.\\Scsi3:");
  alignas(8) uint8_t key[24] = {};
  std::memcpy(key, "AAAAAAAA", 8);
  Request release({0x5F, 0x02, 0x06, 0, 0, 0, 0, 0, 0x18, 0}, 0, key, 24);
  ASSERT_EQ(release.Send(*drive2), 0u);
  const Json& stored = sim.state.Document()["disks"]["6A0B1C20-02"]["reservations"];
  EXPECT_EQ(stored["unitAttentions"], Json::parse(R"({"3.0.0.2": ["2A/04"]})"));
  // The other nexus: its next command reports it once, then runs.
  Request tur({0x00, 0, 0, 0, 0, 0}, 0, nullptr, 0, 0, 2);
  ASSERT_EQ(tur.Send(*port3), 0u);
  EXPECT_EQ((std::vector<int>{tur.raw[2], tur.raw[60 + 2], tur.raw[60 + 12], tur.raw[60 + 13]}),
            (std::vector<int>{2, 6, 0x2A, 4}));
  Request again({0x00, 0, 0, 0, 0, 0}, 0, nullptr, 0, 0, 2);
  ASSERT_EQ(again.Send(*port3), 0u);
  EXPECT_EQ(again.raw[2], 0);
  EXPECT_FALSE(sim.state.Document()["disks"]["6A0B1C20-02"]["reservations"].contains(
      "unitAttentions"));
  // The unit reports the whole buffer as moved; the data is the answer's.
  alignas(8) uint8_t keys[4096] = {};
  Request read({0x5E, 0x00, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 1, keys, 4096, 0, 2);
  ASSERT_EQ(read.Send(*port3), 0u);
  EXPECT_EQ(read.raw[12] | (read.raw[13] << 8), 4096);
  EXPECT_EQ(keys[7], 16);
}

}  // namespace
}  // namespace platform::sim
