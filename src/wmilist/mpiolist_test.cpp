#include "wmilist/mpiolist.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wmilist/fake_listing_test.h"

namespace wmilist {
namespace {

using namespace wmilist::testing;

const std::string kUsage =
    "mpiolist - Displays specified MPIO WMI object. \n"
    "\n"
    "Syntax: mpiolist WMI_Object [ Machine_Name [ Admin_User Password ] ] \n"
    "\n"
    "  WMI_Object: is either the name of an WMI object \n"
    "    or one of the types from the following list: \n"
    "    Use...    To see... \n"
    "       0      MsDiskDriver_Performance \n"
    "       1      MPIO_DISK_INFO \n"
    "       2      MPIO_PATH_INFORMATION \n"
    "       3      MPIO_CONTROLLER_CONFIGURATION \n"
    "       4      MPIO_TIMERS_COUNTERS \n"
    "       5      MPIO_GET_DESCRIPTOR \n"
    "  Machine_Name:  optional parameter specifying the computer name \n"
    "    to be queried. \n"
    "  Admin_User:  optional parameter specifying the domain and user for \n"
    "    the Machine_Name computer.  Must be member of the Administrators \n"
    "    group to work correctly. \n"
    "  Password: optional parameter specifying the password for Admin_User \n"
    "    parameter.  If Admin_User is specified, this parameter is required. \n";

// A runtime whose namespace has __SystemClass and records what was asked.
struct MpiolistFixture {
  MpiolistFixture() {
    auto system = std::make_shared<TestObject>(L"__SystemClass");
    system->Add(L"__NAMESPACE", Value::Bstr(L"ROOT\\WMI"));
    services().classes[L"__SystemClass"] = system;
  }
  TestServices& services() { return *runtime.locator->services; }
  int Run(std::vector<const char*> words) {
    return RunMpiolistOn(runtime, static_cast<int>(words.size()), words.data(), out, err);
  }
  TestRuntime runtime;
  platform::StringOutput out;
  platform::StringOutput err;
};

TEST(RunMpiolist, PrintsTheUsageForWrongCountsHelpWordsAndUnknownTypes) {
  const std::vector<std::vector<const char*>> commands = {
      {"mpiolist"},
      {"mpiolist", "1", "host", "user"},
      {"mpiolist", "1", "host", "user", "pw", "extra"},
      {"mpiolist", "6"},
      {"mpiolist", "Win32_DiskDrive"},
      {"mpiolist", "/help"},
      {"mpiolist", "-HELP"},
      {"mpiolist", "-?"},
      {"mpiolist", "/?"},
      {"mpiolist", "/?x"},
      {"mpiolist", ""},
      {"mpiolist", "01"},
      {"mpiolist", "MPIO_DISK"},
  };
  for (const auto& words : commands) {
    MpiolistFixture f;
    EXPECT_EQ(f.Run(words), 0);
    EXPECT_EQ(f.out.Text(), kUsage) << words.size() << " " << words.back();
    EXPECT_EQ(f.runtime.locator->resource, L"") << words.back();  // no connection
  }
}

TEST(RunMpiolist, SelectsTheClassNamespaceAndCredentials) {
  struct Case {
    std::vector<const char*> words;
    const wchar_t* className;
    std::wstring resource;
    std::optional<std::wstring> user;
    std::optional<std::wstring> password;
  } cases[] = {
      {{"mpiolist", "0"}, L"MsDiskDriver_Performance", L"root\\wmi", {}, {}},
      {{"mpiolist", "mpio_disk_info"}, L"MPIO_DISK_INFO", L"root\\wmi", {}, {}},
      {{"mpiolist", "MPIO_PATH_INFORMATION"}, L"MPIO_PATH_INFORMATION", L"root\\wmi", {}, {}},
      {{"mpiolist", "3"}, L"MPIO_CONTROLLER_CONFIGURATION", L"root\\wmi", {}, {}},
      {{"mpiolist", "4", "host"}, L"MPIO_TIMERS_COUNTERS", L"\\\\host\\root\\wmi", {}, {}},
      {{"mpiolist", "5", "\\\\h"}, L"MPIO_GET_DESCRIPTOR", L"\\\\h\\root\\wmi", {}, {}},
      {{"mpiolist", "5", "\\h"}, L"MPIO_GET_DESCRIPTOR", L"\\h\\root\\wmi", {}, {}},
      {{"mpiolist", "1", "h", "DOM\\u", "pw"},
       L"MPIO_DISK_INFO",
       L"\\\\h\\root\\wmi",
       L"DOM\\u",
       L"pw"},
  };
  for (const Case& c : cases) {
    MpiolistFixture f;
    f.services().classes[c.className] = std::make_shared<TestObject>(c.className);
    EXPECT_EQ(f.Run(c.words), 0);
    EXPECT_EQ(f.runtime.locator->resource, c.resource);
    EXPECT_EQ(f.runtime.locator->user, c.user);
    EXPECT_EQ(f.runtime.locator->password, c.password);
    EXPECT_EQ(f.services().enumerated, c.className);
    EXPECT_EQ(f.out.Text(), "<ROOT\\WMI>\n  " + Narrow(c.className) + "\n");
  }

  MpiolistFixture f;
  std::string machine(300, 'm');
  f.Run({"mpiolist", "1", machine.c_str()});
  EXPECT_EQ(f.runtime.locator->resource, L"\\\\" + std::wstring(257, L'm'));
}

TEST(RunMpiolist, ReturnsZeroAfterAFailure) {
  MpiolistFixture f;
  f.runtime.locator->connect = platform::MakeHResult(0x80041064);
  EXPECT_EQ(f.Run({"mpiolist", "1"}), 0);
  EXPECT_EQ(f.out.Text(),
            "ConnectServer failed\nFunctionReturn: 0x80041064 (0x80041064) \n"
            "Abnormal Termination\n");
}

// A multipath disk as the framework describes it, with two drives.
ObjectPtr DiskInfo() {
  auto disk = std::make_shared<TestObject>(L"MPIO_DISK_INFO");
  disk->Add(L"Extra", Value::I4(1));  // not in the class's list
  disk->Add(L"InstanceName", Value::Bstr(L"MPIO\\Disk_0"), cim::kString).key = true;
  disk->Add(L"NumberDrives", Value::I4(2), cim::kUint32);
  std::vector<Value> drives;
  for (int i = 0; i < 2; ++i) {
    auto drive = std::make_shared<TestObject>(L"MPIO_DRIVE_INFO");
    drive->Add(L"DsmName", Value::Bstr(L"dsm"), cim::kString);
    drive->Add(L"SerialNumber", Value::Bstr(L"SN" + std::to_wstring(i)), cim::kString);
    drive->Add(L"Name", Value::Bstr(L"MPIO Disk" + std::to_wstring(i)), cim::kString);
    drive->Add(L"NumberPaths", Value::I4(8), cim::kUint32);
    drives.push_back(Value::Unknown(drive));
  }
  disk->Add(L"DriveInfo", Value::Array(vt::kUnknown, std::move(drives)),
            cim::kObject | cim::kArray);
  return disk;
}

TEST(RunMpiolist, PrintsEachInstanceWithItsClassList) {
  MpiolistFixture f;
  f.services().classes[L"MPIO_DISK_INFO"] = std::make_shared<TestObject>(L"MPIO_DISK_INFO");
  f.services().enumerator->objects = {DiskInfo(), DiskInfo()};
  const std::string instance =
      "  MPIO_DISK_INFO\n"
      "    InstanceName* = \"MPIO\\Disk_0\"\n"
      "    NumberDrives = 0x2\n"
      "    DriveInfo = \n"
      "      instance of MPIO_DRIVE_INFO {\n"
      "        NumberPaths = 0x8\n"
      "        Name = \"MPIO Disk0\"\n"
      "        SerialNumber = \"SN0\"\n"
      "        DsmName = \"dsm\"\n"
      "       }\n"
      "      instance of MPIO_DRIVE_INFO {\n"
      "        NumberPaths = 0x8\n"
      "        Name = \"MPIO Disk1\"\n"
      "        SerialNumber = \"SN1\"\n"
      "        DsmName = \"dsm\"\n"
      "       }\n"
      "\n";
  EXPECT_EQ(f.Run({"mpiolist", "1"}), 0);
  EXPECT_EQ(f.out.Text(), "<ROOT\\WMI>\n" + instance + instance);
  // A second command in the same process indents the same way.
  f.out.Clear();
  f.services().enumerator = std::make_shared<TestEnumerator>();
  f.services().enumerator->objects = {DiskInfo()};
  EXPECT_EQ(f.Run({"mpiolist", "MPIO_DISK_INFO"}), 0);
  EXPECT_EQ(f.out.Text(), "<ROOT\\WMI>\n" + instance);
}

TEST(MpioEmbeddedClasses, PrintsAddressesWithoutAHeader) {
  ListingFixture f(MpioEmbeddedClasses());
  f.context.depth = 3;
  auto address = std::make_shared<TestObject>(L"PDOSCSI_ADDR");
  for (const wchar_t* name : {L"Lun", L"TargetId", L"ScsiPathId", L"PortNumber"}) {
    address->Add(name, Value::Int(vt::kUi1, 1), cim::kUint8);
  }
  auto pdo = std::make_shared<TestObject>(L"PDO_INFORMATION");
  pdo->Add(L"ScsiAddress", Value::Unknown(address), cim::kObject);
  pdo->Add(L"DeviceState", Value::I4(0), cim::kUint32);
  pdo->Add(L"PathIdentifier", Value::Bstr(L"77"), cim::kUint64);
  pdo->Add(L"IdentifierType", Value::I4(1), cim::kUint32);
  pdo->Add(L"IdentifierLength", Value::I4(2), cim::kUint32);
  pdo->Add(L"Identifier",
           Value::Array(vt::kUi1, {Value::Int(vt::kUi1, 0xA), Value::Int(vt::kUi1, 0)}),
           cim::kUint8 | cim::kArray);
  std::wstring text;
  ASSERT_TRUE(FormatEmbedded(f.listing, Value::Array(vt::kUnknown, {Value::Unknown(pdo)}), &text));
  EXPECT_EQ(Narrow(text),
            "        instance of PDO_INFORMATION {\n"
            "          ScsiAddress = \n"
            "            PortNumber = 0x1\n"
            "            ScsiPathId = 0x1\n"
            "            TargetId = 0x1\n"
            "            Lun = 0x1\n"
            "          DeviceState = 0x0\n"
            "          PathIdentifier = 0x4D\n"
            "          IdentifierType = 0x1\n"
            "          IdentifierLength = 0x2\n"
            "          Identifier = 0x0A\n"
            "         }\n");
}

}  // namespace
}  // namespace wmilist
