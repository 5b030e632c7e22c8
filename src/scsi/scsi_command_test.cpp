#include "scsi/scsi_command.h"

#include <gtest/gtest.h>

#include "scsi/fake_device_test.h"

namespace scsi {
namespace {

using testing::Responder;
using testing::ScsiTest;

TEST(CdbLength, FollowsGroupCode) {
  const std::pair<uint8_t, uint8_t> cases[] = {{0x00, 6},  {0x12, 6},  {0x03, 6}, {0x5E, 10},
                                               {0x5F, 10}, {0x28, 10}, {0x7F, 0}, {0x88, 16},
                                               {0xA0, 12}, {0xC0, 0},  {0xE0, 0}};
  for (auto [op, length] : cases) EXPECT_EQ(CdbLengthOf(op), length) << int(op);
}

TEST(ResolveDiskArgument, NamesDrivesAndPortAddresses) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"2", "\\\\.\\PhysicalDrive2"},
      {"1.0.2.3", "\\\\.\\Scsi1:Bus0:ID2:LUN3"},
      {"12.255.254.0", "\\\\.\\Scsi12:Bus255:ID254:LUN0"},
      {"12.255.300.0", std::nullopt},  // target 300 would reach target 44
      {"256.0.0.1", std::nullopt},
      {"2.256.0.1", std::nullopt},
      {"2.0.0.257", std::nullopt},
      {"abc", "\\\\.\\PhysicalDriveabc"},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1..2.3", std::nullopt},
      {"1.2.3.4x", std::nullopt},
      {"-1.2.3.4", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"a.b.c.d", std::nullopt},
      {"1.2.3.1234567890", std::nullopt},
      {".", std::nullopt},
      {std::string(238, '7'), "\\\\.\\PhysicalDrive" + std::string(238, '7')},
      {std::string(239, '7'), std::nullopt},
  };
  for (const auto& [text, path] : cases) EXPECT_EQ(ResolveDiskArgument(text), path) << text;
}

TEST_F(ScsiTest, RequestCarriesTheFieldsAtTheirOffsets) {
  Devices().disks["\\\\.\\PhysicalDrive1"].address = {8, 0, 0, 0, 4, 5, 6, 7};
  ScsiCommand command("\\\\.\\PhysicalDrive1");
  uint8_t buffer[0x40] = {};
  command.SetCdb({0x12, 0x01, 0x83, 0x00, 0x40, 0x00, 0xEE});
  command.SetDataIn(buffer, sizeof buffer);
  ASSERT_TRUE(command.Execute(out));

  ASSERT_EQ(Devices().sent.size(), 1u);
  std::array<uint8_t, 88> expected{};
  expected[0] = 56;
  expected[3] = 5, expected[4] = 6, expected[5] = 7;
  expected[6] = 6;     // INQUIRY is group 0
  expected[7] = 24;    // sense length
  expected[8] = 1;     // data in
  expected[12] = 0x40;
  expected[16] = 60;   // time-out
  // The device gets a page-aligned copy of the caller's buffer.
  const uintptr_t sentData = Devices().sent[0].dataAt;
  EXPECT_NE(sentData, reinterpret_cast<uintptr_t>(buffer));
  PutLittleEndian(&expected[24], sentData, 8);
  expected[32] = 60;   // sense offset
  const uint8_t cdb[] = {0x12, 0x01, 0x83, 0x00, 0x40, 0x00};  // byte 6 is beyond group 0
  std::copy(std::begin(cdb), std::end(cdb), &expected[36]);
  EXPECT_EQ(Devices().sent[0].request, expected);
  EXPECT_EQ(CurrentScsiAddress().PortNumber, 4u);
}

TEST_F(ScsiTest, PortFormOpensThePortAndAddressesTheUnit) {
  Devices().disks["\\\\.\\Scsi1:"] = {};
  ScsiCommand command(*ResolveDiskArgument("1.0.2.3"));
  command.SetCdb({});
  ASSERT_TRUE(command.Execute(out));
  EXPECT_EQ(Devices().opened, std::vector<std::string>{"\\\\.\\Scsi1:"});
  const auto& r = Devices().sent.at(0).request;
  EXPECT_EQ((std::array<int, 6>{r[3], r[4], r[5], r[6], r[8], r[12]}),
            (std::array<int, 6>{0, 2, 3, 6, 0, 0}));
  EXPECT_EQ(GetLittleEndian(&r[24], 8), 0u);
}

TEST_F(ScsiTest, FailedAddressQueryLeavesZeros) {
  CurrentScsiAddress() = {1, 2, 3, 4};
  Devices().disks["d"].addressFails = true;
  ScsiCommand command("d");
  EXPECT_EQ(CurrentScsiAddress().TargetId, 0u);
  EXPECT_EQ(CurrentScsiAddress().PortNumber, 0u);
}

TEST_F(ScsiTest, UnopenedDeviceSendsNothing) {
  ScsiCommand missing("\\\\.\\PhysicalDrive9");
  missing.SetCdb({});
  EXPECT_FALSE(missing.Execute(out));
  ScsiCommand tooLong(std::string(256, 'x'));
  EXPECT_FALSE(tooLong.IsOpen());
  EXPECT_FALSE(tooLong.Execute(out));
  EXPECT_TRUE(Devices().sent.empty());
  EXPECT_EQ(missing.Outcome().Status, 0);
  EXPECT_EQ(Devices().opened.size(), 1u);
}

TEST_F(ScsiTest, ClosedCommandSendsNothing) {
  Devices().disks["d"] = {};
  ScsiCommand command("d");
  command.Close();
  EXPECT_FALSE(command.Execute(out));
  EXPECT_TRUE(Devices().sent.empty());
}

TEST_F(ScsiTest, CheckConditionLadder) {
  struct Case {
    platform::Win32Error call;
    uint8_t status;
    size_t senseLength;
    uint8_t key;
    uint8_t asc;
    bool result;
    const char* printed;
  } cases[] = {
      {0, 0x00, 0, 0, 0, true, ""},
      {1117, 0x00, 0, 0, 0, false, ""},           // the call failed
      {0, 0x08, 18, 1, 0, false, ""},             // BUSY
      {0, 0x02, 18, 1, 0, true, ""},              // recovered error
      {0, 0x02, 13, 1, 0, false, ""},             // too short to look at
      {0, 0x02, 14, 1, 0, true, ""},
      {0, 0x02, 18, 5, 0x29, false, ""},          // ILLEGAL REQUEST
      {0, 0x02, 18, 6, 0x2A, false, ""},
      {0, 0x02, 18, 6, 0x29, false, "d: device reset"},
      {0, 0x02, 18, 2, 0x29, false, "d: device reset"},
      {0, 0x02, 30, 0x72, 0x29, false, ""},       // key 2 in the high bits only
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> sense(c.senseLength, 0);
    if (c.senseLength > 12) sense[12] = c.asc;
    if (c.senseLength > 2) sense[2] = c.key == 0x72 ? 0x70 : c.key;
    Devices().disks["d"].respond = [&](uint8_t* request, uint8_t* data) {
      ScsiTest::Answer(c.status, sense)(request, data);
      return c.call;
    };
    out.Clear();
    ScsiCommand command("d");
    command.SetCdb({});
    EXPECT_EQ(command.Execute(out), c.result) << int(c.status) << " " << c.senseLength;
    EXPECT_EQ(out.Text(), c.printed);
    EXPECT_LE(command.Outcome().SenseLength, 24);
  }
}

TEST_F(ScsiTest, TransferredIsTheLengthLessTheResidual) {
  Devices().disks["d"].respond = Answer(0, {}, std::vector<uint8_t>(10, 0xAB));
  ScsiCommand command("d");
  std::vector<uint8_t> buffer(64);
  command.SetCdb({0x5E});
  command.SetDataIn(buffer.data(), 64);
  ASSERT_TRUE(command.Execute(out));
  EXPECT_EQ(command.Outcome().Residual, 54u);
  EXPECT_EQ(command.Transferred(), 10u);
  EXPECT_EQ(buffer[9], 0xAB);
  EXPECT_EQ(buffer[10], 0);
}

TEST_F(ScsiTest, RequestSenseReadsIntoTheSenseField) {
  Devices().disks["d"].respond = Answer(0, {}, {0x70, 0, 6});
  ScsiCommand command("d");
  command.SetCdb({0x03, 0, 0, 0, 24, 0});
  ASSERT_TRUE(command.Execute(out));
  const auto& r = Devices().sent.at(0).request;
  EXPECT_EQ(r[8], 1);
  EXPECT_EQ(GetLittleEndian(&r[12], 4), 24u);
  EXPECT_EQ(command.Outcome().Sense[2], 6);
}

TEST_F(ScsiTest, EveryBufferTheDeviceGetsStartsOnAPage) {
  struct Case {
    const char* what;
    bool in;
    uint32_t length;
  } cases[] = {{"no data", false, 0}, {"data in", true, 4096}, {"data in, odd size", true, 13},
               {"data out", false, 24}};
  Devices().disks["d"].respond = Answer(0, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
  for (const Case& c : cases) {
    Devices().sent.clear();
    // One byte past an aligned start, so a buffer handed on as it is fails.
    std::vector<uint8_t> storage(c.length + 16, 0x5A);
    uint8_t* buffer = storage.data() + 1;
    ScsiCommand command("d");
    command.SetCdb({0x5E});
    if (c.length > 0 && c.in) command.SetDataIn(buffer, c.length);
    if (c.length > 0 && !c.in) command.SetDataOut(buffer, c.length);
    ASSERT_TRUE(command.Execute(out)) << c.what;
    const auto& sent = Devices().sent.at(0);
    EXPECT_EQ(sent.requestAt % kDeviceBufferAlignment, 0u) << c.what;
    EXPECT_EQ(sent.dataAt % kDeviceBufferAlignment, 0u) << c.what;
    EXPECT_EQ(sent.dataAt == 0, c.length == 0) << c.what;
    if (!c.in) {
      EXPECT_EQ(sent.dataOut, std::vector<uint8_t>(c.length, 0x5A)) << c.what;
    } else {
      EXPECT_EQ(buffer[12], 13) << c.what;  // the answer reaches the caller's buffer
      EXPECT_EQ(buffer[c.length], 0x5A)
          << c.what;  // the copy back stays inside the buffer
    }
  }
}

TEST_F(ScsiTest, MultipathRequestLayout) {
  ScsiCommand command("x");
  CurrentScsiAddress() = {7, 1, 2, 3};
  command.SetCdb({0x5F, 0x06});
  const auto r = command.BuildMpioRequest();
  EXPECT_EQ(GetLittleEndian(&r[0], 2), 56u);
  EXPECT_EQ((std::array<int, 4>{r[3], r[4], r[5], r[6]}), (std::array<int, 4>{1, 2, 3, 10}));
  EXPECT_EQ(GetLittleEndian(&r[32], 4), 72u);  // sense after the structure
  EXPECT_EQ(GetLittleEndian(&r[56], 4), 0u);   // Version
  EXPECT_EQ(GetLittleEndian(&r[60], 2), 72u);  // Length
  EXPECT_EQ(r[62], platform::kMpioFlagUseScsiAddress);
  EXPECT_EQ(r[63], 7);
  EXPECT_EQ(GetLittleEndian(&r[64], 8), 0u);  // MpioPathId
  EXPECT_EQ(r.size(), 96u);
}

// Three multipath disks that would each take any multipath request (an MPIO
// that does not check the address); drives 2 and 3 answer with the same
// identifier. The adapter refuses; the DSM's records name the LUN.
class MultipathTest : public ScsiTest {
 protected:
  void SetUp() override {
    ScsiTest::SetUp();
    const std::pair<const char*, uint32_t> drives[] = {{"PhysicalDrive1", 0x0A000001},
                                                       {"PhysicalDrive2", 0x0A000002},
                                                       {"CdRom0", 0},
                                                       {"PhysicalDrive3", 0x0A000002}};
    std::string names;
    for (const auto& [name, serial] : drives) {
      names += std::string(name) + '\0';
      Devices().dosNames[name] = "\\Device\\Harddisk1\\DR1" + std::string(2, '\0');
      testing::FakeDisk& disk = Devices().disks["\\\\.\\" + std::string(name)];
      disk.respond = Answer(0, {}, IdentificationPage(serial));
      disk.mpio = Answer(0);
    }
    Devices().dosNames[""] = names + '\0';
    Devices().disks["\\\\.\\Scsi1:"].respond = Refuse(1);
  }
  static Responder Refuse(platform::Win32Error error) {
    return [error](uint8_t*, uint8_t*) { return error; };
  }
  // A device-identification page whose drive identifier is
  // "<serial as 8 hex digits>-<its low byte>".
  static std::vector<uint8_t> IdentificationPage(uint32_t serial) {
    std::vector<uint8_t> page(64, 0);
    page[1] = 0x83, page[3] = 0x38, page[7] = 16, page[8] = 0x60;
    PutBigEndian(&page[19], serial, 4);
    page[23] = static_cast<uint8_t>(serial);
    return page;
  }
  // A lookup that answers `owner` and records the addresses it was asked for.
  PathOwnerLookup Owner(PathOwner owner) {
    return [this, owner](const ScsiAddress& address) {
      asked.push_back(address);
      return owner;
    };
  }
  size_t Sent(uint32_t code, const std::string& path) const {
    size_t n = 0;
    for (const auto& sent : machine.devices.sent) n += sent.code == code && sent.path == path;
    return n;
  }

  bool Register(const PathOwner& owner, const Responder& adapter, size_t* mpio);

  std::vector<ScsiAddress> asked;
  platform::StringOutput errors;
  ScsiOutcome outcome;
};

// Sends a PERSISTENT RESERVE OUT to 1.0.2.3 (the adapter refuses unless
// `adapter` is given) and checks every multipath request that went out:
// only to drive 2, with the command's address and data. Returns Execute's
// result; `mpio` gets the number of multipath requests.
bool MultipathTest::Register(const PathOwner& owner, const Responder& adapter, size_t* mpio) {
  Devices().sent.clear();
  errors.Clear();
  asked.clear();
  Devices().disks["\\\\.\\Scsi1:"].respond = adapter ? adapter : Refuse(1);
  ScsiCommand command(*ResolveDiskArgument("1.0.2.3"), Owner(owner));
  std::array<uint8_t, 24> parameters{};
  parameters[8] = 'K';
  command.SetCdb({0x5F, 0x06, 0x06, 0, 0, 0, 0, 0, 24});
  command.SetDataOut(parameters.data(), 24);
  const bool result = command.Execute(out, errors);
  outcome = command.Outcome();
  EXPECT_EQ(asked.size(), adapter ? 0u : 1u);
  for (const ScsiAddress& a : asked) {
    EXPECT_EQ((std::array<uint32_t, 4>{a.PortNumber, a.PathId, a.TargetId, a.Lun}),
              (std::array<uint32_t, 4>{1, 0, 2, 3}));
  }
  *mpio = 0;
  for (const auto& sent : Devices().sent) {
    if (sent.code != platform::kIoctlMpioPassThroughPathDirect) continue;
    ++*mpio;
    EXPECT_EQ(sent.path, "\\\\.\\PhysicalDrive2");
    // The address of the command, not of a drive asked on the way.
    EXPECT_EQ((std::array<int, 3>{sent.whole[4], sent.whole[5], sent.whole[63]}),
              (std::array<int, 3>{2, 3, 1}));
    EXPECT_EQ(sent.dataOut.size(), 24u);
    EXPECT_EQ(sent.dataOut[8], 'K');
    EXPECT_EQ(sent.dataAt % kDeviceBufferAlignment, 0u);
  }
  EXPECT_EQ(CurrentScsiAddress().Lun, 3u);
  return result;
}

TEST_F(MultipathTest, TheOwningLunsFirstDriveAloneIsSentTheCommand) {
  const std::string reason = "tollard: \\\\.\\Scsi1:Bus0:ID2:LUN3: Incorrect function.\n";
  const std::vector<uint8_t> unitAttention = {0x70, 0, 6, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x2A, 4};
  struct Case {
    const char* what;
    Responder adapter;  // null: the adapter refuses
    Responder drive2;   // PhysicalDrive2's multipath answer
    bool result;
    size_t mpio;          // multipath requests (to drive 2 only)
    std::string reasons;  // standard error
    uint8_t senseKey;
  } cases[] = {
      {"adapter takes it", Answer(0), Answer(0), true, 0, "", 0},
      {"drive 2 takes it", nullptr, Answer(0), true, 1, "", 0},
      {"sense comes back from the path", nullptr, Answer(2, unitAttention), false, 1, "", 6},
      {"drive 2 fails it", nullptr, Refuse(1167), false, 1,
       reason + "tollard: \\\\.\\PhysicalDrive2: The device is not connected.\n", 0},
      {"drive 2 refuses the address", nullptr, Refuse(87), false, 1,
       reason + "tollard: \\\\.\\PhysicalDrive2: The parameter is incorrect.\n", 0},
  };
  for (const Case& c : cases) {
    Devices().disks["\\\\.\\PhysicalDrive2"].mpio = c.drive2;
    size_t mpio = 0;
    EXPECT_EQ(Register({PathOwner::Found::kSerial, "0A000002-02"}, c.adapter, &mpio), c.result)
        << c.what;
    EXPECT_EQ(mpio, c.mpio) << c.what;
    EXPECT_EQ(errors.Text(), c.reasons) << c.what;
    EXPECT_EQ(outcome.Sense[2], c.senseKey) << c.what;
    // Drive 3 also has the serial, after drive 2: it is never asked.
    EXPECT_EQ(Sent(platform::kIoctlScsiPassThroughDirect, "\\\\.\\PhysicalDrive3"), 0u);
  }
}

TEST_F(MultipathTest, WithoutAnOwningDriveNothingIsSent) {
  using Found = PathOwner::Found;
  const std::pair<PathOwner, std::string> cases[] = {
      {{Found::kUnreadable, ""}, "the DSM's path records cannot be read"},
      {{Found::kNoPath, ""}, "no multipath device has a path with this address"},
      {{Found::kSerial, "0A000009-09"}, "no disk has the serial number 0A000009-09"},
      {{Found::kSerial, ""}, "the multipath device with this path has no serial number"},
  };
  for (const auto& [owner, reason] : cases) {
    size_t mpio = 0;
    EXPECT_FALSE(Register(owner, nullptr, &mpio)) << reason;
    EXPECT_EQ(mpio, 0u) << reason;
    EXPECT_EQ(errors.Text(), "tollard: \\\\.\\Scsi1:Bus0:ID2:LUN3: Incorrect function.\n"
                             "tollard: \\\\.\\Scsi1:Bus0:ID2:LUN3: " + reason + "\n");
    // The result line shows zeros: nothing came back.
    EXPECT_EQ((std::array<uint8_t, 4>{outcome.Status, outcome.Sense[2], outcome.Sense[12],
                                      outcome.Sense[13]}),
              (std::array<uint8_t, 4>{})) << reason;
  }
}

TEST_F(MultipathTest, TheRouteIsFoundOncePerCommand) {
  ScsiCommand command(*ResolveDiskArgument("1.0.2.3"),
                      Owner({PathOwner::Found::kSerial, "0A000001-01"}));
  command.SetCdb({});
  EXPECT_TRUE(command.Execute(out, errors));
  EXPECT_TRUE(command.Execute(out, errors));
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_EQ(Sent(platform::kIoctlScsiPassThroughDirect, "\\\\.\\PhysicalDrive1"), 1u);
  EXPECT_EQ(Sent(platform::kIoctlMpioPassThroughPathDirect, "\\\\.\\PhysicalDrive1"), 2u);
  EXPECT_EQ(Sent(platform::kIoctlScsiPassThroughDirect, "\\\\.\\PhysicalDrive2"), 0u);
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(MultipathTest, WithoutALookupNothingElseIsTried) {
  ScsiCommand command(*ResolveDiskArgument("1.0.2.3"));
  command.SetCdb({});
  EXPECT_FALSE(command.Execute(out, errors));
  EXPECT_EQ(Devices().sent.size(), 1u);
  EXPECT_EQ(errors.Text(),
            "tollard: \\\\.\\Scsi1:Bus0:ID2:LUN3: Incorrect function.\n"
            "tollard: \\\\.\\Scsi1:Bus0:ID2:LUN3: the DSM's path records cannot be read\n");
}

TEST_F(MultipathTest, OnlyAddressesTryTheMultipathRoute) {
  Devices().disks["\\\\.\\PhysicalDrive1"].respond = Refuse(1);
  ScsiCommand command("\\\\.\\PhysicalDrive1", Owner({PathOwner::Found::kSerial, "0A000001-01"}));
  command.SetCdb({});
  EXPECT_FALSE(command.Execute(out, errors));
  EXPECT_EQ(Devices().sent.size(), 1u);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(errors.Text(), "");
}

}  // namespace
}  // namespace scsi
