#include "platform/sim/san/san.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/demo_machine.h"
#include "platform/sim/wmi/sim_object.h"
#include "platform/sim/wmi/wmi_data.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;
using wmi::ObjectPtr;
using wmi::Value;

Json SmallSan() {
  return Json::parse(R"({
    "adapters": [{"port": 2, "wwpn": "2100001B32814A10"}, {"port": 3, "wwpn": "2101001b32a14a10"}],
    "controllers": [{"wwpn": "50060E8007C3E100"}, {"wwpn": "50060E8007C3E110"}],
    "luns": [
      {"serial": "6A0B1C20-01", "lun": 1, "paths": [
        {"adapter": 0, "controller": 0},
        {"id": "0x77030101", "adapter": 1, "controller": 1, "state": "standby", "weight": -5,
         "primary": true, "counters": {"bytesRead": 18446744073709551615, "reads": 7}}]},
      {"serial": "6A0B1C20-02", "policy": "FailOver", "failback": true, "paths": [
        {"adapter": 0, "controller": 1, "lun": 2}]}
    ]})");
}

TEST(SanModel, ReadsTopologyWithDefaults) {
  SanModel model;
  std::string error;
  ASSERT_TRUE(ParseSan(SmallSan(), &model, &error)) << error;
  ASSERT_EQ(model.luns.size(), 2u);
  const SanLun& first = model.luns[0];
  EXPECT_EQ(first.policy, 2u);
  EXPECT_EQ(first.failBack, 2u);
  EXPECT_EQ(first.instanceName,
            L"MPIO\\Disk&Ven_ORRIN&Prod_VDISK&Rev_0100\\1&7f6ac24&0&36413042314332303031_0");
  EXPECT_EQ(first.paths[0].id, 0x77020001u);  // port 2, target 0, LUN 1
  EXPECT_EQ(first.paths[1].state, 7);
  EXPECT_EQ(first.paths[1].weight, 0xFFFFFFFBu);
  EXPECT_EQ(first.paths[1].counters.bytesRead, UINT64_MAX);
  EXPECT_EQ(model.adapters[1].wwpn, 0x2101001B32A14A10u);
  EXPECT_EQ(model.luns[1].policy, 1u);
  EXPECT_EQ(model.luns[1].failBack, 1u);
  EXPECT_EQ(model.luns[1].paths[0].target, 1);  // the controller's index
  EXPECT_EQ(model.FindByInstance(L"mpio\\disk&ven_orrin&prod_vdisk&rev_0100\\1&7f6ac24&0&"
                                 L"36413042314332303031_0"),
            &model.luns[0]);
  ASSERT_TRUE(model.FindPath(0x77030101u).has_value());
  EXPECT_EQ(model.FindPath(0x77030101u)->path, 1u);
  EXPECT_EQ(model.FindBySerial("6A0B1C20-02"), &model.luns[1]);
}

TEST(SanModel, RefusesMalformedSections) {
  struct Case {
    const char* name;
    std::function<void(Json&)> change;
    const char* error;
  };
  const Case cases[] = {
      {"duplicate path id", [](Json& s) { s["luns"][1]["paths"][0]["id"] = "77030101"; },
       "san.luns[1] (6A0B1C20-02).paths[0]: path id 0x77030101 also used by "
       "san.luns[0].paths[1]"},
      {"unknown adapter", [](Json& s) { s["luns"][0]["paths"][1]["adapter"] = 2; },
       "san.luns[0] (6A0B1C20-01).paths[1].adapter: no adapter 2 (there are 2)"},
      {"lower-case serial", [](Json& s) { s["luns"][0]["serial"] = "6a0b1c20-01"; },
       "san.luns[0].serial: \"6a0b1c20-01\" is not 8 upper-case hexadecimal digits"},
      {"short serial", [](Json& s) { s["luns"][0]["serial"] = "6A0B1C2-01"; },
       "san.luns[0].serial"},
      {"bad wwpn", [](Json& s) { s["controllers"][1]["wwpn"] = "50060E8007C3E1"; },
       "san.controllers[1].wwpn: \"50060E8007C3E1\" is not 16 hexadecimal digits"},
      {"misspelt key", [](Json& s) { s["luns"][1]["polcy"] = 2; },
       "san.luns[1]: unknown key \"polcy\""},
      {"unknown state", [](Json& s) { s["luns"][0]["paths"][0]["state"] = "offline"; },
       "paths[0].state: \"offline\" is not one of Online, Failed, Standby"},
      {"duplicate serial", [](Json& s) { s["luns"][1]["serial"] = "6A0B1C20-01"; },
       "san.luns[1] (6A0B1C20-01): serial number also used by san.luns[0]"},
      {"same instance in other case",
       [](Json& s) {
         s["luns"][0]["instance"] = "MPIO\\Disk_A";
         s["luns"][1]["instance"] = "mpio\\disk_a";
       },
       "san.luns[1] (6A0B1C20-02): instance name also used by san.luns[0]"},
      {"same SCSI address",
       [](Json& s) {
         s["luns"][1]["paths"][0] = Json{{"id", "1"}, {"adapter", 0}, {"controller", 0}, {"lun", 1}};
       },
       "san.luns[1] (6A0B1C20-02).paths[0]: SCSI address 02000001 also used by "
       "san.luns[0].paths[0]"},
      {"weight too large", [](Json& s) { s["luns"][0]["paths"][0]["weight"] = 4294967296; },
       "paths[0].weight: 4294967296 is not an integer from -2147483648 to 4294967295"},
      {"port used twice", [](Json& s) { s["adapters"][1]["port"] = 2; },
       "san.adapters[1].port: SCSI port 2 is used twice"},
      {"paths not a list", [](Json& s) { s["luns"][1]["paths"] = 3; },
       "san.luns[1] (6A0B1C20-02).paths: expected a list"},
      {"path id not text", [](Json& s) { s["luns"][1]["paths"][0]["id"] = 5; },
       "paths[0].id: 5 is not a hexadecimal path id text"},
      {"section not an object", [](Json& s) { s = Json::array(); }, "san: expected an object"},
  };
  for (const Case& c : cases) {
    Json section = SmallSan();
    c.change(section);
    SanModel model;
    std::string error;
    EXPECT_FALSE(ParseSan(section, &model, &error)) << c.name;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
  }
}

TEST(SanModel, TextForms) {
  std::array<uint8_t, 5> bytes{};
  EXPECT_TRUE(ParseSerial("600A0B80-2C", &bytes));
  EXPECT_EQ(bytes, (std::array<uint8_t, 5>{0x60, 0x0A, 0x0B, 0x80, 0x2C}));
  EXPECT_FALSE(ParseSerial("600A0B80:2C", &bytes));
  EXPECT_FALSE(ParseSerial("600A0B80-2G", &bytes));
  EXPECT_EQ(ParsePathId("0x77020001"), 0x77020001u);
  EXPECT_EQ(ParsePathId("FFFFFFFFFFFFFFFF"), UINT64_MAX);
  EXPECT_FALSE(ParsePathId("1FFFFFFFFFFFFFFFF").has_value());
  EXPECT_FALSE(ParsePathId("0x").has_value());
  EXPECT_EQ(PathIdText(0x1a), "0x0000001A");
  EXPECT_EQ(PathIdText(0x100000000), "0x100000000");
  EXPECT_EQ(WwpnText(0x2100001B32814A10), "2100001B32814A10");
}

/// The demo machine installed in a namespace of its own.
struct Installed {
  MachineState state;
  Namespace ns{L"ROOT\\WMI"};
  std::shared_ptr<SanModel> model;

  explicit Installed(Json document) {
    state.Adopt(std::move(document), "");
    std::string error;
    EXPECT_TRUE(InstallSan(state, ns, &error, &model)) << error;
  }
  std::vector<ObjectPtr> Instances(const wchar_t* className) const {
    auto list = ns.Instances(className);
    return list ? list->All() : std::vector<ObjectPtr>{};
  }
};

Value Get(const ObjectPtr& object, const wchar_t* name, int32_t* cimType = nullptr) {
  Value v;
  EXPECT_EQ(object->Get(name, &v, cimType), status::kOk) << std::string(name, name + wcslen(name));
  return v;
}

std::vector<uint8_t> ByteArray(const Value& v) {
  EXPECT_EQ(v.type, wmi::vt::kArray | wmi::vt::kUi1);
  std::vector<uint8_t> bytes;
  for (const Value& e : v.elements) bytes.push_back(static_cast<uint8_t>(e.integer));
  return bytes;
}

TEST(SanClasses, PerformanceDescriptorAndPolicyAgree) {
  Installed m(DemoMachine());
  const auto policies = m.Instances(L"ORNDSM_QueryLBPolicy");
  const auto perf = m.Instances(L"ORNDSM_PERFINFO");
  const auto descriptors = m.Instances(L"MPIO_GET_DESCRIPTOR");
  ASSERT_EQ(policies.size(), m.model->luns.size());
  ASSERT_EQ(perf.size(), policies.size());
  ASSERT_EQ(descriptors.size(), policies.size());
  for (size_t l = 0; l < policies.size(); ++l) {
    const SanLun& lun = m.model->luns[l];
    EXPECT_EQ(Get(policies[l], L"InstanceName").text, lun.instanceName);
    EXPECT_EQ(Get(descriptors[l], L"InstanceName").text, lun.instanceName);
    const ObjectPtr policy = Get(policies[l], L"LoadBalancePolicy").object;
    const auto paths = Get(policy, L"DSM_Paths").elements;
    const auto entries = Get(perf[l], L"PerfInfo").elements;
    const auto pdos = Get(descriptors[l], L"PdoInformation").elements;
    ASSERT_EQ(paths.size(), lun.paths.size());
    ASSERT_EQ(entries.size(), paths.size());
    ASSERT_EQ(pdos.size(), paths.size());
    for (size_t p = 0; p < paths.size(); ++p) {
      int32_t cimType = 0;
      const Value id = Get(paths[p].object, L"DsmPathId", &cimType);
      EXPECT_EQ(id.type, wmi::vt::kBstr);
      EXPECT_EQ(cimType, wmi::cim::kUint64);
      EXPECT_EQ(Get(pdos[p].object, L"PathIdentifier").text, id.text);
      EXPECT_EQ(Get(entries[p].object, L"PathId").text, id.text);
      const auto identifier = ByteArray(Get(entries[p].object, L"Identifier"));
      ASSERT_EQ(identifier.size(), 26u);
      const ObjectPtr address = Get(pdos[p].object, L"ScsiAddress").object;
      const wchar_t* fields[] = {L"PortNumber", L"ScsiPathId", L"TargetId", L"Lun"};
      for (size_t b = 0; b < 4; ++b) {
        const Value v = Get(address, fields[b]);
        EXPECT_EQ(v.type, wmi::vt::kUi1);
        EXPECT_EQ(v.integer, identifier[b]) << fields[b];
      }
      EXPECT_TRUE(std::equal(lun.serialBytes.begin(), lun.serialBytes.end(),
                             identifier.begin() + 20));
      EXPECT_EQ(identifier[25], lun.paths[p].state);
      const SanAdapter& adapter = m.model->adapters[lun.paths[p].adapter];
      EXPECT_EQ(identifier[4], adapter.wwpn >> 56);
      EXPECT_EQ(identifier[11], adapter.wwpn & 0xFF);
      EXPECT_EQ(Get(paths[p].object, L"PathWeight", &cimType).type, wmi::vt::kI4);
      EXPECT_EQ(cimType, wmi::cim::kUint32);
    }
  }
}

// Every property of the instance and of its embedded objects reads as the
// VARIANT type WMI gives its CIM type, none of them null.
void ExpectTypedValues(const ObjectPtr& object, const std::string& where) {
  std::vector<std::wstring> names;
  ASSERT_EQ(object->GetNames(wmi::kFlagNonSystemOnly, &names), status::kOk);
  for (const std::wstring& name : names) {
    const std::string at = where + "." + Narrow(name);
    int32_t cimType = 0;
    const Value v = Get(object, name.c_str(), &cimType);
    const int32_t element = cimType & ~wmi::cim::kArray;
    const bool array = (cimType & wmi::cim::kArray) != 0;
    EXPECT_EQ(v.type, VariantTypeOf(element) | (array ? wmi::vt::kArray : 0)) << at;
    if (element != wmi::cim::kObject) continue;
    if (!array) {
      ASSERT_NE(v.object, nullptr) << at;
      ExpectTypedValues(v.object, at);
      continue;
    }
    for (const Value& e : v.elements) {
      ASSERT_NE(e.object, nullptr) << at;
      ExpectTypedValues(e.object, at + "[]");
    }
  }
}

TEST(SanClasses, DerivedPropertiesHaveTheirClassTypes) {
  Installed m(DemoMachine());
  for (const wchar_t* name : {L"ORNDSM_QueryLBPolicy", L"ORNDSM_PERFINFO", L"MPIO_GET_DESCRIPTOR",
                              L"ORNDSM_WMI_METHODS", L"DSM_LB_Operations"}) {
    const auto instances = m.Instances(name);
    ASSERT_EQ(instances.size(), m.model->luns.size());
    for (const ObjectPtr& instance : instances) ExpectTypedValues(instance, Narrow(name));
  }
}

TEST(SanClasses, InstancesKeepWhatTheyShowedWhenFetched) {
  Installed m(DemoMachine());
  const ObjectPtr before = m.ns.Instances(L"ORNDSM_PERFINFO")->At(0);
  m.model->luns[0].paths[0].counters.reads = 12345;
  const ObjectPtr after = m.ns.Instances(L"ORNDSM_PERFINFO")->At(0);
  auto reads = [](const ObjectPtr& perf) {
    return Get(Get(perf, L"PerfInfo").elements.at(0).object, L"NumberReads").integer;
  };
  EXPECT_NE(reads(before), 12345);
  EXPECT_EQ(reads(after), 12345);
  // A value put into a derived instance replaces the derived one.
  ASSERT_EQ(before->Put(L"NumberDevices", Value::I4(77), 0), status::kOk);
  EXPECT_EQ(Get(before, L"NumberDevices").integer, 77);
  EXPECT_EQ(Get(after, L"NumberDevices").integer, 4);
  std::wstring key;
  for (wchar_t c : m.model->luns[0].instanceName) {
    key += c == L'\\' ? L"\\\\" : std::wstring(1, c);
  }
  EXPECT_EQ(Get(after, L"__RELPATH").text, L"ORNDSM_PERFINFO.InstanceName=\"" + key + L"\"");
}

TEST(SanClasses, DeviceIdentificationPageCarriesTheSerial) {
  SanLun lun;
  ASSERT_TRUE(ParseSerial("6A0B1C20-05", &lun.serialBytes));
  lun.vendor = "ORRIN";
  lun.product = "VDISK";
  const auto page = DeviceIdentificationPage(lun, 2);
  ASSERT_EQ(page.size(), 60u);
  EXPECT_EQ(page[1], 0x83);
  EXPECT_EQ(page[3], 0x38);
  EXPECT_EQ(page[7], 16);          // the first designator is 16 bytes long
  EXPECT_EQ(page[8] >> 4, 6);      // NAA 6
  EXPECT_EQ(page[19], 0x6A);       // serial bytes from offset 19
  EXPECT_EQ(page[23], 0x05);
  EXPECT_EQ(page[59], 2);          // relative target port
}

TEST(SanClasses, NoSectionMeansNoClasses) {
  Installed m(Json::object());
  EXPECT_FALSE(m.ns.Instances(L"ORNDSM_QueryLBPolicy").has_value());
  Installed empty(Json{{"san", Json::object()}});
  ASSERT_TRUE(empty.ns.Instances(L"ORNDSM_QueryLBPolicy").has_value());
  EXPECT_TRUE(empty.Instances(L"ORNDSM_QueryLBPolicy").empty());
  EXPECT_EQ(empty.Instances(L"MPIO_DISK_INFO").size(), 1u);
}

TEST(SanClasses, ListingClassesDescribeTheDemo) {
  Installed m(DemoMachine());
  const auto config = m.Instances(L"ORNDSM_CONFIGINFO");
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(Get(config[0], L"NumberMPGroups").integer, 6);
  EXPECT_EQ(Get(config[0], L"NumberFOGroups").integer, 2);
  EXPECT_EQ(Get(config[0], L"LoadBalancePolicy").elements.size(), 6u);
  const auto ids = m.Instances(L"Dsm_QueryUniqueId");
  ASSERT_EQ(ids.size(), 6u);
  EXPECT_EQ(Get(ids[0], L"DsmUniqueId").text, std::to_wstring(0x6A0B1C2001ull));
  const auto v2 = m.Instances(L"DSM_QueryLBPolicy_V2");
  ASSERT_EQ(v2.size(), 6u);
  const ObjectPtr policy = Get(v2[0], L"LoadBalancePolicy").object;
  const ObjectPtr path = Get(policy, L"DSM_Paths").elements.at(0).object;
  EXPECT_EQ(Get(path, L"SymmetricLUA").type, wmi::vt::kUi1);
  for (const wchar_t* name : {L"MPIO_DISK_INFO", L"MPIO_PATH_INFORMATION",
                              L"MPIO_CONTROLLER_CONFIGURATION", L"MPIO_TIMERS_COUNTERS"}) {
    EXPECT_EQ(m.Instances(name).size(), 1u);
  }
  const auto paths = Get(m.Instances(L"MPIO_PATH_INFORMATION")[0], L"PathList").elements;
  EXPECT_EQ(paths.size(), 24u);
  const auto disks = m.Instances(L"MsDiskDriver_Performance");
  ASSERT_EQ(disks.size(), 6u);
  EXPECT_EQ(Get(disks[0], L"DeviceName").text, L"\\Device\\Harddisk1\\DR1");
}

}  // namespace
}  // namespace platform::sim
