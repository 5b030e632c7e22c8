// Remote machines of a machine file: reached by name through the
// simulated machine's own locator, each with the SAN and data its entry
// gives, or an empty SAN.
#include "platform/sim/remote_machines.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/sim/sim_machine.h"
#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {
namespace {

using wmi::ObjectPtr;
using wmi::Value;

constexpr const char* kMachine = R"({
  "san": {"adapters": [{"wwpn": "2100001B32814A10"}], "controllers": [{"wwpn": "50060E8007C3E100"}],
          "luns": [{"serial": "6A0B1C20-01", "paths": [{"adapter": 0, "controller": 0}]}]},
  "remote": {
    "SAN-B": {"user": "LAB\\admin", "password": "Secret1",
      "san": {"timers": {"retryCount": 5},
              "adapters": [{"port": 4, "wwpn": "2100001B32814B20"}],
              "controllers": [{"wwpn": "50060E8007C3F100"}],
              "luns": [{"serial": "7B1C2D30-01", "paths": [{"adapter": 0, "controller": 0}]},
                       {"serial": "7B1C2D30-02", "paths": [{"adapter": 0, "controller": 0, "lun": 2}]}]}},
    "san-c": {"wmi": {"ROOT\\WMI": {"classes": [{"name": "Extra"}], "instances": {"Extra": [{}]}}}}
  },
  "faults": [{"call": "Get", "target": "MPIO_TIMERS_COUNTERS", "method": "RetryInterval",
              "code": "0x80041001"}]
})";

class RemoteMachinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "/remote_machines_test.json";
    std::ofstream(path_, std::ios::binary) << kMachine;
    std::string error;
    machine_ = OpenMachine(path_, &error);
    ASSERT_NE(machine_, nullptr) << error;
    ASSERT_EQ(machine_->Wmi().CreateLocator(&locator_), 0);
  }
  void TearDown() override {
    if (machine_) machine_->Release();
  }

  /// The instances of `className` on the machine that `resource` reaches.
  HResult Instances(const wchar_t* resource, const wchar_t* className,
                    std::vector<ObjectPtr>* out) {
    std::wstring user = L"LAB\\admin", password = L"Secret1";
    const bool secured = std::wstring_view(resource).find(L"SAN-B") != std::wstring_view::npos;
    wmi::ServicesPtr services;
    HResult hr = locator_->ConnectServer(resource, secured ? &user : nullptr,
                                         secured ? &password : nullptr, &services);
    if (hr != status::kOk) return hr;
    wmi::EnumeratorPtr e;
    hr = services->CreateInstanceEnum(className, wmi::kFlagShallow, &e);
    if (hr != status::kOk) return hr;
    ObjectPtr o;
    uint32_t n = 0;
    while ((hr = e->Next(wmi::kInfinite, &o, &n)) == status::kOk && n == 1) out->push_back(o);
    return hr == status::kWbemSFalse ? status::kOk : hr;
  }

  std::string path_;
  std::unique_ptr<Machine> machine_;
  wmi::LocatorPtr locator_;
};

TEST_F(RemoteMachinesTest, EachMachineHasItsOwnRepository) {
  const struct {
    const wchar_t* resource;
    const wchar_t* className;
    HResult expected;
    size_t drives;  // NumberDrives of the one MPIO_DISK_INFO, or instances for other classes
    const wchar_t* server;
  } cases[] = {
      {L"root\\wmi", L"MPIO_DISK_INFO", status::kOk, 1, L"TOLLARD-SIM"},
      {L"\\\\SAN-B\\root\\wmi", L"MPIO_DISK_INFO", status::kOk, 2, L"SAN-B"},
      {L"\\\\SAN-B\\root\\wmi", L"MPIO_GET_DESCRIPTOR", status::kOk, 2, L"SAN-B"},
      // An entry without a SAN has an empty one: the classes, no disk.
      {L"\\\\SAN-C\\root\\wmi", L"MPIO_DISK_INFO", status::kOk, 0, L"SAN-C"},
      {L"\\\\SAN-C\\root\\wmi", L"MPIO_GET_DESCRIPTOR", status::kWbemNotSupported, 0, nullptr},
      {L"\\\\SAN-C\\root\\wmi", L"Extra", status::kOk, 1, L"SAN-C"},
      {L"root\\wmi", L"Extra", status::kWbemInvalidClass, 0, nullptr},
      {L"\\\\SAN-B\\root\\wmi", L"Extra", status::kWbemInvalidClass, 0, nullptr},
  };
  for (const auto& c : cases) {
    const std::string name = Narrow(c.resource) + " " + Narrow(c.className);
    std::vector<ObjectPtr> objects;
    ASSERT_EQ(Instances(c.resource, c.className, &objects), c.expected) << name;
    if (c.server == nullptr) continue;
    ASSERT_FALSE(objects.empty()) << name;
    Value v;
    ASSERT_EQ(objects[0]->Get(L"__SERVER", &v, nullptr), 0) << name;
    EXPECT_EQ(v.text, c.server) << name;
    if (std::wstring_view(c.className) == L"MPIO_DISK_INFO") {
      ASSERT_EQ(objects.size(), 1u) << name;
      ASSERT_EQ(objects[0]->Get(L"NumberDrives", &v, nullptr), 0) << name;
      EXPECT_EQ(static_cast<size_t>(v.integer), c.drives) << name;
    } else {
      EXPECT_EQ(objects.size(), c.drives) << name;
    }
  }
}

TEST_F(RemoteMachinesTest, TimersAndFaultsOfARemoteMachine) {
  std::vector<ObjectPtr> timers;
  ASSERT_EQ(Instances(L"\\\\SAN-B\\root\\wmi", L"MPIO_TIMERS_COUNTERS", &timers), 0);
  ASSERT_EQ(timers.size(), 1u);
  Value v;
  ASSERT_EQ(timers[0]->Get(L"RetryCount", &v, nullptr), 0);
  EXPECT_EQ(v.integer, 5);
  // The machine's faults hold for the objects of its remote machines too.
  EXPECT_EQ(timers[0]->Get(L"RetryInterval", &v, nullptr), status::kWbemFailed);
}

// The methods of the DSM are not carried out on a remote machine: its
// repository is a view that is never written back.
TEST_F(RemoteMachinesTest, RemoteRepositoriesAreReadOnly) {
  std::wstring user = L"LAB\\admin", password = L"Secret1";
  wmi::ServicesPtr services;
  ASSERT_EQ(locator_->ConnectServer(L"\\\\SAN-B\\root\\wmi", &user, &password, &services), 0);
  ObjectPtr out;
  EXPECT_EQ(services->ExecMethod(L"ORNDSM_WMI_METHODS", L"OrnDsmClearCounters", nullptr, &out),
            status::kWbemNotSupported);
}

}  // namespace
}  // namespace platform::sim
