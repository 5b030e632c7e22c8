#include "dsm/policy.h"

#include <gtest/gtest.h>

#include <random>

#include "cli/help.h"
#include "dsm/commands.h"
#include "dsm/fake_wmi_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;

SanPath Path(uint64_t id, uint8_t port, uint64_t hba, uint32_t weight = 0, bool primary = false) {
  SanPath p;
  p.id = id;
  p.address = {port, 0, 0, 1};
  p.hba = hba;
  p.weight = weight;
  p.primary = primary;
  return p;
}

std::string HelpText() {
  platform::StringOutput help;
  cli::PrintHelp(help);
  return help.Text();
}

class PolicyTest : public FakeWmiTest {
 protected:
  // Adapter port A carries four paths, B one: B is the least used.
  void SetUp() override {
    FakeWmiTest::SetUp();
    Install(*wmi_, {{L"MPIO\\Disk&0\\A",
                     1,
                     2,
                     0x0123ABCD,
                     1,
                     {Path(0x1a, 2, kHbaA, 7, true), Path(0x1b, 3, kHbaB, 8)}},
                    {L"B", 2, 2, 0x0123ABCD, 2, {Path(0x2a, 4, kHbaA), Path(0x2b, 5, kHbaA)}},
                    {L"C", 1, 1, 0x0123ABCD, 3, {Path(0x3a, 6, kHbaA)}}});
  }
  // Makes every call on device B's method object fail `times` times.
  void FailDeviceB(int times) {
    wmi_->execResult = [this, times](const ExecCall& call) {
      bool b = call.path == L"ORNDSM_WMI_METHODS.InstanceName=\"B\"";
      return b && failures_++ < times ? status::kWbemFailed : status::kOk;
    };
  }
  int failures_ = 0;
};

TEST_F(PolicyTest, PolicyWordsSelectTheNumberSent) {
  struct Case {
    const char* word;
    int32_t policy;  // 0: the long help, nothing sent
  } cases[] = {{"rou", 2}, {"roundrobins", 3},    {"FAILOVER", 1},
               {"dyn", 4}, {"Weigh", 5},          {"lea", 6},
               {"fa", 0},  {"VendorSpecific", 0}, {"roundrobinsubsetx", 0}};
  for (const Case& c : cases) {
    wmi_->calls.clear();
    out_.Clear();
    EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-02", c.word), 0) << c.word;
    if (c.policy == 0) {
      EXPECT_EQ(out_.Text(), HelpText()) << c.word;
      EXPECT_TRUE(wmi_->calls.empty()) << c.word;
      continue;
    }
    EXPECT_EQ(out_.Text(), "") << c.word;
    ASSERT_EQ(wmi_->calls.size(), 1u) << c.word;
    EXPECT_EQ(wmi_->calls[0].path, L"ORNDSM_WMI_METHODS.InstanceName=\"B\"");
    SentPolicy sent = DecodePolicy(wmi_->calls[0]);
    EXPECT_EQ(sent.policy, c.policy) << c.word;
    EXPECT_EQ(sent.failBack, 2) << c.word;
  }
}

TEST_F(PolicyTest, FailOverSendsTheWholeBlockWithTheLeastUsedPortPrimary) {
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-01", "failover"), 0);
  ASSERT_EQ(wmi_->calls.size(), 1u);
  EXPECT_EQ(wmi_->calls[0].path, L"ORNDSM_WMI_METHODS.InstanceName=\"MPIO\\\\Disk&0\\\\A\"");
  SentPolicy sent = DecodePolicy(wmi_->calls[0]);
  EXPECT_EQ(sent.version, 394544);
  EXPECT_EQ(sent.policy, 1);
  EXPECT_EQ(sent.count, 2);
  EXPECT_EQ(sent.failBack, 2);
  // 1a stays primary as loaded; 1b, through port B, is made primary too.
  EXPECT_EQ(sent.paths, (std::vector<SentPath>{{L"26", 7, 1}, {L"27", 8, 1}}));
}

TEST_F(PolicyTest, UnknownSerialOrNoRecordsSendNothing) {
  EXPECT_EQ(DevinfoSetOne(out_, "0123abcd-01", "RoundRobin"), 1);
  wmi_->instances[L"ORNDSM_PERFINFO"].clear();
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-01", "RoundRobin"), 1);
  EXPECT_EQ(DevinfoSetAll(out_, "RoundRobin"), 1);
  EXPECT_EQ(out_.Text(), "");
  EXPECT_TRUE(wmi_->calls.empty());
}

TEST_F(PolicyTest, FailBackIsSentOnlyForFailOverDevices) {
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-01", "FAILBACK-ON"), 0);
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-03", "failback-off"), 0);
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-02", "failback-on"), 0);
  EXPECT_EQ(out_.Text(), "  not fail-over: 0123ABCD-02\n");
  ASSERT_EQ(wmi_->calls.size(), 2u);
  SentPolicy on = DecodePolicy(wmi_->calls[0]);
  EXPECT_EQ(on.policy, 1);
  EXPECT_EQ(on.failBack, 1);
  EXPECT_EQ(on.paths, (std::vector<SentPath>{{L"26", 7, 1}, {L"27", 8, 0}}));
  SentPolicy off = DecodePolicy(wmi_->calls[1]);
  EXPECT_EQ(off.policy, 1);
  EXPECT_EQ(off.failBack, 2);
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-09", "failback-on"), 1);
}

TEST_F(PolicyTest, AllDevicesReportsEachOneAndFailsWhenOneFailed) {
  struct Case {
    const char* word;
    int failuresOfB;
    size_t calls;
    const char* text;
    int result;
  } cases[] = {
      {"RoundRobin", 0, 3, "0123ABCD-01 is set.\n0123ABCD-02 is set.\n0123ABCD-03 is set.\n", 0},
      {"RoundRobin", 2, 5, "0123ABCD-01 is set.\n0123ABCD-02 is set.\n0123ABCD-03 is set.\n", 0},
      {"RoundRobin", 99, 5, "0123ABCD-01 is set.\n0123ABCD-02 is not set.\n0123ABCD-03 is set.\n",
       1},
      {"failback-on", 0, 2,
       "0123ABCD-01 is set.\n  not fail-over: 0123ABCD-02\n0123ABCD-02 is set.\n"
       "0123ABCD-03 is set.\n",
       0},
  };
  for (const Case& c : cases) {
    wmi_->calls.clear();
    out_.Clear();
    failures_ = 0;
    FailDeviceB(c.failuresOfB);
    EXPECT_EQ(DevinfoSetAll(out_, c.word), c.result) << c.word << c.failuresOfB;
    EXPECT_EQ(out_.Text(), c.text) << c.word << c.failuresOfB;
    EXPECT_EQ(wmi_->calls.size(), c.calls) << c.word << c.failuresOfB;
  }
  out_.Clear();
  EXPECT_EQ(DevinfoSetAll(out_, "on"), 0);
  EXPECT_EQ(out_.Text(), HelpText());
}

TEST_F(PolicyTest, SendingFailuresAndTheirResults) {
  struct Case {
    const char* name;
    std::function<void(FakeServices&)> inject;
    int result;
    bool sent;
  } cases[] = {
      {"methods not enumerable",
       [](FakeServices& w) { w.faults->openEnum[L"ORNDSM_WMI_METHODS"] = status::kFail; }, 1,
       false},
      {"no method object", [](FakeServices& w) { w.instances[L"ORNDSM_WMI_METHODS"].clear(); }, 0,
       false},
      {"Next fails",
       [](FakeServices& w) {
         w.faults->next[L"ORNDSM_WMI_METHODS"] = {0, status::kFail};
       },
       1, false},
      {"method class comes without an object",
       [](FakeServices& w) { w.faults->getObject[L"ORNDSM_WMI_METHODS"] = status::kWbemSFalse; }, 1,
       false},
      {"policy class missing",
       [](FakeServices& w) {
         w.faults->getObject[L"ORNDSM_Load_Balance_Policy"] = status::kWbemNotFound;
       },
       1, false},
      {"path spawn fails",
       [](FakeServices& w) { w.faults->spawn[L"MPIO_DSM_PATH"] = status::kWbemOutOfMemory; }, 1,
       false},
      {"put refused",
       [](FakeServices& w) {
         w.faults->put[{L"ORNDSM_Load_Balance_Policy", L"DSM_Paths"}] = status::kWbemTypeMismatch;
       },
       1, false},
      {"ExecMethod fails",
       [](FakeServices& w) { w.execResult = [](const ExecCall&) { return status::kWbemFailed; }; },
       1, true},
      {"ExecMethod gives a success code",
       [](FakeServices& w) { w.execResult = [](const ExecCall&) { return status::kWbemSFalse; }; },
       0, true},
  };
  for (const Case& c : cases) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    Install(*wmi_, {{L"B", 2, 2, 0x0123ABCD, 2, {Path(0x2a, 4, kHbaA)}}});
    c.inject(*wmi_);
    EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-02", "Dynlqd"), c.result) << c.name;
    EXPECT_EQ(wmi_->calls.size(), c.sent ? 1u : 0u) << c.name;
  }
  EXPECT_EQ(out_.Text(), "");
}

TEST_F(PolicyTest, SnapshotLoadFailuresAreReturned) {
  for (const wchar_t* cls : {L"ORNDSM_PERFINFO", L"MPIO_GET_DESCRIPTOR", L"ORNDSM_QueryLBPolicy"}) {
    wmi_->faults->openEnum = {{cls, status::kWbemInvalidClass}};
    int expected = std::wstring(cls) == L"ORNDSM_PERFINFO" ? status::kWbemInvalidClass : 1;
    EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-01", "rou"), expected);
    EXPECT_EQ(DevinfoSetAll(out_, "rou"), expected);
  }
  EXPECT_EQ(out_.Text(), "");
  EXPECT_TRUE(wmi_->calls.empty());
}

class BlockShapeTest : public FakeWmiTest {
 protected:
  // One device with the given DSM_Paths elements and count; every non-null
  // element also gets its performance entry and descriptor.
  void InstallDevice(std::vector<SanPath> paths, int32_t count, std::vector<bool> nulls) {
    Install(*wmi_, {{L"D", 2, 2, 0x0123ABCD, 4, paths}});
    std::vector<ObjectPtr> elements;
    for (size_t i = 0; i < paths.size(); ++i) {
      elements.push_back(i < nulls.size() && nulls[i] ? nullptr
                                                      : DsmPath(*wmi_, paths[i].id, 1, false));
    }
    wmi_->instances[L"ORNDSM_QueryLBPolicy"][0] = wmi_->New(L"ORNDSM_QueryLBPolicy");
    static_cast<FakeObject&>(*wmi_->instances[L"ORNDSM_QueryLBPolicy"][0])
        .Set(L"InstanceName", Value::Bstr(L"D"))
        .Set(L"LoadBalancePolicy", Value::Unknown(PolicyObject(*wmi_, 2, 2, count, elements)));
  }
};

TEST_F(BlockShapeTest, NullElementIsSentAsAZeroEntry) {
  InstallDevice({Path(0x10, 1, kHbaA), Path(0x11, 2, kHbaA)}, 2, {false, true});
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-04", "rou"), 0);
  ASSERT_EQ(wmi_->calls.size(), 1u);
  EXPECT_EQ(DecodePolicy(wmi_->calls[0]).paths,
            (std::vector<SentPath>{{L"16", 1, 0}, {L"0", 0, 0}}));
}

TEST_F(BlockShapeTest, MoreThan128PathsAreSentWhole) {
  std::vector<SanPath> paths;
  for (uint8_t i = 0; i < 200; ++i) paths.push_back(Path(0x1000 + i, i, kHbaA));
  InstallDevice(paths, 200, {});
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-04", "rou"), 0);
  ASSERT_EQ(wmi_->calls.size(), 1u);
  SentPolicy sent = DecodePolicy(wmi_->calls[0]);
  EXPECT_EQ(sent.count, 200);
  ASSERT_EQ(sent.paths.size(), 200u);
  EXPECT_EQ(sent.paths[199].id, std::to_wstring(0x1000 + 199));
}

TEST_F(BlockShapeTest, CountBeyondWhatTheBlockCanHoldIsNeverSent) {
  InstallDevice({Path(0x10, 1, kHbaA)}, 100000, {});
  EXPECT_EQ(DevinfoSetOne(out_, "0123ABCD-04", "rou"), 1);
  EXPECT_TRUE(wmi_->calls.empty());
}

// The snapshot's lookups, walked literally over its lists.
struct Walk {
  const DeviceSnapshot& s;

  std::optional<uint64_t> ChoosePrimary(const std::string& serial) const {
    std::vector<std::pair<std::string, int>> tally;
    for (const PathPerf& p : s.Perf) {
      auto it = std::find_if(tally.begin(), tally.end(),
                             [&](const auto& t) { return t.first == p.HbaWwpn; });
      if (it == tally.end()) {
        tally.emplace_back(p.HbaWwpn, 1);
      } else {
        ++it->second;
      }
    }
    if (tally.empty()) return std::nullopt;
    auto least = tally.begin();
    for (auto it = tally.begin(); it != tally.end(); ++it) {
      if (it->second < least->second) least = it;
    }
    for (const PathPerf& p : s.Perf) {
      if (p.HbaWwpn != least->first || p.SerialNumber != serial) continue;
      for (const PathDescriptor& d : s.Descriptors) {
        if (d.ScsiAddressKey == p.ScsiAddressKey) return d.PathIdentifier;
      }
      return std::nullopt;
    }
    return std::nullopt;
  }
  uint64_t FailBackPathId(const std::string& serial) const {
    uint64_t id = 0;
    for (const PathPerf& p : s.Perf) {
      if (p.SerialNumber != serial) continue;
      for (const PathDescriptor& d : s.Descriptors) {
        if (d.ScsiAddressKey == p.ScsiAddressKey) {
          id = d.PathIdentifier;
          break;
        }
      }
    }
    return id;
  }
  std::vector<uint64_t> PathIdsOf(const std::string& serial) const {
    std::vector<uint64_t> ids;
    PathIndex join(s.Descriptors, s.Perf);
    for (const DsmDevice& device : s.Devices) {
      for (const DsmPathEntry& e : device.Paths) {
        const PathPerf* p = join.FindPathPerf(e.PathId);
        if (p != nullptr && p->SerialNumber == serial) ids.push_back(e.PathId);
      }
    }
    return ids;
  }
  int64_t BlockOf(uint64_t id) const {
    for (size_t b = 0; b < s.Blocks.size(); ++b) {
      const LbPolicyBlock& block = s.Blocks[b].Block;
      for (uint32_t i = 0; i < block.DSMPathCount; ++i) {
        if (block.Entries[i].DsmPathId == id) return int64_t(b);
      }
    }
    return -1;
  }
};

TEST(SnapshotIndex, AnswersAsAWalkOverTheLists) {
  std::mt19937 random(11);
  auto pick = [&](int n) { return int(random() % unsigned(n)); };
  for (int round = 0; round < 100; ++round) {
    DeviceSnapshot s;
    for (int i = pick(14); i > 0; --i) {
      PathPerf p;
      p.ScsiAddressKey = "K" + std::to_string(pick(8));
      p.HbaWwpn = "H" + std::to_string(pick(3));
      p.SerialNumber = "S" + std::to_string(pick(3));
      s.Perf.push_back(p);
    }
    for (int i = pick(14); i > 0; --i) {
      s.Descriptors.push_back({"K" + std::to_string(pick(8)), uint64_t(pick(7))});
    }
    for (int d = pick(4); d > 0; --d) {
      DsmDevice device;
      LbPolicyBlock block;
      for (int i = pick(4); i > 0; --i) {
        uint64_t id = uint64_t(pick(7));
        device.Paths.push_back({id, 0, false});
        block.Entries.push_back({id, 0, 0, 0});
      }
      block.DSMPathCount = uint32_t(block.Entries.size());
      s.Devices.push_back(device);
      s.Blocks.push_back({block, L""});
    }
    Walk walk{s};
    for (std::string serial : {"S0", "S1", "S2", "S3"}) {
      EXPECT_EQ(ChoosePrimaryPath(s, serial), walk.ChoosePrimary(serial)) << round;
      EXPECT_EQ(s.Index().FailBackPathId(serial), walk.FailBackPathId(serial)) << round;
      std::vector<uint64_t> ids;
      for (const DsmPathEntry& e : SerialPathList(s, serial)) ids.push_back(e.PathId);
      EXPECT_EQ(ids, walk.PathIdsOf(serial)) << round;
    }
    for (uint64_t id = 0; id < 8; ++id) EXPECT_EQ(s.Index().BlockOf(id), walk.BlockOf(id)) << round;
  }
}

TEST(ChoosePrimaryPath, TieGoesToThePortSeenFirst) {
  DeviceSnapshot s;
  s.Perf = {{.ScsiAddressKey = "K1", .HbaWwpn = "B", .SerialNumber = "S"},
            {.ScsiAddressKey = "K2", .HbaWwpn = "A", .SerialNumber = "S"}};
  s.Descriptors = {{"K2", 2}, {"K1", 1}};
  EXPECT_EQ(ChoosePrimaryPath(s, "S"), 1u);
  EXPECT_EQ(ChoosePrimaryPath(s, "T"), std::nullopt);
}

}  // namespace
}  // namespace dsm
