#include "dsm/model.h"

#include <gtest/gtest.h>

#include <random>

#include "dsm/fake_wmi_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;

TEST(FillFromIdentifier, CutsFieldsAndLeavesMissingOnesEmpty) {
  std::vector<uint8_t> full = {0x02, 0x00, 0x05, 0x01, 0x21, 0x00, 0x00, 0x1B, 0x32,
                               0x0A, 0x0B, 0x0C, 0x50, 0x06, 0x01, 0x60, 0x3B, 0xA0,
                               0x1D, 0x2E, 0x01, 0x23, 0xAB, 0xCD, 0x01, 0x07, 0xFF};
  struct Case {
    size_t bytes;
    const char* key;
    const char* hba;
    const char* ctrl;
    const char* serial;
    const char* state;
  } cases[] = {
      {27, "02000501", "2100001B320A0B0C", "500601603BA01D2E", "0123ABCD-01", "Standby"},
      {26, "02000501", "2100001B320A0B0C", "500601603BA01D2E", "0123ABCD-01", "Standby"},
      {25, "02000501", "2100001B320A0B0C", "500601603BA01D2E", "0123ABCD-01", "Unknown"},
      {24, "02000501", "2100001B320A0B0C", "500601603BA01D2E", "", "Unknown"},
      {12, "02000501", "2100001B320A0B0C", "", "", "Unknown"},
      {11, "02000501", "", "", "", "Unknown"},
      {3, "", "", "", "", "Unknown"},
      {0, "", "", "", "", "Unknown"},
  };
  for (const Case& c : cases) {
    PathPerf record;
    FillFromIdentifier(std::vector<uint8_t>(full.begin(), full.begin() + long(c.bytes)), record);
    EXPECT_EQ(record.ScsiAddressKey, c.key) << c.bytes;
    EXPECT_EQ(record.HbaWwpn, c.hba) << c.bytes;
    EXPECT_EQ(record.CtrlPortWwpn, c.ctrl) << c.bytes;
    EXPECT_EQ(record.SerialNumber, c.serial) << c.bytes;
    EXPECT_EQ(record.State, c.state) << c.bytes;
  }
}

// The join walked literally, as the index must answer it.
const PathPerf* WalkFindPathPerf(uint64_t id, const std::vector<PathDescriptor>& descriptors,
                                 const std::vector<PathPerf>& perf) {
  if (id == 0) return nullptr;
  for (const PathDescriptor& d : descriptors) {
    if (d.PathIdentifier != id) continue;
    for (const PathPerf& p : perf) {
      if (p.ScsiAddressKey == d.ScsiAddressKey) return &p;
    }
  }
  return nullptr;
}

TEST(PathIndex, GivesTheFirstMatchOfAWalkOverTheLists) {
  std::mt19937 random(7);
  auto pick = [&](int n) { return int(random() % unsigned(n)); };
  for (int round = 0; round < 50; ++round) {
    // Few ids and keys, so duplicates, misses and id 0 are common.
    std::vector<PathDescriptor> descriptors;
    std::vector<PathPerf> perf;
    for (int i = pick(12); i > 0; --i) {
      descriptors.push_back({"K" + std::to_string(pick(8)), uint64_t(pick(6))});
    }
    for (int i = pick(12); i > 0; --i) {
      PathPerf p;
      p.ScsiAddressKey = "K" + std::to_string(pick(8));
      perf.push_back(p);
    }
    PathIndex index(descriptors, perf);
    for (uint64_t id = 0; id < 7; ++id) {
      EXPECT_EQ(index.FindPathPerf(id), WalkFindPathPerf(id, descriptors, perf)) << id;
    }
    for (int k = 0; k < 9; ++k) {
      std::string key = "K" + std::to_string(k);
      const PathDescriptor* first = nullptr;
      for (const PathDescriptor& d : descriptors) {
        if (d.ScsiAddressKey == key) {
          first = &d;
          break;
        }
      }
      EXPECT_EQ(index.FirstDescriptorWithKey(key), first) << key;
    }
  }
}

TEST(DecodePolicyInstance, FillsTheBlockByArrayIndex) {
  FakeServices wmi;
  struct Case {
    const char* name;
    int32_t count;
    int32_t lower;
    bool withNull;
    size_t paths;
    size_t entries;
    bool whole;
  } cases[] = {
      {"as reported", 3, 0, false, 3, 3, true},
      {"null element keeps a zero entry", 3, 0, true, 2, 3, true},
      {"more elements than the count", 2, 0, false, 3, 2, true},
      {"count beyond the elements", 5, 0, false, 3, 5, true},
      {"lower bound 1", 3, 1, false, 3, 3, true},
      {"absurd count", -1, 0, false, 3, LbPolicyBlock::kMinBlockEntries, false},
      // Elements far out leave holes, not room: the block stays small.
      {"absurd count and lower bound", -1, INT32_MAX, false, 3, LbPolicyBlock::kMinBlockEntries,
       false},
  };
  for (const Case& c : cases) {
    std::vector<ObjectPtr> paths = {DsmPath(wmi, 11, 5, true), DsmPath(wmi, 12, 6, false),
                                    DsmPath(wmi, 13, 7, false)};
    if (c.withNull) paths[1] = nullptr;
    auto lb = PolicyObject(wmi, 1, 2, c.count, {});
    lb->Set(L"DSM_Paths", Objects(paths, c.lower));
    auto instance = wmi.New(L"ORNDSM_QueryLBPolicy");
    instance->Set(L"InstanceName", Value::Bstr(L"MPIO\\Disk&0_0"))
        .Set(L"LoadBalancePolicy", Value::Unknown(lb));
    DecodedDevice d = DecodePolicyInstance(*instance);
    EXPECT_EQ(d.InstanceName, L"MPIO\\Disk&0_0") << c.name;
    EXPECT_EQ(d.Device.PolicyName, "FailOver") << c.name;
    EXPECT_EQ(d.Device.FailBackWord, "failback-off") << c.name;
    EXPECT_EQ(d.Device.Paths.size(), c.paths) << c.name;
    EXPECT_EQ(d.Block.DSMPathCount, uint32_t(c.count)) << c.name;
    ASSERT_EQ(d.Block.Entries.size(), c.entries) << c.name;
    EXPECT_EQ(d.Block.Whole(), c.whole) << c.name;
    // Element k stands at index lower + k.
    if (size_t(c.lower) < d.Block.Entries.size()) {
      const LbPathEntry& first = d.Block.Entries[size_t(c.lower)];
      EXPECT_EQ(first.DsmPathId, 11u) << c.name;
      EXPECT_EQ(first.PathWeight, 5u) << c.name;
      EXPECT_EQ(first.PrimaryPath, 1u) << c.name;
    }
    if (c.withNull) {
      EXPECT_EQ(d.Block.Entries[1].DsmPathId, 0u) << c.name;
    }
    if (c.count == 2) {
      EXPECT_EQ(d.Block.FindEntry(13), -1) << c.name;
    }
  }
}

TEST(DecodePolicyInstance, MissingPolicyObjectGivesAnEmptyDevice) {
  FakeServices wmi;
  auto instance = wmi.New(L"ORNDSM_QueryLBPolicy");
  instance->Set(L"LoadBalancePolicy", Value::I4(3));
  DecodedDevice d = DecodePolicyInstance(*instance);
  EXPECT_EQ(d.Device.PolicyName, "Unknown");
  EXPECT_EQ(d.Device.FailBackWord, "failback-on");
  EXPECT_TRUE(d.Device.Paths.empty());
  EXPECT_TRUE(d.Block.Entries.empty());
}

class LoaderTest : public FakeWmiTest {
 protected:
  void SetUp() override {
    FakeWmiTest::SetUp();
    Install(*wmi_, {{L"A", 2, 2, 0x1, 1, {{.id = 0x1a}, {.id = 0x1b}}},
                    {L"B", 1, 1, 0x2, 2, {{.id = 0x1b}, {.id = 0x2a}}}});
  }
};

TEST_F(LoaderTest, SearchFindsTheFirstDeviceHoldingThePath) {
  struct Case {
    uint64_t id;
    int result;
    const wchar_t* instance;
    uint32_t policy;
  } cases[] = {{0, 0, L"", 0}, {0x1b, 0, L"A", 2}, {0x2a, 0, L"B", 1}, {0x99, 2, L"", 0}};
  for (const Case& c : cases) {
    std::vector<DsmDevice> devices;
    LbPolicyBlock block;
    std::wstring name = L"stale";
    EXPECT_EQ(LoadDsmDevices(devices, c.id, &block, &name), c.result) << c.id;
    EXPECT_EQ(devices.size(), 2u) << c.id;
    EXPECT_EQ(name, c.instance) << c.id;
    EXPECT_EQ(block.LoadBalancePolicy, c.policy) << c.id;
  }
}

TEST_F(LoaderTest, FailedEnumerationsGiveTheirResults) {
  wmi_->faults->openEnum[L"ORNDSM_QueryLBPolicy"] = status::kWbemInvalidClass;
  wmi_->faults->openEnum[L"ORNDSM_PERFINFO"] = status::kWbemAccessDenied;
  wmi_->faults->openEnum[L"MPIO_GET_DESCRIPTOR"] = status::kWbemInvalidClass;
  std::vector<DsmDevice> devices;
  std::vector<PathPerf> perf;
  std::vector<PathDescriptor> descriptors;
  EXPECT_EQ(LoadDsmDevices(devices, 0x1a, nullptr, nullptr), 1);
  EXPECT_EQ(LoadPathPerf(perf), status::kWbemAccessDenied);
  EXPECT_EQ(LoadPathDescriptors(descriptors), 1);
}

// `devinfo all` walks a fresh performance list for its serial numbers
// only; the walk must give what LoadPathPerf gives, failures included.
TEST_F(LoaderTest, SerialsAreThoseOfThePerformanceList) {
  Install(*wmi_, {{L"C", 2, 2, 0x0123ABCD, 0x01, {{.id = 0x3a}, {.id = 0x3b}}},
                  {L"D", 2, 2, 0xFFFFFFFF, 0xFE, {{.id = 0x4a}}}});
  struct Case {
    const char* name;
    HResult openStatus;  // kOk: no fault
  } cases[] = {{"whole", status::kOk}, {"refused", status::kWbemAccessDenied}};
  for (const Case& c : cases) {
    if (c.openStatus != status::kOk) wmi_->faults->openEnum[L"ORNDSM_PERFINFO"] = c.openStatus;
    std::vector<PathPerf> perf;
    std::vector<std::string> serials;
    const int perfResult = LoadPathPerf(perf);
    EXPECT_EQ(LoadPathSerials(serials), perfResult) << c.name;
    ASSERT_EQ(serials.size(), perf.size()) << c.name;
    for (size_t i = 0; i < perf.size(); ++i) EXPECT_EQ(serials[i], perf[i].SerialNumber) << c.name;
    if (c.openStatus == status::kOk) {
      EXPECT_EQ(serials.size(), 7u);
      EXPECT_EQ(serials[4], "0123ABCD-01");
      EXPECT_EQ(serials[6], "FFFFFFFF-FE");
    }
  }
}

TEST_F(LoaderTest, NextFailingEndsTheListEarly) {
  wmi_->faults->next[L"ORNDSM_QueryLBPolicy"] = {1, status::kWbemTransportFailure};
  std::vector<DsmDevice> devices;
  EXPECT_EQ(LoadDsmDevices(devices, 0, nullptr, nullptr), 0);
  EXPECT_EQ(devices.size(), 1u);
}

}  // namespace
}  // namespace dsm
