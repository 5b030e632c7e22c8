#include "dsm/iostatus.h"

#include <gtest/gtest.h>

#include "dsm/fake_wmi_test.h"
#include "scsi/fake_device_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;

// Drives answer the identification inquiry with an NAA 6 designator whose
// last five bytes are the LUN's serial number.
class IoStatusTest : public FakeWmiTest {
 protected:
  void SetUp() override {
    FakeWmiTest::SetUp();
    platform::SetMachine(&machine_);
    DiskNameList() = {};
  }
  void TearDown() override {
    platform::SetMachine(nullptr);
    FakeWmiTest::TearDown();
  }
  void AddDrive(int number, std::array<uint8_t, 5> serial) {
    scsi::testing::AddSerialDrive(machine_, number, serial);
  }
  void InstallPaths() {
    SanPath a{0x1a, {2, 0, 5, 1}, 1, 2};
    a.reads = 4294967295u;
    a.writes = 2;
    SanPath b{0xabcdef12, {3, 0, 5, 1}, 1, 2};
    b.state = 9;
    SanPath c{0x100000000, {4, 0, 5, 1}, 1, 2};
    Install(*wmi_, {{L"A", 2, 2, 0x0123ABCD, 1, {a, b}}, {L"B", 2, 2, 0x0123ABCD, 2, {c}}});
  }
  int Run(std::vector<const char*> words) {
    out_.Clear();
    return ShowIoStatus(out_, static_cast<int>(words.size()), words.data());
  }
  std::string Table(const std::string& driveOfA, const std::string& driveOfB) {
    return "\n"
           " PathId    PendingIOs    IOCounter   Device  SerialNumber  Status  \n"
           " ------------------------------------------------------------------\n"
           " 0000001a  0             1           " +
           driveOfA +
           "0123ABCD-01   Online\n"
           " abcdef12  0             0           " +
           driveOfA +
           "0123ABCD-01   Unknown\n"
           " 100000000  0             0           " +
           driveOfB +
           "0123ABCD-02   Online\n"
           "\n";
  }

  scsi::testing::FakeDeviceMachine machine_;
};

TEST_F(IoStatusTest, FirstRunScansAndShowsTheTable) {
  InstallPaths();
  AddDrive(4, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  EXPECT_EQ(Run({"iostatus"}), 0);
  EXPECT_EQ(out_.Text(), Table("4       ", "-1      "));
  EXPECT_EQ(machine_.devices.sent.size(), 1u);
  Run({"iostatus", "rescans"});
  EXPECT_EQ(machine_.devices.sent.size(), 1u);
}

TEST_F(IoStatusTest, RescanRebuildsTheDriveList) {
  InstallPaths();
  AddDrive(4, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  Run({"iostatus"});
  machine_.devices = {};
  AddDrive(12, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  AddDrive(3, {0x01, 0x23, 0xAB, 0xCD, 0x02});
  for (const char* word : {"r", "RE", "Rescan"}) {
    EXPECT_EQ(Run({"iostatus", word, "extra"}), 0);
    EXPECT_EQ(out_.Text(), Table("12      ", "3       ")) << word;
    EXPECT_EQ(DiskNameList().drives.size(), 2u);
  }
}

TEST_F(IoStatusTest, NoPathsNoTable) {
  AddDrive(4, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  EXPECT_EQ(Run({"iostatus"}), 0);
  EXPECT_EQ(out_.Text(), "");
  EXPECT_EQ(DiskNameList().drives.size(), 1u);
}

// Each lookup gives what a walk of the list in order finds first, so a
// key or serial number listed twice keeps its first entry.
TEST(IoStatusJoinTest, FirstMatchWinsLikeTheScan) {
  const std::vector<PathDescriptor> descriptors = {
      {"02000501", 0x1a}, {"03000501", 0x1b}, {"02000501", 0x99}, {"", 0x5}, {"04000501", 0}};
  const std::vector<scsi::DriveIdentity> drives = {
      {"0123ABCD-01", 4}, {"0123ABCD-02", 7}, {"0123ABCD-01", 12}, {"", 9}, {"0123ABCD-03", -1}};
  const IoStatusJoin join(descriptors, drives);
  const struct {
    std::string key;
    uint64_t pathId;
  } keys[] = {{"02000501", 0x1a}, {"03000501", 0x1b}, {"", 0x5},
              {"04000501", 0},    {"05000501", 0},    {"02000501 ", 0}};
  for (const auto& k : keys) EXPECT_EQ(join.PathIdOfKey(k.key), k.pathId) << k.key;
  const struct {
    std::string serial;
    int32_t drive;
  } serials[] = {{"0123ABCD-01", 4},  {"0123ABCD-02", 7},  {"", 9},
                 {"0123ABCD-03", -1}, {"0123abcd-01", -1}, {"0123ABCD-04", -1}};
  for (const auto& s : serials) EXPECT_EQ(join.DriveOfKey(s.serial), s.drive) << s.serial;
}

// Two descriptors for one address and two drives for one serial number:
// the table shows the first of each, as the scans did.
TEST_F(IoStatusTest, DuplicatesShowTheirFirstEntry) {
  InstallPaths();
  auto& descriptors = static_cast<FakeObject&>(*wmi_->instances[L"MPIO_GET_DESCRIPTOR"][0]);
  Value list = descriptors.Find(L"PdoInformation")->first;
  auto extra = wmi_->New(L"MPIO_PDO_INFO");
  extra->Set(L"PathIdentifier", U64Text(0x77))
      .Set(L"ScsiAddress",
           static_cast<FakeObject&>(*list.elements[0].object).Find(L"ScsiAddress")->first);
  list.elements.push_back(Value::Unknown(extra));
  descriptors.Set(L"PdoInformation", list);
  AddDrive(4, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  AddDrive(6, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  EXPECT_EQ(Run({"iostatus"}), 0);
  EXPECT_EQ(out_.Text(), Table("4       ", "-1      "));
}

}  // namespace
}  // namespace dsm
