#include "dsm/health.h"

#include <gtest/gtest.h>

#include "dsm/fake_wmi_test.h"
#include "dsm/properties.h"

namespace dsm {
namespace {

using namespace dsm::testing;

constexpr uint8_t kOnline = 1;
constexpr uint8_t kFailed = 5;
constexpr uint8_t kStandby = 7;
constexpr uint8_t kOdd = 9;  // a state code the DSM does not define

// A path in `state`, primary or not; ids and addresses follow the order of
// creation so every path of a machine is distinct.
SanPath P(uint8_t state, bool primary = false) {
  static uint8_t next = 0;
  ++next;
  SanPath p;
  p.id = 0x100 + next;
  p.address = {next, 0, 5, 1};
  p.hba = 0x2100001B32000001;
  p.ctrl = 0x500601603BA01D2E;
  p.state = state;
  p.primary = primary;
  return p;
}

SanDevice D(int32_t policy, std::vector<SanPath> paths, uint8_t serialLow = 1) {
  return {L"D" + std::to_wstring(serialLow), policy, 2, 0x0123ABCD, serialLow, std::move(paths)};
}

class HealthTest : public FakeWmiTest {
 protected:
  HealthReport Evaluate(const std::vector<SanDevice>& devices, uint64_t minOnline = 0) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    Install(*wmi_, devices);
    lists_ = {};
    EXPECT_EQ(LoadDsmLists(lists_), 0);
    const PathIndex index(lists_.descriptors, lists_.perf);
    return EvaluateHealth(lists_, index, minOnline);
  }
  std::pair<int, std::string> Run(std::vector<const char*> words) {
    words.insert(words.begin(), "health");
    out_.Clear();
    int result = RunHealth(out_, static_cast<int>(words.size()), words.data());
    return {result, out_.Text()};
  }

  DsmLists lists_;
};

TEST_F(HealthTest, EachDeviceIsJudgedByItsPolicysNeeds) {
  constexpr int32_t kFailOver = 1, kRoundRobin = 2, kUnknownPolicy = 9;
  using S = HealthState;
  struct Case {
    const char* name;
    SanDevice device;
    uint64_t minOnline;
    S state;
    std::vector<std::string> reasons;
  } cases[] = {
      {"two online", D(kRoundRobin, {P(kOnline), P(kOnline)}), 0, S::kOk, {}},
      {"unknown policy, two online", D(kUnknownPolicy, {P(kOnline), P(kOnline)}), 0, S::kOk, {}},
      {"one online one standby",
       D(kRoundRobin, {P(kOnline), P(kStandby)}),
       0,
       S::kWarning,
       {"1 online path, 2 needed"}},
      {"one online one failed",
       D(kRoundRobin, {P(kOnline), P(kFailed)}),
       0,
       S::kWarning,
       {"1 online path, 2 needed", "1 failed path"}},
      {"three online one failed",
       D(kRoundRobin, {P(kOnline), P(kOnline), P(kOnline), P(kFailed)}),
       0,
       S::kWarning,
       {"1 failed path"}},
      {"all failed",
       D(kRoundRobin, {P(kFailed), P(kFailed)}),
       0,
       S::kCritical,
       {"no online path", "2 failed paths"}},
      {"all standby",
       D(kFailOver, {P(kStandby, true), P(kStandby)}),
       0,
       S::kCritical,
       {"no online path"}},
      {"no path at all", D(kRoundRobin, {}), 0, S::kCritical, {"no path"}},
      {"fail-over with its primary online",
       D(kFailOver, {P(kOnline, true), P(kStandby)}),
       0,
       S::kOk,
       {}},
      {"fail-over with its primary on standby",
       D(kFailOver, {P(kStandby, true), P(kOnline)}),
       0,
       S::kWarning,
       {"no online primary path"}},
      {"fail-over without a primary",
       D(kFailOver, {P(kOnline), P(kOnline)}),
       0,
       S::kWarning,
       {"no online primary path"}},
      {"a state the DSM does not define",
       D(kFailOver, {P(kOnline, true), P(kOdd), P(kOdd)}),
       0,
       S::kWarning,
       {"2 paths in an unknown state"}},
      {"a floor above the policy's",
       D(kRoundRobin, {P(kOnline), P(kOnline), P(kStandby)}),
       3,
       S::kWarning,
       {"2 online paths, 3 needed"}},
      {"a floor for fail-over",
       D(kFailOver, {P(kOnline, true), P(kStandby)}),
       2,
       S::kWarning,
       {"1 online path, 2 needed"}},
      {"a floor below the policy's does not lower it",
       D(kRoundRobin, {P(kOnline), P(kStandby)}),
       1,
       S::kWarning,
       {"1 online path, 2 needed"}},
      {"a floor that is met", D(kRoundRobin, {P(kOnline), P(kOnline), P(kOnline)}), 3, S::kOk, {}},
  };
  for (const Case& c : cases) {
    HealthReport report = Evaluate({c.device}, c.minOnline);
    EXPECT_EQ(report.state, c.state) << c.name;
    EXPECT_EQ(report.problems.empty(), c.state == S::kOk) << c.name;
    if (!report.problems.empty()) {
      EXPECT_EQ(report.problems[0].reasons, c.reasons) << c.name;
    }
  }
}

TEST_F(HealthTest, APathWithoutRecordIsInAnUnknownState) {
  Install(*wmi_, {D(2, {P(kOnline), P(kOnline), P(kOnline)})});
  auto perf = ReadObjectArray(*wmi_->instances[L"ORNDSM_PERFINFO"][0], L"PerfInfo").Elements;
  static_cast<FakeObject&>(*perf[2]).Set(L"Identifier", Bytes({9, 9, 9, 9}));
  ASSERT_EQ(LoadDsmLists(lists_), 0);
  const PathIndex index(lists_.descriptors, lists_.perf);
  HealthReport report = EvaluateHealth(lists_, index, 0);
  EXPECT_EQ(report.state, HealthState::kWarning);
  EXPECT_EQ(report.paths.unknown, 1u);
  EXPECT_EQ(report.problems[0].reasons, std::vector<std::string>{"1 path in an unknown state"});
}

TEST_F(HealthTest, LineNamesTheWorstFiveDevicesAndCountsEveryPath) {
  std::vector<SanDevice> devices;
  devices.push_back(D(2, {P(kOnline), P(kOnline)}, 0));  // OK
  for (uint8_t i = 1; i <= 4; ++i) devices.push_back(D(2, {P(kOnline), P(kStandby)}, i));
  devices.push_back(D(2, {P(kFailed)}, 5));
  devices.push_back(D(2, {P(kOdd), P(kOnline), P(kOnline)}, 6));
  devices.push_back(D(1, {}, 7));
  HealthReport report = Evaluate(devices);
  EXPECT_EQ(report.state, HealthState::kCritical);
  EXPECT_EQ(HealthLine(report),
            "DSM CRITICAL - 8 devices, 2 critical, 5 warning: 0123ABCD-05 (device 5): no online "
            "path, 1 failed path; N/A (device 7): no path; 0123ABCD-01 (device 1): 1 online path, "
            "2 needed; 0123ABCD-02 (device 2): 1 online path, 2 needed; 0123ABCD-03 (device 3): 1 "
            "online path, 2 needed; and 2 more | devices=8 paths=14 online=8 standby=4 failed=1 "
            "unknown=1 devices_critical=2 devices_warning=5");
}

TEST_F(HealthTest, LinesOfHealthyAndEmptyMachines) {
  struct Case {
    std::vector<SanDevice> devices;
    std::string line;
  } cases[] = {
      {{},
       "DSM OK - no multipath devices | devices=0 paths=0 online=0 standby=0 failed=0 unknown=0 "
       "devices_critical=0 devices_warning=0"},
      {{D(1, {P(kOnline, true), P(kStandby)})},
       "DSM OK - 1 device with 2 paths, 1 online | devices=1 paths=2 online=1 standby=1 "
       "failed=0 unknown=0 devices_critical=0 devices_warning=0"},
      {{D(2, {P(kOnline), P(kFailed), P(kOnline)})},
       "DSM WARNING - 1 device, 0 critical, 1 warning: 0123ABCD-01 (device 0): 1 failed path | "
       "devices=1 paths=3 online=2 standby=0 failed=1 unknown=0 devices_critical=0 "
       "devices_warning=1"},
  };
  for (const Case& c : cases) EXPECT_EQ(HealthLine(Evaluate(c.devices)), c.line);
}

TEST(HealthWordsTest, MinimumOfOnlinePaths) {
  struct Case {
    const char* word;
    std::optional<uint64_t> value;
  } cases[] = {
      {"0", 0},           {"3", 3},
      {"007", 7},         {"2147483647", 2147483647},
      {"2147483648", {}}, {"99999999999", {}},
      {"", {}},           {"-1", {}},
      {"+2", {}},         {"2x", {}},
      {" 2", {}},         {"0x10", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseMinOnline(c.word), c.value) << c.word;
}

TEST_F(HealthTest, ExitStatusIsTheState) {
  struct Case {
    std::vector<SanDevice> devices;
    int result;
    std::string head;
  } cases[] = {
      {{D(2, {P(kOnline), P(kOnline)})}, 0, "DSM OK - "},
      {{D(2, {P(kOnline), P(kStandby)})}, 1, "DSM WARNING - "},
      {{D(2, {P(kFailed), P(kStandby)})}, 2, "DSM CRITICAL - "},
  };
  for (const Case& c : cases) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    Install(*wmi_, c.devices);
    auto [result, text] = Run({});
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text.rfind(c.head, 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  }
}

TEST_F(HealthTest, UnknownWhenTheDsmCannotBeReadOrTheWordsFitNoForm) {
  Install(*wmi_, {D(2, {P(kOnline), P(kOnline)})});
  struct Case {
    std::vector<const char*> words;
    const wchar_t* fault;
    std::string line;
  } cases[] = {
      {{},
       L"ORNDSM_QueryLBPolicy",
       "DSM UNKNOWN - cannot read the DSM: CreateInstanceEnum of ORNDSM_QueryLBPolicy failed "
       "with WBEM_E_ACCESS_DENIED (0x80041003)\n"},
      {{"2"},
       L"ORNDSM_PERFINFO",
       "DSM UNKNOWN - cannot read the DSM: CreateInstanceEnum of ORNDSM_PERFINFO failed with "
       "WBEM_E_ACCESS_DENIED (0x80041003)\n"},
      {{},
       L"MPIO_GET_DESCRIPTOR",
       "DSM UNKNOWN - cannot read the DSM: CreateInstanceEnum of MPIO_GET_DESCRIPTOR failed "
       "with WBEM_E_ACCESS_DENIED (0x80041003)\n"},
      {{"two"}, nullptr, "DSM UNKNOWN - syntax error near two; usage: health [min-online-paths]\n"},
      {{"2", "3"},
       nullptr,
       "DSM UNKNOWN - syntax error near 3; usage: health [min-online-paths]\n"},
      {{"a\nb"},
       nullptr,
       "DSM UNKNOWN - syntax error near a?b; usage: health [min-online-paths]\n"},
  };
  for (const Case& c : cases) {
    wmi_->faults->openEnum.clear();
    if (c.fault != nullptr) wmi_->faults->openEnum[c.fault] = status::kWbemAccessDenied;
    auto [result, text] = Run(c.words);
    EXPECT_EQ(result, 3) << c.line;
    EXPECT_EQ(text, c.line);
  }
  WmiServices().reset();
  auto [result, text] = Run({});
  EXPECT_EQ(result, 3);
  EXPECT_EQ(text.rfind("DSM UNKNOWN - cannot connect to WMI: ", 0), 0u) << text;
}

}  // namespace
}  // namespace dsm
