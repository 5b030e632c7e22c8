#include "scsi/drives.h"

#include <gtest/gtest.h>

#include "scsi/fake_device_test.h"

namespace scsi {
namespace {

using testing::ScsiTest;

// A device-identification page whose first descriptor is an NAA 6
// identifier 0x60 0x01 ... 0x0F.
std::array<uint8_t, 64> NaaPage(uint8_t pageLength = 0x38) {
  std::array<uint8_t, 64> page{};
  page[1] = 0x83;
  page[3] = pageLength;
  page[4] = 0x01, page[5] = 0x03, page[7] = 16;
  for (uint8_t i = 0; i < 16; ++i) page[8 + i] = static_cast<uint8_t>(0x60 + i);
  return page;
}

TEST(IdentifierOfPage, WalksTheDesignators) {
  auto naa = NaaPage();
  auto short34 = NaaPage(0x34);
  // A T10 vendor designator (8 bytes) before the NAA 6 one.
  std::array<uint8_t, 64> second{};
  second[1] = 0x83, second[3] = 0x38, second[7] = 8;
  second[16 + 3] = 16;
  for (uint8_t i = 0; i < 16; ++i) second[20 + i] = static_cast<uint8_t>(0x60 + i);
  // A 16-byte designator that is not NAA 6: the walk goes on past it.
  auto notNaa6 = naa;
  notNaa6[8] = 0x50;
  // No NAA 6 anywhere and the walk ends past 64: bytes 19 on.
  std::array<uint8_t, 64> none{};
  none[3] = 0x38, none[7] = 61;
  for (uint8_t i = 0; i < 64; ++i) none[i] = i > 7 ? i : none[i];
  // A walk whose next length or type byte lies at 64 or beyond: nothing read.
  std::array<uint8_t, 64> landsAt64{};
  landsAt64[3] = 0x38, landsAt64[7] = 56;
  std::array<uint8_t, 64> landsAt60{};
  landsAt60[3] = 0x38, landsAt60[7] = 52, landsAt60[63] = 16;
  // An NAA 6 designator at offset 48 whose five bytes would end past 64.
  std::array<uint8_t, 64> late{};
  late[3] = 0x38, late[7] = 40, late[48 + 3] = 16, late[52] = 0x60;

  const std::pair<std::array<uint8_t, 64>, std::string> cases[] = {
      {naa, "6B6C6D6E-6F"},
      {short34, "68696A6B-6C"},
      {second, "6B6C6D6E-6F"},
      {notNaa6, ""},
      {none, "13141516-17"},
      {landsAt64, ""},
      {landsAt60, ""},
      {late, ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(IdentifierOfPage(cases[i].first), cases[i].second) << "case " << i;
  }
}

class DrivesTest : public ScsiTest {
 protected:
  void AddName(const std::string& name, const std::string& target) {
    Devices().dosNames[""] += name + '\0';
    Devices().dosNames[name] = target + '\0' + '\0';
  }
  std::vector<std::string> Walk() {
    Devices().dosNames[""] += '\0';
    std::vector<std::string> paths;
    EXPECT_EQ(ForEachPhysicalDrive([&](const std::string& p) { paths.push_back(p); }),
              0xFFFFFFFFu);
    return paths;
  }
};

TEST_F(DrivesTest, WalkTakesDrivesByTheirTargets) {
  AddName("PhysicalDrive0", "\\Device\\Harddisk0\\DR0");
  AddName("C:", "\\Device\\HarddiskVolume1");
  AddName("PhysicalDrive1", "\\Device\\Harddisk1\\Partition0");
  AddName("PhysicalDrive2", "\\Device\\Harddisk2\\Partition1");
  AddName("PhysicalDrive3", "\\Device\\Something");
  AddName("PhysicalDrive4", "\\Device\\CdRom0");
  AddName("PhysicalDrive5", "\\Device\\Tape0");
  AddName("PhysicalDrive6", "\\Device\\harddisk6\\dr6");
  Devices().dosNames[""] += "PhysicalDrive7";  // listed, but without targets
  Devices().dosNames[""] += '\0';
  AddName("PhysicalDrive" + std::string(250, '8'), "\\Device\\Tape1");
  EXPECT_EQ(Walk(), (std::vector<std::string>{"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive1",
                                              "\\\\.\\PhysicalDrive4", "\\\\.\\PhysicalDrive5"}));
  // The list, then each of its ten names (C: too) with the 260-byte buffer.
  std::vector<uint32_t> asked(11, 260);
  asked[0] = 0x20000;
  EXPECT_EQ(Devices().asked, asked);
}

TEST_F(DrivesTest, WalkWithoutNameListReturnsZero) {
  int calls = 0;
  EXPECT_EQ(ForEachPhysicalDrive([&](const std::string&) { ++calls; }), 0u);
  EXPECT_EQ(calls, 0);
}

TEST_F(DrivesTest, CollectsIdentitiesOfAnsweringDrives) {
  auto page = NaaPage();
  std::vector<uint8_t> answer(page.begin(), page.end());
  auto wrongPage = answer;
  wrongPage[1] = 0x80;
  AddName("PhysicalDrive3", "\\Device\\Harddisk3\\DR3");
  AddName("PhysicalDrive12", "\\Device\\Harddisk12\\DR12");
  AddName("PhysicalDrive4", "\\Device\\Harddisk4\\DR4");
  AddName("PhysicalDrive5", "\\Device\\Harddisk5\\DR5");  // cannot be opened
  Devices().dosNames[""] += '\0';
  Devices().disks["\\\\.\\PhysicalDrive3"].respond = Answer(0, {}, answer);
  Devices().disks["\\\\.\\PhysicalDrive12"].respond = Answer(0, {}, answer);
  Devices().disks["\\\\.\\PhysicalDrive4"].respond = Answer(0, {}, wrongPage);

  std::vector<DriveIdentity> list{{"OLD", 1}};
  EXPECT_EQ(CollectDriveIdentities(list, out), 0xFFFFFFFFu);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].Identifier, "6B6C6D6E-6F");
  EXPECT_EQ(list[1].Number, 3);
  EXPECT_EQ(list[2].Number, 12);
  const auto& inquiry = Devices().sent.at(0);
  EXPECT_EQ(std::vector<uint8_t>(&inquiry.request[36], &inquiry.request[42]),
            (std::vector<uint8_t>{0x12, 0x01, 0x83, 0x00, 0x40, 0x00}));
  EXPECT_EQ(GetLittleEndian(&inquiry.request[12], 4), 64u);
}

TEST_F(ScsiTest, NameListIsAskedForAgainWithMoreRoomUntilItFits) {
  struct Case {
    size_t listSize;  // 0: it never fits
    std::vector<uint32_t> asked;
    platform::Win32Error result;
  } cases[] = {
      {100, {0x20000}, 0},
      {0x20000, {0x20000}, 0},
      {0x20001, {0x20000, 0x40000}, 0},
      {0x50000, {0x20000, 0x40000, 0x80000}, 0},
      {0, {0x20000, 0x40000, 0x80000, 0x100000, 0x200000, 0x400000, 0x800000, 0x1000000},
       platform::win32_error::kInsufficientBuffer},
  };
  for (const Case& c : cases) {
    Devices().asked.clear();
    Devices().tooSmallAlways = c.listSize == 0;
    Devices().dosNames[""] = std::string(c.listSize, '\0');
    std::string names;
    EXPECT_EQ(ReadDeviceNames(Devices(), &names), c.result) << c.listSize;
    EXPECT_EQ(Devices().asked, c.asked) << c.listSize;
    EXPECT_EQ(names.size(), c.listSize) << c.listSize;
  }
  // A walk over a list that never fits visits nothing and says so.
  EXPECT_EQ(ForEachPhysicalDrive([](const std::string&) { ADD_FAILURE(); }), 0u);
}

}  // namespace
}  // namespace scsi
