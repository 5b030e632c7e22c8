#include "install/storage_lists.h"

#include <gtest/gtest.h>

#include "install/sim_bench_test.h"

namespace install {
namespace {

using Json = nlohmann::ordered_json;
using Strings = std::vector<std::string>;

constexpr const char* kMpdevKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\MPDEV";

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }

TEST(StorageLists, EntriesEndAtTheEmptyStringOrTheStoredSize) {
  struct Case {
    std::string bytes;
    Strings entries;
  } cases[] = {
      {Bytes("a\0bc\0\0", 6), {"a", "bc"}},
      {Bytes("\0", 1), {}},
      {"", {}},
      // Stored without terminators: the last entry ends with the value.
      {"ab", {"ab"}},
      {Bytes("a\0b", 3), {"a", "b"}},
      // An empty string ends the list, whatever follows it.
      {Bytes("a\0\0b\0\0", 6), {"a"}},
      {Bytes("\0a\0\0", 4), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(ListEntries(c.bytes), c.entries);
  }
  EXPECT_EQ(ListBytes({}), Bytes("\0", 1));
  EXPECT_EQ(ListBytes({"a", "bc"}), Bytes("a\0bc\0\0", 6));
}

TEST(StorageLists, PatternsTakeTwentyFourCharactersAndMatchWithoutCase) {
  EXPECT_EQ(DeviceIdPattern("VELLORANQX-T40512_______"), "SCSI\\DiskVELLORANQX-T40512_______");
  EXPECT_EQ(DeviceIdPattern("VELLORANQX-T40512_______EXTRA"), "SCSI\\DiskVELLORANQX-T40512_______");
  EXPECT_EQ(DeviceIdPattern("SHORT"), "SCSI\\DiskSHORT");

  struct Case {
    Strings entries;
    Strings ids;
    bool match;
  } cases[] = {
      {{"VELLORANQX-T40512_______"}, {"SCSI\\DiskVELLORANQX-T40512_______0001", "GenDisk"}, true},
      {{"velloranqx-t40512_______"}, {"scsi\\diskVELLORANQX-T40512_______0001"}, true},
      {{"OTHER", "VELLORANQX-T40512_______"}, {"GenDisk", "SCSI\\DiskVELLORANQX-T40512___"}, false},
      // Only the first 24 characters of a longer entry count.
      {{"VELLORANQX-T40512_______MORE"}, {"SCSI\\DiskVELLORANQX-T40512_______0001"}, true},
      {{"VELLORANQX-T40512"}, {"SCSI\\DiskVELLORANQX-T40512_______0001"}, true},
      // Blanks are not underscores until the caller converts them.
      {{"VELLORANQX-T40512       "}, {"SCSI\\DiskVELLORANQX-T40512_______0001"}, false},
      {{}, {"SCSI\\DiskVELLORAN"}, false},
      {{"VELLORAN"}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.entries) + " " + testing::PrintToString(c.ids));
    EXPECT_EQ(AnyEntryMatches(c.entries, c.ids), c.match);
  }
  Strings entries = {"VELLORANQX-T40512       ", " a b "};
  BlanksToUnderscores(&entries);
  EXPECT_EQ(entries, (Strings{"VELLORANQX-T40512_______", "_a_b_"}));
}

// A machine with an INF holding the DelReg section "R" of `lines`.
Json MachineWithDelReg(const std::string& lines) {
  return Json{{"files",
               {{"C:\\pkg\\d.inf",
                 {{"text",
                   "[Version]\nSignature=\"$Windows NT$\"\n[DefaultUninstall]\nDelReg = "
                   "R\n[R]\n" +
                       lines}}}}}};
}

constexpr const char* kLine1 =
    "HKLM, \"SYSTEM\\CurrentControlSet\\Control\\MPDEV\", \"MPIOSupportedDeviceList\", 0x18002, ";

TEST(StorageLists, DeleteStringLinesRemoveTheFirstEqualEntry) {
  struct Case {
    const char* name;
    std::string lines;
    Strings before;
    Strings after;
    Strings removed;
  } cases[] = {
      {"one line", std::string(kLine1) + "\"B  \"\n", {"a", "b  ", "c"}, {"a", "c"}, {"B  "}},
      {"the only entry", std::string(kLine1) + "a\n", {"a"}, {}, {"a"}},
      {"first copy only", std::string(kLine1) + "a\n", {"a", "b", "a"}, {"b", "a"}, {"a"}},
      {"lines in turn",
       std::string(kLine1) + "a\n" + kLine1 + "a\n",
       {"a", "b", "a"},
       {"b"},
       {"a", "a"}},
      {"absent string is still collected", std::string(kLine1) + "zz\n", {"a"}, {"a"}, {"zz"}},
      {"root in lower case",
       "hklm, system\\currentcontrolset\\control\\mpdev, mpiosupporteddevicelist, 0x18002, a\n",
       {"a"},
       {},
       {"a"}},
      {"six fields", std::string(kLine1) + "a, extra\n", {"a"}, {"a"}, {}},
      {"four fields",
       "HKLM, \"SYSTEM\\CurrentControlSet\\Control\\MPDEV\", x, 0x18002\n",
       {"a"},
       {"a"},
       {}},
      {"other flags",
       "HKLM, SYSTEM\\CurrentControlSet\\Control\\MPDEV, MPIOSupportedDeviceList, 0x18000, a\n",
       {"a"},
       {"a"},
       {}},
      {"other root",
       "HKCU, SYSTEM\\CurrentControlSet\\Control\\MPDEV, MPIOSupportedDeviceList, 0x18002, a\n",
       {"a"},
       {"a"},
       {}},
      {"other value",
       "HKLM, SYSTEM\\CurrentControlSet\\Control\\MPDEV, UpperFilters, 0x18002, a\n",
       {"a"},
       {"a"},
       {}},
      {"an empty string is not collected",
       std::string(kLine1) + "\"\"\n" + kLine1 + "b\n",
       {"b"},
       {},
       {"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBench bench(MachineWithDelReg(c.lines));
    std::string list = ListBytes(c.before);
    ASSERT_EQ(ApplyDelRegStrings(bench.In(), "C:\\pkg\\d.inf", "R", kFrameworkList, &list), 0u);
    EXPECT_EQ(list, ListBytes(c.after));
    EXPECT_EQ(bench.In().removed.Ids(), c.removed);
  }
}

TEST(StorageLists, AdapterFilterLinesAreNotCollected) {
  SimBench bench(MachineWithDelReg(
      "HKLM, \"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-"
      "08002BE10318}\", UpperFilters, 0x18002, mpspfltr\n" +
      std::string(kLine1) + "a\n"));
  std::string list = ListBytes({"mpspfltr", "a"});
  ASSERT_EQ(ApplyDelRegStrings(bench.In(), "C:\\pkg\\d.inf", "R", kAdapterFilters, &list), 0u);
  EXPECT_EQ(list, ListBytes({"a"}));
  EXPECT_TRUE(bench.In().removed.Ids().empty());
}

TEST(StorageLists, AListStoredWithoutTerminatorsIsEditedWithinItsSize) {
  SimBench bench(MachineWithDelReg(std::string(kLine1) + "b\n"));
  // No terminator at all, and no entry equal to "b": left as it is.
  std::string list = Bytes("a\0bcd", 5);
  ASSERT_EQ(ApplyDelRegStrings(bench.In(), "C:\\pkg\\d.inf", "R", kFrameworkList, &list), 0u);
  EXPECT_EQ(list, Bytes("a\0bcd", 5));
  list = Bytes("a\0b", 3);
  ASSERT_EQ(ApplyDelRegStrings(bench.In(), "C:\\pkg\\d.inf", "R", kFrameworkList, &list), 0u);
  EXPECT_EQ(list, ListBytes({"a"}));
}

TEST(StorageLists, RemovedIdsNeverOverrunTheirBuffer) {
  RemovedDeviceIds ids;
  const std::string id(98, 'x');  // 99 bytes with its terminator
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(ids.Append(id)) << i;
  // 10 * 99 + the final terminator = 991: 9 bytes are left.
  EXPECT_FALSE(ids.Append("123456789"));
  EXPECT_TRUE(ids.Append("12345678"));
  EXPECT_FALSE(ids.Append("x"));
  EXPECT_TRUE(ids.Append(""));
  EXPECT_EQ(ids.Ids().size(), 11u);

  SimBench bench(MachineWithDelReg(std::string(kLine1) + std::string(990, 'y') + "\n" + kLine1 +
                                   "fits\n" + kLine1 + "late\n"));
  std::string list = ListBytes({"fits"});
  ASSERT_EQ(ApplyDelRegStrings(bench.In(), "C:\\pkg\\d.inf", "R", kFrameworkList, &list), 0u);
  EXPECT_EQ(bench.In().removed.Ids(), (Strings{std::string(990, 'y'), "fits"}));
  EXPECT_EQ(bench.Output(), "Too many device ids to rebuild; left out: late\n");
  EXPECT_EQ(list, ListBytes({}));
}

TEST(StorageLists, ValuesAreReadAndWrittenByNumber) {
  SimBench bench(
      Json{{"registry",
            {{kMpdevKey,
              {{"MPIOSupportedDeviceList", {{"type", "REG_MULTI_SZ"}, {"value", {"a", "b"}}}}}}}}});
  std::string data;
  EXPECT_EQ(ReadStorageValue(bench.In(), 0, &data), 87u);
  EXPECT_EQ(ReadStorageValue(bench.In(), 5, &data), 87u);
  EXPECT_EQ(ReadStorageValue(bench.In(), kDsmImagePath, &data), 2u);
  EXPECT_EQ(ReadStorageValue(bench.In(), kAdapterFilters, &data), 2u);
  ASSERT_EQ(ReadStorageValue(bench.In(), kFrameworkList, &data), 0u);
  EXPECT_EQ(data, ListBytes({"a", "b"}));

  EXPECT_EQ(WriteStorageList(bench.In(), kDsmList, data), 87u);
  EXPECT_EQ(WriteStorageList(bench.In(), kAdapterFilters, data), 2u);
  ASSERT_EQ(WriteStorageList(bench.In(), kFrameworkList, ListBytes({})), 0u);
  EXPECT_EQ(bench.Document()["registry"][kMpdevKey]["MPIOSupportedDeviceList"]["value"],
            Json::array());
}

TEST(StorageLists, TheDelRegEntryOfDefaultUninstallIsRead) {
  struct Case {
    const char* inf;
    Win32Error error;
    const char* section;
  } cases[] = {
      {"[Version]\nSignature=$Windows NT$\n[DefaultUninstall]\nDelReg = A, B\n", 0, "A,B"},
      {"[Version]\nSignature=$Windows NT$\n[DefaultUninstall]\nDelReg =\n", 0, ""},
      {"[Version]\nSignature=$Windows NT$\n[DefaultUninstall]\nAddReg = A\n",
       platform::setup_error::kLineNotFound, ""},
      {"[Version]\nSignature=$Windows NT$\n", platform::setup_error::kSectionNotFound, ""},
      {"[DefaultUninstall]\nDelReg = A\n", 0xE0000100, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inf);
    SimBench bench(Json{{"files", {{"C:\\pkg\\d.inf", {{"text", c.inf}}}}}});
    std::string section;
    EXPECT_EQ(ReadDelRegSection(bench.In(), "C:\\pkg\\d.inf", &section), c.error);
    EXPECT_EQ(section, c.section);
  }
}

}  // namespace
}  // namespace install
