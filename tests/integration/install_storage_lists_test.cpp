// The storage lists on a simulated machine's registry and INF files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/storage_lists.h"
#include "install_sim_bench.h"

namespace install {
namespace {

using Json = nlohmann::ordered_json;
using Strings = std::vector<std::string>;

constexpr const char* kMpdevKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\MPDEV";

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }

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
