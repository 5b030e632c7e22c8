#include "scsi/pgr.h"

#include <gtest/gtest.h>

#include "scsi/fake_device_test.h"

namespace scsi {
namespace {

using testing::ScsiTest;

TEST(PgrActionOf, FirstKeywordThatTheWordPrefixes) {
  const std::pair<const char*, PgrAction> cases[] = {
      {"e", PgrAction::kEnable},        {"ENA", PgrAction::kEnable},
      {"enabled", PgrAction::kShow},    {"d", PgrAction::kDisable},
      {"l", PgrAction::kList},          {"r", PgrAction::kRegister},
      {"re", PgrAction::kRegister},     {"res", PgrAction::kReserve},
      {"rel", PgrAction::kRelease},     {"u", PgrAction::kUnregister},
      {"Clear", PgrAction::kClear},     {"t", PgrAction::kTur},
      {"turn", PgrAction::kShow},       {"x", PgrAction::kShow},
  };
  for (auto [word, action] : cases) EXPECT_EQ(PgrActionOf(word), action) << word;
}

using Bytes = std::vector<uint8_t>;

Bytes Head(const std::array<uint8_t, 16>& cdb, size_t n) { return Bytes(cdb.begin(), cdb.begin() + n); }

TEST(ReserveCdbs, MatchTheCommandLayouts) {
  // PERSISTENT RESERVE OUT: service action, scope/type, parameter list
  // length 24 in bytes 5-8; PERSISTENT RESERVE IN: allocation length in 7-8.
  const std::pair<PgrAction, Bytes> out[] = {
      {PgrAction::kRegister, {0x5F, 0x06, 0x06, 0, 0, 0, 0, 0, 0x18, 0}},
      {PgrAction::kUnregister, {0x5F, 0x06, 0x06, 0, 0, 0, 0, 0, 0x18, 0}},
      {PgrAction::kClear, {0x5F, 0x03, 0x00, 0, 0, 0, 0, 0, 0x18, 0}},
      {PgrAction::kReserve, {0x5F, 0x01, 0x06, 0, 0, 0, 0, 0, 0x18, 0}},
      {PgrAction::kRelease, {0x5F, 0x02, 0x06, 0, 0, 0, 0, 0, 0x18, 0}},
  };
  for (const auto& [action, bytes] : out) {
    auto cdb = ReserveOutCdb(action);
    EXPECT_EQ(Head(cdb, 10), bytes) << int(action);
    EXPECT_EQ(Bytes(cdb.begin() + 10, cdb.end()), Bytes(6, 0));
  }
  EXPECT_EQ(Head(ReserveInCdb(0), 10), (Bytes{0x5E, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}));
  EXPECT_EQ(Head(ReserveInCdb(1), 10), (Bytes{0x5E, 1, 0, 0, 0, 0, 0, 0x10, 0, 0}));
}

TEST(ReserveOutParameters, KeyFieldByAction) {
  const Bytes key = {'A', 'B', 'C', 'D', '1', '2', '3', '4'};
  for (PgrAction action : {PgrAction::kRegister, PgrAction::kUnregister, PgrAction::kClear,
                           PgrAction::kReserve, PgrAction::kRelease}) {
    auto list = ReserveOutParameters(action, "ABCD1234");
    size_t at = action == PgrAction::kRegister ? 8 : 0;
    Bytes expected(24, 0);
    std::copy(key.begin(), key.end(), expected.begin() + at);
    EXPECT_EQ(Bytes(list.begin(), list.end()), expected) << int(action);
  }
}

TEST(HexDump, RowsAndPaddedLastRow) {
  Bytes bytes = {'A', ' ', 0x7E, 0x7F, 0x21, 0x20, 0, 0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                 'x', 'y', 0x00, 'z'};
  platform::StringOutput out;
  HexDump(out, bytes.data(), bytes.size());
  EXPECT_EQ(out.Text(),
            "41 20 7E 7F 21 20 00 FF 61 62 63 64 65 66 67 68 A.~.!...abcdefgh\n"
            "78 79 00 7A " + std::string(36, ' ') + "xy.z\n");
  out.Clear();
  HexDump(out, bytes.data(), 16);
  EXPECT_EQ(out.Text(), "41 20 7E 7F 21 20 00 FF 61 62 63 64 65 66 67 68 A.~.!...abcdefgh\n");
  out.Clear();
  HexDump(out, bytes.data(), 0);
  EXPECT_EQ(out.Text(), "");
}

class PgrTest : public ScsiTest {
 protected:
  int Run(std::vector<const char*> words) {
    out.Clear();
    return Pgr(out, static_cast<int>(words.size()), words.data(), [this](const ScsiAddress& a) {
      asked.push_back(a.PortNumber << 24 | a.PathId << 16 | a.TargetId << 8 | a.Lun);
      return owner;
    });
  }

  PathOwner owner{PathOwner::Found::kNoPath, ""};
  std::vector<uint32_t> asked;
};

TEST_F(PgrTest, ReserveOutActionsSendTheirCommandAndReport) {
  Devices().disks["\\\\.\\PhysicalDrive1"] = {};
  EXPECT_EQ(Run({"pgr", "r", "1", "KEY-0001"}), 0);
  EXPECT_EQ(out.Text(), "result: 1 status: 0x0 sense: 0x00 0x00 0x00\n");
  const auto& sent = Devices().sent.at(0);
  EXPECT_EQ(sent.request[6], 10);
  EXPECT_EQ(sent.request[8], 0);
  EXPECT_EQ(sent.request[36 + 1], 0x06);
  EXPECT_EQ(sent.dataOut, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 'K', 'E', 'Y', '-', '0', '0', '0', '1',
                                 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(PgrTest, ResultLineShowsStatusAndSense) {
  Bytes sense(18, 0);
  sense[2] = 0x05, sense[12] = 0x24, sense[13] = 0x01;
  Devices().disks["\\\\.\\Scsi2:"].respond = Answer(0x02, sense);
  Run({"pgr", "tur", "2.0.1.4"});
  EXPECT_EQ(out.Text(), "result: 0 status: 0x2 sense: 0x05 0x24 0x01\n");
  const auto& r = Devices().sent.at(0).request;
  EXPECT_EQ((Bytes{r[4], r[5], r[6], r[8]}), (Bytes{1, 4, 6, 0}));
}

TEST_F(PgrTest, UnopenedDiskReportsZeros) {
  Run({"pgr", "release", "7", "ABCDEFGH"});
  EXPECT_EQ(out.Text(), "result: 0 status: 0x0 sense: 0x00 0x00 0x00\n");
}

TEST_F(PgrTest, MissingWordsDoNothing) {
  Devices().disks["\\\\.\\PhysicalDrive1"] = {};
  for (auto words : std::vector<std::vector<const char*>>{{"pgr", "register", "1"},
                                                          {"pgr", "reserve", "1", "SHORT"},
                                                          {"pgr", "clear", "1", "NINECHARS"},
                                                          {"pgr", "tur"}}) {
    EXPECT_EQ(Run(words), 0);
    EXPECT_EQ(out.Text(), "");
  }
  EXPECT_TRUE(Devices().opened.empty());
}

TEST_F(PgrTest, MalformedDiskIsRefusedWithoutSending) {
  Devices().disks["\\\\.\\Scsi1:"] = {};
  for (const char* disk : {"1.2.3", "1.2.x.4"}) {
    EXPECT_EQ(Run({"pgr", "tur", disk}), 0);
    EXPECT_EQ(out.Text(), std::string("Invalid disk: ") + disk +
                              " (give a drive number or port.bus.target.lun)\n");
  }
  EXPECT_TRUE(Devices().opened.empty());
}

TEST_F(PgrTest, ListDumpsWhatEachReadBroughtBack) {
  Bytes keys = {0, 0, 0, 1, 0, 0, 0, 8, 'K', 'E', 'Y', '-', '0', '0', '0', '1'};
  int calls = 0;
  Devices().disks["\\\\.\\PhysicalDrive0"].respond = [&](uint8_t* request, uint8_t* data) {
    // The first read reports the whole buffer as moved: its own length
    // (8 + ADDITIONAL LENGTH 8) is shown. The second read fails.
    Bytes full(4096, 1);
    std::fill_n(full.begin(), 8, 0);
    full[7] = 8;
    return Answer(calls++ == 0 ? 0 : 0x18, {}, full)(request, data);
  };
  Devices().disks["\\\\.\\PhysicalDrive1"].respond = Answer(0, {}, keys);
  Devices().dosNames[""] = std::string("PhysicalDrive0\0PhysicalDrive1\0\0", 31);
  Devices().dosNames["PhysicalDrive0"] = std::string("\\Device\\Harddisk0\\DR0\0\0", 23);
  Devices().dosNames["PhysicalDrive1"] = std::string("\\Device\\Harddisk1\\DR1\0\0", 23);
  Run({"pgr", "list"});
  const std::string row = "00 00 00 01 00 00 00 08 4B 45 59 2D 30 30 30 31 ........KEY-0001\n";
  EXPECT_EQ(out.Text(),
            "\\\\.\\PhysicalDrive0 registered keys:\n"
            "00 00 00 00 00 00 00 08 01 01 01 01 01 01 01 01 ................\n"
            "\\\\.\\PhysicalDrive1 registered keys:\n" +
                row + "\\\\.\\PhysicalDrive1 reservations:\n" + row);
  ASSERT_EQ(Devices().sent.size(), 4u);
  const auto& second = Devices().sent[3].request;
  EXPECT_EQ((Bytes{second[36], second[37], second[43], second[44]}), (Bytes{0x5E, 1, 0x10, 0}));
}

// Every disk action on an address hands the lookup on, so a refused command
// reaches the owning LUN's drive, once per execute, and no other drive.
TEST_F(PgrTest, RefusedAddressesReachTheOwningLunsDrive) {
  std::vector<uint8_t> page(64, 0);
  page[1] = 0x83, page[3] = 0x38, page[7] = 16, page[8] = 0x60;
  page[19] = 0x6A, page[20] = 0x0B, page[21] = 0x1C, page[22] = 0x20, page[23] = 0x02;
  for (const char* name : {"PhysicalDrive1", "PhysicalDrive2"}) {
    Devices().dosNames[name] = std::string("\\Device\\Harddisk1\\DR1\0\0", 23);
    Devices().disks[std::string("\\\\.\\") + name].respond =
        Answer(0, {}, name[13] == '2' ? page : Bytes(64, 0));
    Devices().disks[std::string("\\\\.\\") + name].mpio = Answer(0);
  }
  Devices().dosNames[""] = std::string("PhysicalDrive1\0PhysicalDrive2\0\0", 31);
  Devices().disks["\\\\.\\Scsi2:"].respond = [](uint8_t*, uint8_t*) { return 1u; };
  owner = {PathOwner::Found::kSerial, "6A0B1C20-02"};
  const std::pair<std::vector<const char*>, size_t> cases[] = {
      {{"pgr", "register", "2.0.1.2", "ABCDEFGH"}, 1},
      {{"pgr", "clear", "2.0.1.2", "ABCDEFGH"}, 1},
      {{"pgr", "tur", "2.0.1.2"}, 1},
      {{"pgr", "list", "2.0.1.2"}, 2},
  };
  for (const auto& [words, executes] : cases) {
    Devices().sent.clear();
    asked.clear();
    Run(words);
    EXPECT_EQ(asked, std::vector<uint32_t>{0x02000102}) << words[1];
    size_t mpio = 0;
    for (const auto& sent : Devices().sent) {
      if (sent.code != platform::kIoctlMpioPassThroughPathDirect) continue;
      ++mpio;
      EXPECT_EQ(sent.path, "\\\\.\\PhysicalDrive2") << words[1];
    }
    EXPECT_EQ(mpio, executes) << words[1];
  }
}

TEST(ReserveInAnswerLength, TrustsTheAdapterUnlessItReportsTheWholeBuffer) {
  struct Case {
    uint32_t transferred;
    uint32_t additionalLength;
    uint32_t shown;
  } cases[] = {
      {0, 8, 0},           {1, 8, 1},           {20, 0, 20},          {4095, 8, 4095},
      {4096, 8, 16},       {4096, 0, 8},        {4096, 4088, 4096},   {4096, 4089, 4096},
      {4096, 0xFFFFFFFF, 4096},
  };
  for (const Case& c : cases) {
    Bytes answer(4096, 0);
    PutBigEndian(&answer[4], c.additionalLength, 4);
    EXPECT_EQ(ReserveInAnswerLength(answer.data(), c.transferred), c.shown)
        << c.transferred << " " << c.additionalLength;
  }
}

}  // namespace
}  // namespace scsi
