#include "dsm/path_control.h"

#include <gtest/gtest.h>

#include "cli/help.h"
#include "dsm/commands.h"
#include "dsm/fake_wmi_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;

SanPath Path(uint64_t id, uint8_t port, uint64_t hba, uint32_t weight, bool primary) {
  SanPath p;
  p.id = id;
  p.address = {port, 0, 0, 0};
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

class PathControlTest : public FakeWmiTest {
 protected:
  // Adapter port A carries 1a, 1b, 2a and 2b: four paths of two devices.
  void SetUp() override {
    FakeWmiTest::SetUp();
    InstallSan();
  }
  void InstallSan() {
    Install(*wmi_,
            {{L"F",
              1,
              2,
              1,
              1,
              {Path(0x1a, 1, kHbaA, 10, true), Path(0x1b, 2, kHbaA, 20, true),
               Path(0x1c, 3, kHbaB, 30, false)}},
             {L"R", 2, 2, 1, 2, {Path(0x2a, 4, kHbaA, 0, false), Path(0x2b, 5, kHbaA, 0, true)}},
             {L"O", 2, 1, 1, 3, {Path(0x3a, 6, kHbaB, 0, false)}},
             {L"S", 1, 2, 1, 4, {Path(0x4a, 7, kHbaB, 0, true)}},
             {L"V", 7, 2, 1, 5, {Path(0x5a, 8, kHbaB, 0, false)}}});
  }
};

TEST(PolicyNumberOfName, ExactWordsOnlyAndOneOtherwise) {
  struct Case {
    const char* text;
    int32_t number;
  } cases[] = {{"FailOver", 1},   {"RoundRobin", 2},     {"RoundRobinSubset", 3},
               {"Dynlqd", 4},     {"Weighted", 5},       {"LeastBlocks", 6},
               {"roundrobin", 1}, {"VendorSpecific", 1}, {"Unknown", 1}};
  for (const Case& c : cases) EXPECT_EQ(PolicyNumberOfName(c.text), c.number) << c.text;
}

TEST_F(PathControlTest, RolesAndWeightsResendTheDevicesPolicy) {
  struct Case {
    const char* name;
    std::function<int(platform::Output&)> run;
    const wchar_t* device;
    int32_t policy;
    int32_t failBack;
    std::vector<SentPath> paths;
  } cases[] = {
      {"primary on FailOver leaves one primary",
       [](platform::Output& o) { return SetPathRole(o, 0x1c, true); },
       L"F",
       1,
       2,
       {{L"26", 10, 0}, {L"27", 20, 0}, {L"28", 30, 1}}},
      {"primary elsewhere changes one flag",
       [](platform::Output& o) { return SetPathRole(o, 0x2a, true); },
       L"R",
       2,
       2,
       {{L"42", 0, 1}, {L"43", 0, 1}}},
      {"fail-back on sends FailOver with fail-back",
       [](platform::Output& o) { return SetPathRole(o, 0x3a, true); },
       L"O",
       1,
       1,
       {{L"58", 0, 1}}},
      {"secondary of the only path",
       [](platform::Output& o) { return SetPathRole(o, 0x4a, false); },
       L"S",
       1,
       2,
       {{L"74", 0, 0}}},
      {"VendorSpecific is sent as FailOver",
       [](platform::Output& o) { return SetPathRole(o, 0x5a, true); },
       L"V",
       1,
       2,
       {{L"90", 0, 1}}},
      {"weight clears every primary flag",
       [](platform::Output& o) { return SetPathWeight(o, 0x1a, 50); },
       L"F",
       1,
       2,
       {{L"26", 50, 0}, {L"27", 20, 0}, {L"28", 30, 0}}},
      {"negative weight",
       [](platform::Output& o) { return SetPathWeight(o, 0x3a, -5); },
       L"O",
       2,
       2,
       {{L"58", -5, 0}}},
  };
  for (const Case& c : cases) {
    wmi_->calls.clear();
    EXPECT_EQ(c.run(out_), 0) << c.name;
    ASSERT_EQ(wmi_->calls.size(), 1u) << c.name;
    EXPECT_EQ(wmi_->calls[0].path,
              L"ORNDSM_WMI_METHODS.InstanceName=\"" + std::wstring(c.device) + L"\"")
        << c.name;
    SentPolicy sent = DecodePolicy(wmi_->calls[0]);
    EXPECT_EQ(sent.version, 394544) << c.name;
    EXPECT_EQ(sent.policy, c.policy) << c.name;
    EXPECT_EQ(sent.failBack, c.failBack) << c.name;
    EXPECT_EQ(sent.count, int32_t(c.paths.size())) << c.name;
    EXPECT_EQ(sent.paths, c.paths) << c.name;
  }
  EXPECT_EQ(out_.Text(), "");
}

TEST_F(PathControlTest, RefusalsSendNothing) {
  EXPECT_EQ(SetPathRole(out_, 0x1a, false), 0);  // FailOver with more paths
  EXPECT_EQ(out_.Text(), "");
  EXPECT_EQ(SetPathRole(out_, 0x99, true), 1);
  EXPECT_EQ(SetPathWeight(out_, 0, 5), 1);
  EXPECT_EQ(out_.Text(), "Bad PathId!\nBad PathId!\n");
  wmi_->faults->openEnum[L"ORNDSM_QueryLBPolicy"] = status::kWbemInvalidClass;
  EXPECT_EQ(SetPathRole(out_, 0x1a, true), 1);
  EXPECT_EQ(out_.Text(), "Bad PathId!\nBad PathId!\n");
  EXPECT_TRUE(wmi_->calls.empty());
}

TEST_F(PathControlTest, AdapterStateGoesInOneCallToTheFirstMethodObject) {
  EXPECT_EQ(SetAdapterPathState(out_, "2100001B32000001", "ONLINE"), 0);
  EXPECT_EQ(out_.Text(), "");
  ASSERT_EQ(wmi_->calls.size(), 1u);
  const ExecCall& call = wmi_->calls[0];
  EXPECT_EQ(call.path, L"ORNDSM_WMI_METHODS.InstanceName=\"F\"");
  EXPECT_EQ(call.method, L"OrnDsmSetPathStatus");
  ObjectPtr s = Typed(call.in, L"setPathStatus", wmi::vt::kUnknown, wmi::cim::kObject).object;
  EXPECT_EQ(Typed(s, L"Version", wmi::vt::kI4, 0).integer, 1);
  EXPECT_EQ(Typed(s, L"DSMPathStatusCount", wmi::vt::kI4, 0).integer, 4);
  std::vector<std::wstring> ids;
  for (const ObjectPtr& e : TypedObjects(s, L"DSM_PathStatus")) {
    ids.push_back(Typed(e, L"PathId", wmi::vt::kBstr, 0).text);
    EXPECT_EQ(Typed(e, L"Reserved", wmi::vt::kI4, 0).integer, 0);
    EXPECT_EQ(Typed(e, L"PathStatus", wmi::vt::kI4, 0).integer, 1);
  }
  EXPECT_EQ(ids, (std::vector<std::wstring>{L"26", L"27", L"42", L"43"}));
  EXPECT_EQ(wmi_->enumerations[L"DSM_LB_Operations"], 1);
}

TEST_F(PathControlTest, AdapterStateFailures) {
  using Inject = std::function<void(FakeServices&)>;
  struct Case {
    const char* name;
    const char* wwpn;
    const char* word;
    Inject inject;
    int result;
    std::string text;
    bool sent;
  } cases[] = {
      {"word not a state", "2100001B32000001", "offline", nullptr, 0, HelpText(), false},
      {"port in lower case", "2100001b32000001", "standby", nullptr, 0, HelpText(), false},
      {"no device", "2100001B32000001", "failed",
       [](FakeServices& w) { w.instances[L"ORNDSM_QueryLBPolicy"].clear(); }, 0, "", false},
      {"operations class missing", "2100001B32000001", "failed",
       [](FakeServices& w) {
         w.faults->openEnum[L"DSM_LB_Operations"] = status::kWbemInvalidClass;
       },
       status::kWbemInvalidClass, "", false},
      {"methods not enumerable", "2100001B32000001", "failed",
       [](FakeServices& w) { w.faults->openEnum[L"ORNDSM_WMI_METHODS"] = status::kAccessDenied; },
       status::kAccessDenied, "", false},
      {"no method object", "2100001B32000001", "failed",
       [](FakeServices& w) { w.instances[L"ORNDSM_WMI_METHODS"].clear(); }, 0, "", false},
      {"Next fails", "2100001B32000001", "failed",
       [](FakeServices& w) {
         w.faults->next[L"ORNDSM_WMI_METHODS"] = {0, status::kFail};
       },
       1, "", false},
      {"element spawn fails", "2100001B32000001", "failed",
       [](FakeServices& w) { w.faults->spawn[L"MPIO_DSM_PathStatus"] = status::kWbemOutOfMemory; },
       status::kWbemOutOfMemory, "", false},
      {"status class missing", "2100001B32000001", "failed",
       [](FakeServices& w) { w.faults->getObject[L"DSM_Set_Path_Status"] = status::kWbemNotFound; },
       1, "", false},
      {"call fails", "2100001B32000001", "failed",
       [](FakeServices& w) {
         w.execResult = [](const ExecCall&) { return status::kWbemInvalidParameter; };
       },
       1, "Set Path Status Failed \n-2147217400\n", true},
  };
  for (const Case& c : cases) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    InstallSan();
    out_.Clear();
    if (c.inject) c.inject(*wmi_);
    EXPECT_EQ(SetAdapterPathState(out_, c.wwpn, c.word), c.result) << c.name;
    EXPECT_EQ(out_.Text(), c.text) << c.name;
    EXPECT_EQ(wmi_->calls.size(), c.sent ? 1u : 0u) << c.name;
  }
}

}  // namespace
}  // namespace dsm
