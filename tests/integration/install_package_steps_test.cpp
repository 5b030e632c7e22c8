#include <gtest/gtest.h>

#include "install/device_actions.h"
#include "install/package_steps.h"
#include "install/results.h"
#include "install_sim_bench.h"

namespace install {
namespace {

using Json = nlohmann::ordered_json;
using Strings = std::vector<std::string>;

constexpr const char* kDisk = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kAdapter = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";

Json Device(const char* instance, const char* cls, const Json& enumerator, const Json& ids) {
  return Json{
      {"instance", instance}, {"class", cls}, {"enumerator", enumerator}, {"hardware_ids", ids}};
}

TEST(InstallResults, ErrorTextsComeFromTheMessageTableByTheLow16Bits) {
  SimBench bench(Json{{"system", {{"messages", {{"0x219", "Own text.\r\n"}, {"5", nullptr}}}}}});
  struct Case {
    Win32Error code;
    const char* line;
  } cases[] = {
      {2, " The system cannot find the file specified.\r\n\n"},
      {0x80070002, " The system cannot find the file specified.\r\n\n"},
      {0xE0000219, " Own text.\r\n\n"},
      {5, " Error code (0x00000005)\n"},
      {0xE000020B, " Error code (0xe000020b)\n"},
  };
  for (const Case& c : cases) {
    SimBench one(Json{{"system", {{"messages", {{"0x219", "Own text.\r\n"}, {"5", nullptr}}}}}});
    PrintErrorText(one.In(), c.code);
    EXPECT_EQ(one.Output(), c.line) << c.code;
  }
  PrintFailure(bench.In(), 13);
  PrintDeviceSuccess(bench.In(), 0);
  PrintDeviceSuccess(bench.In(), 1);
  EXPECT_EQ(bench.Output(),
            "Failure. The data is invalid.\r\n\nSuccess \nSuccess (but need a reboot)\n");
}

TEST(InstallSteps, TheFirstRebootValueWinsAndPathsAreNeverCut) {
  uint32_t flag = 0;
  TakeReboot(&flag, 0);
  EXPECT_EQ(flag, 0u);
  TakeReboot(&flag, 1);
  TakeReboot(&flag, 0);
  EXPECT_EQ(flag, 1u);

  std::string path;
  EXPECT_TRUE(JoinPath(std::string(200, 'a'), std::string(58, 'b'), &path));
  EXPECT_EQ(path.size(), kMaxPath);
  EXPECT_FALSE(JoinPath(std::string(200, 'a'), std::string(59, 'b'), &path));
}

TEST(InstallSteps, OnlyALineOfItsOwnNamesACatalog) {
  struct Case {
    const char* text;
    bool names;
  } cases[] = {
      {"[Version]\nCatalogFile = mpio.cat\n", true},
      {"CatalogFile = mpio.cat", true},
      {"CatalogFile = mpio.cat\r\n", true},
      {"CatalogFile = mpio.cat ; the catalog\n", true},
      {"CatalogFile=mpio.cat\n", false},
      {"CatalogFile  = mpio.cat\n", false},
      {"catalogfile = mpio.cat\n", false},
      {"CatalogFile = MPIO.CAT\n", false},
      {"CatalogFile = mpio.catalog\n", false},
      {" CatalogFile = mpio.cat\n", false},
      {"; CatalogFile = mpio.cat\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(NamesCatalog(c.text, "mpio.cat"), c.names);
  }
  // A line longer than any line buffer is still one line.
  EXPECT_FALSE(NamesCatalog("; " + std::string(297, 'x') + "CatalogFile = mpio.cat\n", "mpio.cat"));
}

// The effect of ReleaseDisk on one disk, by system version.
TEST(InstallDeviceActions, DisksAreReleasedByVersionListAndEnumerator) {
  const Strings list = {"VELLORANQX-T40512_______"};
  struct Case {
    const char* name;
    uint32_t major;
    Json enumerator;
    Json ids;
    bool removed;
    uint32_t restarts;
  } cases[] = {
      {"still supported",
       5,
       "SCSI",
       {"SCSI\\DiskVELLORANQX-T40512_______0001", "MPIODisk"},
       false,
       0},
      {"claimed disk on 5.x", 5, "SCSI", {"SCSI\\DiskOTHER", "MPIODisk"}, false, 1},
      {"plain disk on 5.x", 5, "SCSI", {"SCSI\\DiskOTHER", "GenDisk"}, false, 0},
      {"plain disk on 6.x", 6, "SCSI", {"SCSI\\DiskOTHER", "GenDisk"}, false, 1},
      {"bus child on 5.x", 5, "MPIO", {"SCSI\\DiskOTHER"}, true, 0},
      {"bus child on 6.x", 6, "mpio", {"SCSI\\DiskOTHER"}, true, 0},
      {"no ids on 5.x", 5, "SCSI", Json::array(), false, 0},
      {"no ids on 6.x", 6, "IDE", Json::array(), false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBench bench(Json{{"devices", {Device("D\\1", kDisk, c.enumerator, c.ids)}}},
                   {c.major, 0, 0});
    uint32_t reboot = 0;
    ASSERT_EQ(ForEachClassDevice(bench.In(), kDisk, ReleaseDisk, &list, &reboot), 0u);
    EXPECT_EQ(bench.World().devices.Devices().empty(), c.removed);
    if (!c.removed) {
      EXPECT_EQ(bench.World().devices.Devices()[0].restarts, c.restarts);
    }
  }
}

TEST(InstallDeviceActions, DisksAreMarkedOnlyWhenSupportedAndGeneric) {
  const Strings list = {"VELLORANQX-T40512_______"};
  struct Case {
    Json ids;
    Strings after;
    uint32_t flags;
  } cases[] = {
      {{"SCSI\\DiskVELLORANQX-T40512_______0001", "gendisk"},
       {"SCSI\\DiskVELLORANQX-T40512_______0001", "MPIODisk"},
       0x20},
      {{"SCSI\\DiskVELLORANQX-T40512_______0001", "SCSI\\DiskVELLORAN"},
       {"SCSI\\DiskVELLORANQX-T40512_______0001", "SCSI\\DiskVELLORAN"},
       0},
      {{"SCSI\\DiskOTHER", "GenDisk"}, {"SCSI\\DiskOTHER", "GenDisk"}, 0},
      {Json::array(), {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ids.dump());
    SimBench bench(Json{{"devices", {Device("D\\1", kDisk, "SCSI", c.ids)}}});
    uint32_t reboot = 0;
    ASSERT_EQ(ForEachClassDevice(bench.In(), kDisk, MarkDiskForMultiPath, &list, &reboot), 0u);
    const platform::sim::SimDevice& disk = bench.World().devices.Devices()[0];
    EXPECT_EQ(*disk.hardwareIds, c.after);
    EXPECT_EQ(disk.configFlags, c.flags);
    EXPECT_EQ(reboot, 0u);
  }
}

TEST(InstallDeviceActions, UnreadableIdsFailEveryActionButTheRebuild) {
  const Strings text = {"X"};
  struct Case {
    const char* name;
    DeviceAction action;
    Win32Error result;
  } cases[] = {
      {"RemoveMatchingDevice", RemoveMatchingDevice, 13}, {"RestartAdapter", RestartAdapter, 13},
      {"MarkDiskForMultiPath", MarkDiskForMultiPath, 13}, {"ReleaseDisk", ReleaseDisk, 13},
      {"RemoveRebuiltDisk", RemoveRebuiltDisk, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBench bench(Json{{"devices",
                         {Device("D\\1", kDisk, "SCSI", nullptr),
                          Device("D\\2", kDisk, "SCSI", {"SCSI\\DiskX"})}}});
    uint32_t reboot = 0;
    EXPECT_EQ(ForEachClassDevice(bench.In(), kDisk, c.action, &text, &reboot), c.result);
    // A failure ends the walk before the second device.
    EXPECT_EQ(bench.World().devices.Devices().size(), c.result == 0 ? 1u : 2u);
  }
}

TEST(InstallDeviceActions, AdaptersRestartButTheBusAndAskForReboots) {
  SimBench bench(Json{{"devices",
                       {Device("A\\1", kAdapter, "PCI", {"PCI\\X"}),
                        Device("A\\2", kAdapter, "ROOT", {"detected\\mpio"}),
                        Device("A\\3", kAdapter, "PCI", Json::array())}}});
  bench.World().devices.Devices()[2].installFlags = platform::kDiNeedRestart;
  uint32_t reboot = 0;
  ASSERT_EQ(ForEachClassDevice(bench.In(), kAdapter, RestartAdapter, nullptr, &reboot), 0u);
  const auto& devices = bench.World().devices.Devices();
  EXPECT_EQ(devices[0].restarts, 1u);
  EXPECT_EQ(devices[1].restarts, 0u);
  EXPECT_EQ(devices[2].restarts, 1u);
  EXPECT_EQ(reboot, 1u);
}

TEST(InstallDeviceActions, RebuiltDisksAreRemovedOnlyFromMpioOrScsi) {
  const Strings removed = {"VELLORANQX-T40512_______"};
  const Json ids = {"SCSI\\DiskVELLORANQX-T40512_______0001"};
  SimBench bench(Json{{"devices",
                       {Device("D\\1", kDisk, "SCSI", ids), Device("D\\2", kDisk, "IDE", ids),
                        Device("D\\3", kDisk, nullptr, ids), Device("D\\4", kDisk, "Mpio", ids),
                        Device("D\\5", kDisk, "SCSI", {"SCSI\\DiskOTHER"})}}});
  uint32_t reboot = 0;
  ASSERT_EQ(ForEachClassDevice(bench.In(), kDisk, RemoveRebuiltDisk, &removed, &reboot), 0u);
  Strings left;
  for (const auto& d : bench.World().devices.Devices()) left.push_back(d.instance);
  EXPECT_EQ(left, (Strings{"D\\2", "D\\3", "D\\5"}));
}

// Whether ProcessInfSection ran the ".Services" section, by INF name,
// section and the DSM's own list.
TEST(InstallSteps, TheDsmServiceStaysWhileTheDsmListsDevices) {
  struct Case {
    const char* inf;
    const char* section;
    bool dsmListEmpty;
    bool servicesRun;
  } cases[] = {
      {"C:\\p\\tevdsm.inf", "DefaultUninstall", false, false},
      {"C:\\p\\tevdsm.inf", "defaultuninstall", false, false},
      {"C:\\p\\tevdsm.inf", "DefaultUninstall", true, true},
      {"C:\\p\\tevdsm.inf", "Other", false, true},
      {"C:\\p\\mpio.inf", "DefaultUninstall", false, true},
      {"C:\\p\\mpdev.inf", "DefaultUninstall", false, true},
      {"C:\\p\\MPIO.INF", "DefaultUninstall", false, false},
  };
  const std::string inf =
      "[Version]\nSignature=\"$Windows NT$\"\n[DefaultUninstall]\n[DefaultUninstall.Services]\n"
      "DelService = svc\n[Other]\n[Other.Services]\nDelService = svc\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.inf) + " " + c.section);
    Json registry = {{"HKLM\\SYSTEM\\CurrentControlSet\\Services\\svc",
                      {{"Start", {{"type", "REG_DWORD"}, {"value", 0u}}}}}};
    if (!c.dsmListEmpty) {
      registry["HKLM\\SYSTEM\\CurrentControlSet\\Services\\tevdsm\\Parameters"] = {
          {"SupportedDeviceList", {{"type", "REG_MULTI_SZ"}, {"value", {"X"}}}}};
    }
    SimBench bench(Json{{"registry", registry}, {"files", {{c.inf, {{"text", inf}}}}}});
    EXPECT_EQ(ProcessInfSection(bench.In(), c.inf, c.section), 0u);
    EXPECT_EQ(bench.Output(), "Success\n");
    EXPECT_EQ(
        !bench.Document()["registry"].contains("HKLM\\SYSTEM\\CurrentControlSet\\Services\\svc"),
        c.servicesRun);
  }
}

TEST(InstallSteps, OemCopiesAreFoundByContentAndRemovedWithTheirTwins) {
  const std::string text = "[Version]\nSignature=\"$Windows NT$\"\n";
  SimBench bench(Json{{"files",
                       {{"C:\\p\\a.inf", {{"text", text}}},
                        {"C:\\Windows\\inf\\oem3.inf", {{"text", text}}},
                        {"C:\\Windows\\inf\\oem3.pnf", {{"text", "x"}}},
                        {"C:\\Windows\\inf\\oem4.inf", {{"text", text + ";"}}}}}},
                 {5, 1, 0});
  RemoveOemInfCopy(bench.In(), "C:\\p\\a.inf");
  const Json& files = bench.Document()["files"];
  EXPECT_FALSE(files.contains("C:\\Windows\\inf\\oem3.inf"));
  EXPECT_FALSE(files.contains("C:\\Windows\\inf\\oem3.pnf"));
  EXPECT_TRUE(files.contains("C:\\Windows\\inf\\oem4.inf"));
  // Without a copy nothing happens.
  RemoveOemInfCopy(bench.In(), "C:\\p\\a.inf");
  EXPECT_TRUE(files.contains("C:\\Windows\\inf\\oem4.inf"));
  EXPECT_EQ(bench.Output(), "");
}

TEST(InstallSteps, TheOemCopyIsUninstalledByItsFileName) {
  // The copy cannot be deleted directly, so it goes only when the uninstall
  // call was given a name it takes: the file name, not the full path.
  const std::string text = "[Version]\nSignature=\"$Windows NT$\"\n";
  SimBench bench(Json{{"files",
                       {{"C:\\p\\a.inf", {{"text", text}}},
                        {"C:\\Windows\\inf\\oem3.inf", {{"text", text}}},
                        {"C:\\Windows\\inf\\oem3.pnf", {{"text", "x"}}}}},
                      {"faults", {{{"call", "DeleteFileA"}, {"code", 5}}}}},
                 {5, 1, 0});
  RemoveOemInfCopy(bench.In(), "C:\\p\\a.inf");
  EXPECT_FALSE(bench.Document()["files"].contains("C:\\Windows\\inf\\oem3.inf"));
  EXPECT_FALSE(bench.Document()["files"].contains("C:\\Windows\\inf\\oem3.pnf"));
  EXPECT_EQ(bench.Output(), "");
}

TEST(InstallDeviceActions, LongHardwareIdListsAreReadAndStoredWhole) {
  const Strings list = {"VELLORANQX-T40512_______"};
  Json ids = {"SCSI\\DiskVELLORANQX-T40512_______0001"};
  for (int i = 0; i < 12; ++i)
    ids.push_back("SCSI\\Alias" + std::to_string(i) + std::string(90, 'x'));
  ids.push_back("GenDisk");
  SimBench bench(Json{{"devices", {Device("D\\1", kDisk, "SCSI", ids)}}});
  uint32_t reboot = 0;
  ASSERT_EQ(ForEachClassDevice(bench.In(), kDisk, MarkDiskForMultiPath, &list, &reboot), 0u);
  const platform::sim::SimDevice& disk = bench.World().devices.Devices()[0];
  ASSERT_EQ(disk.hardwareIds->size(), ids.size());
  EXPECT_EQ(disk.hardwareIds->back(), "MPIODisk");
  EXPECT_EQ((*disk.hardwareIds)[12], ids[12].get<std::string>());
  EXPECT_EQ(disk.configFlags, 0x20u);
}

TEST(InstallSteps, AHardwareIdTooLongForTheDeviceIsRefusedBeforeAnyDeviceIsMade) {
  const std::string inf =
      "[Version]\nSignature=\"$Windows NT$\"\nClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\n";
  SimBench bench(Json{{"files", {{"C:\\p\\d.inf", {{"text", inf}}}}}});
  uint32_t reboot = 0;
  EXPECT_EQ(
      InstallRootDevice(bench.In(), "C:\\p\\d.inf", "ROOT\\" + std::string(1020, 'x'), &reboot),
      87u);
  EXPECT_EQ(bench.Output(), "Failure. The parameter is incorrect.\r\n\n");
  EXPECT_TRUE(bench.World().devices.Devices().empty());
  // One that fits is created and registered; the INF has no model for it.
  EXPECT_EQ(
      InstallRootDevice(bench.In(), "C:\\p\\d.inf", "ROOT\\" + std::string(1019, 'x'), &reboot),
      platform::setup_error::kNoDriverSelected);
  ASSERT_EQ(bench.World().devices.Devices().size(), 1u);
  EXPECT_EQ(bench.World().devices.Devices()[0].instance, "ROOT\\MPIO\\0000");
}

}  // namespace
}  // namespace install
