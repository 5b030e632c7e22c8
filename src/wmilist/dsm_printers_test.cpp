#include "wmilist/dsm_printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dsm/fake_wmi_test.h"

namespace wmilist {
namespace {

using namespace dsm::testing;
namespace vt = platform::wmi::vt;

Value U32s(const std::vector<int64_t>& values, int32_t lower = 0) {
  std::vector<Value> elements;
  for (int64_t v : values) elements.push_back(Value::I4(static_cast<int32_t>(v)));
  return Value::Array(vt::kI4, std::move(elements), lower);
}

Value Text(const std::wstring& text) { return Value::Bstr(text); }

Value Counted(size_t n) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(i));
  return Bytes(bytes);
}

class DsmPrintersTest : public FakeWmiTest {
 protected:
  std::string Run(std::string_view word) {
    out_.Clear();
    EXPECT_EQ(PrintDsmInstances(word, out_), 0);
    return out_.Text();
  }
  FakeObject& Config(int64_t groups, Value policies, Value failBacks, Value reservations) {
    return wmi_->Add(L"ORNDSM_CONFIGINFO")
        .Set(L"InstanceName", Text(L"MPIO\\Disk_0"))
        .Set(L"NumberFOGroups", Value::I4(2))
        .Set(L"NumberMPGroups", Value::I4(static_cast<int32_t>(groups)))
        .Set(L"LoadBalancePolicy", std::move(policies))
        .Set(L"FailBack", std::move(failBacks))
        .Set(L"ReservationList", std::move(reservations));
  }
};

TEST_F(DsmPrintersTest, ConfigInfoBreaksThePolicyLineAfterEveryFourthElement) {
  Config(5, U32s({1, 2, 1, 1, 5}), U32s({2, 1, 2, 2, 2}), U32s({0, 1, 0, 0, 4294967295}));
  EXPECT_EQ(Run("ORNDSM_CONFIGINFO"),
            "\n"
            "  InstanceName: MPIO\\Disk_0\n"
            "  NumberFOGroups: 2\n"
            "  NumberMPGroups: 5\n"
            "  LoadBalancePolicy: FailOver, RoundRobin, FailOver, FailOver, \n"
            "Weighted\n"
            "  FailBack: 2, 1, 2, 2, 2\n"
            "  ReservationList: 0, 1, 0, 0, 4294967295\n"
            "\n");
}

// The three array lines of one configuration instance, by what the driver
// reported.
TEST_F(DsmPrintersTest, ConfigInfoArraysFollowTheCountNotTheBounds) {
  struct Row {
    const char* what;
    int64_t groups;
    Value policies;
    Value failBacks;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"unknown policy leaves an empty place", 3, U32s({1, 9, 7}), U32s({2, 2, 2}),
       "  LoadBalancePolicy: FailOver, , VendorSpecific\n  FailBack: 2, 2, 2\n"},
      {"policy 0 prints nothing either", 1, U32s({0}), U32s({1}),
       "  LoadBalancePolicy: \n  FailBack: 1\n"},
      {"count beyond the arrays", 6, U32s({2, 2}), U32s({1}),
       "  LoadBalancePolicy: RoundRobin, RoundRobin, , , \n, \n"
       "  FailBack: 1, 4294967295, 4294967295, 4294967295, 4294967295, 4294967295\n"},
      {"count below the arrays", 1, U32s({3, 4}), U32s({2, 2}),
       "  LoadBalancePolicy: RoundRobinSubset\n  FailBack: 2\n"},
      {"count 0", 0, U32s({3}), U32s({2}), "  LoadBalancePolicy: \n  FailBack: \n"},
      {"lower bound 1: index 0 is not in the array", 2, U32s({6, 4}, 1), U32s({5, 6}, 1),
       "  LoadBalancePolicy: , LeastBlocks\n  FailBack: 4294967295, 5\n"},
      {"texts are unreadable elements", 2, Value::Array(vt::kBstr, {Text(L"1"), Text(L"2")}),
       Value::Array(vt::kBstr, {Text(L"1")}),
       "  LoadBalancePolicy: , \n  FailBack: 4294967295, 4294967295\n"},
      {"a scalar instead of an array", 2, Value::I4(1), Value::Null(),
       "  LoadBalancePolicy: , \n  FailBack: 4294967295, 4294967295\n"},
  };
  for (const Row& row : rows) {
    wmi_->instances.clear();
    Config(row.groups, row.policies, row.failBacks, U32s({}));
    const std::string text = Run("orndsm_configinfo");
    const size_t from = text.find("  LoadBalancePolicy");
    const size_t to = text.find("  ReservationList");
    ASSERT_NE(to, std::string::npos) << row.what;
    EXPECT_EQ(text.substr(from, to - from), row.expected) << row.what;
  }
}

TEST_F(DsmPrintersTest, ConfigInfoCountOfAllOnesIsBounded) {
  Config(-1, U32s({1}), U32s({2}), U32s({0}));
  const std::string text = Run("ORNDSM_CONFIGINFO");
  EXPECT_NE(text.find("  NumberMPGroups: 4294967295\n"), std::string::npos);
  const size_t failBack = text.find("  FailBack: ");
  const std::string line = text.substr(failBack, text.find('\n', failBack) - failBack);
  size_t separators = 0;
  for (size_t at = line.find(", "); at != std::string::npos; at = line.find(", ", at + 1)) {
    ++separators;
  }
  EXPECT_EQ(separators, kMaxPlaceholderElements - 1);
}

TEST_F(DsmPrintersTest, ConfigInfoArrayStartingFarOutDoesNotRaiseTheBound) {
  Value far = U32s({1, 2});
  far.lower = 2000000000;
  Config(-1, far, U32s({2}), U32s({0}));
  const std::string text = Run("ORNDSM_CONFIGINFO");
  const size_t failBack = text.find("  FailBack: ");
  const std::string line = text.substr(failBack, text.find('\n', failBack) - failBack);
  EXPECT_EQ(static_cast<size_t>(std::count(line.begin(), line.end(), ',')),
            kMaxPlaceholderElements - 1);
}

TEST_F(DsmPrintersTest, PerfInfoPrintsEveryRecordWithItsDumps) {
  std::vector<uint8_t> vendor = {'O', 'R', 'R', 'I', 'N', ' ', ' ', ' '};
  auto record = wmi_->New(L"ORNDSM_PATH_PERFINFO");
  record->Set(L"NumberReads", Value::I4(-1))
      .Set(L"NumberWrites", Value::I4(7))
      .Set(L"BytesRead", Text(L"4096"))
      .Set(L"BytesWritten", Text(L"0"))
      .Set(L"PathId", Text(L"42"))
      .Set(L"PortNumber", Value::Int(vt::kUi1, 2))
      .Set(L"ScsiPathId", Value::Int(vt::kUi1, 0))
      .Set(L"TargetId", Value::Int(vt::kUi1, 255))
      .Set(L"Lun", Value::Int(vt::kUi1, 1))
      .Set(L"Identifier", Counted(26))
      .Set(L"Page80", Counted(3))
      .Set(L"Page83", Counted(20))
      .Set(L"PageD0", Counted(16))
      .Set(L"LMEI", Bytes({}))
      .Set(L"vendorid", Bytes(vendor))
      .Set(L"productid", Bytes({'V', 'D'}));
  wmi_->Add(L"ORNDSM_PERFINFO")
      .Set(L"InstanceName", Text(L"x_0"))
      .Set(L"NumberDevices", Value::I4(65537))
      .Set(L"PerfInfo", Objects({nullptr, record}));
  EXPECT_EQ(Run("ORNDSM_PERFINFO"),
            "  InstanceName: x_0\n"
            "  NumberDevices: 1\n"
            "    NumberReads: 4294967295\n"
            "    NumberWrites: 7\n"
            "    BytesRead: 0x1000\n"
            "    BytesWritten: 0x0\n"
            "    PathId: 0x0000002A\n"
            "    PortNumber: 2\n"
            "    ScsiPathId: 0\n"
            "    TargetId: 255\n"
            "    Lun: 1\n"
            "    Identifier: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
            "                10 11 12 13 14 15 16 17 18 19 \n"
            "    Page80: 00 01 02 \n"
            "    Page83: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
            "            10 11 12 13 \n"
            "    PageD0: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
            "            \n"
            "    LMEI: \n"
            "    vendorid: ORRIN   \n"
            "    productid: VD\n"
            "\n");
}

TEST_F(DsmPrintersTest, ByteDumpWrapsByIndexFromTheLowerBound) {
  std::vector<Value> bytes;
  for (int i = 0; i < 17; ++i) bytes.push_back(Value::Int(vt::kI1, i == 0 ? -1 : i));
  auto record = wmi_->New(L"ORNDSM_PATH_PERFINFO");
  record->Set(L"Page83", Value::Array(vt::kI1, bytes, 1));
  wmi_->Add(L"ORNDSM_PERFINFO").Set(L"PerfInfo", Objects({record}));
  const std::string text = Run("ORNDSM_PERFINFO");
  // Index 15 is the fifteenth element: the wrap comes after it.
  EXPECT_NE(text.find("    Page83: FF 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E \n"
                      "            0F 10 \n"),
            std::string::npos)
      << text;
}

TEST_F(DsmPrintersTest, PolicyPrintsTheEmbeddedObjectAndItsPaths) {
  auto path = [&](const wchar_t* id, int32_t weight, int32_t primary) {
    auto p = wmi_->New(L"MPIO_DSM_Path_V2");
    p->Set(L"DsmPathId", Text(id))
        .Set(L"PathWeight", Value::I4(weight))
        .Set(L"PrimaryPath", Value::I4(primary))
        .Set(L"OptimizedPath", Value::I4(1))
        .Set(L"PreferredPath", Value::I4(0))
        .Set(L"FailedPath", Value::I4(0))
        .Set(L"TargetPortGroup_State", Value::I4(2))
        .Set(L"ALUASupport", Value::I4(1))
        .Set(L"SymmetricLUA", Value::Int(vt::kUi1, 0))
        .Set(L"TargetPortGroup_Preferred", Value::Int(vt::kUi1, 1))
        .Set(L"TargetPortGroup_Identifier", Value::I4(0x10002))
        .Set(L"TargetPort_Identifier", Value::I4(3));
    return p;
  };
  auto policy = wmi_->New(L"DSM_Load_Balance_Policy_V2");
  policy->Set(L"Version", Value::I4(2))
      .Set(L"LoadBalancePolicy", Value::I4(4))
      .Set(L"DSMPathCount", Value::I4(2))
      .Set(L"Reserved", Value::I4(0))
      .Set(L"DSM_Paths", Objects({path(L"4294967296", 1, 1), nullptr, path(L"26", 0, 0)}));
  for (const wchar_t* name : {L"DSM_QueryLBPolicy", L"DSM_QueryLBPolicy_V2"}) {
    wmi_->Add(name)
        .Set(L"InstanceName", Text(L"MPIO\\Disk_1"))
        .Set(L"LoadBalancePolicy", Value::Unknown(policy));
  }
  const std::string head =
      "  InstanceName: MPIO\\Disk_1\n"
      "  Version: 2\n"
      "  LoadBalancePolicy: Dynlqd\n"
      "  DSMPathCount: 2\n"
      "  Reserved: 0\n";
  const std::string alua =
      "    OptimizedPath: 1\n"
      "    PreferredPath: 0\n"
      "    FailedPath: 0\n"
      "    TargetPortGroup_State: 2\n"
      "    ALUASupport: 1\n"
      "    SymmetricLUA: 0\n"
      "    TargetPortGroup_Preferred: 1\n"
      "    TargetPortGroup_Identifier: 2\n"
      "    TargetPort_Identifier: 3\n";
  const std::string first = "    DsmPathId: 0x100000000\n    PathWeight: 1\n    PrimaryPath: 1\n";
  const std::string second = "    DsmPathId: 0x0000001A\n    PathWeight: 0\n    PrimaryPath: 0\n";
  EXPECT_EQ(Run("DSM_QueryLBPolicy"), head + first + "\n" + second + "\n" + "\n");
  EXPECT_EQ(Run("dsm_querylbpolicy_v2"), head + first + alua + "\n" + second + alua + "\n" + "\n");
}

TEST_F(DsmPrintersTest, UniqueIdIsAskedForInTheDriversSpelling) {
  wmi_->Add(L"Dsm_QueryUniqueId")
      .Set(L"InstanceName", Text(L"MPIO\\Disk_2"))
      .Set(L"DsmUniqueId", Text(L"1"));
  EXPECT_EQ(Run("DSM_QUERYUNIQUEID"),
            "\n"
            "  InstanceName: MPIO\\Disk_2\n"
            "  DsmUniqueId: 0x0000000000000001\n"
            "\n");
}

// A driver's counted string may carry its terminator and padding: the text
// ends at its first NUL.
TEST_F(DsmPrintersTest, TextEndsAtItsFirstNul) {
  wmi_->Add(L"Dsm_QueryUniqueId")
      .Set(L"InstanceName", Text(std::wstring(L"MPIO\\Disk_2\0\0junk", 17)))
      .Set(L"DsmUniqueId", Text(L"2"));
  EXPECT_EQ(Run("DSM_QueryUniqueId"),
            "\n"
            "  InstanceName: MPIO\\Disk_2\n"
            "  DsmUniqueId: 0x0000000000000002\n"
            "\n");
}

// What prints for values that are missing or of another kind: nothing
// after the label, never a guess.
TEST_F(DsmPrintersTest, OddValuesPrintTheLabelOnly) {
  wmi_->Add(L"DSM_QueryLBPolicy")
      .Set(L"InstanceName", Value::I4(5))
      .Set(L"LoadBalancePolicy", Text(L"not an object"));
  auto policy = wmi_->New(L"DSM_Load_Balance_Policy");
  policy->Set(L"Version", Text(L"2"))
      .Set(L"LoadBalancePolicy", Value::Null())
      .Set(L"DSMPathCount", Value::Real(vt::kR8, 1.0))
      .Set(L"Reserved", Value::Bool(true))
      .Set(L"DSM_Paths", Value::Array(vt::kI4, {Value::I4(1)}));
  wmi_->Add(L"DSM_QueryLBPolicy").Set(L"LoadBalancePolicy", Value::Unknown(policy));
  const std::string labels =
      "  Version: \n  LoadBalancePolicy: \n  DSMPathCount: \n  Reserved: \n\n";
  EXPECT_EQ(Run("DSM_QueryLBPolicy"), "  InstanceName: \n" + labels + "  InstanceName: \n" +
                                          "  Version: \n  LoadBalancePolicy: \n" +
                                          "  DSMPathCount: \n  Reserved: 4294967295\n\n");
}

TEST_F(DsmPrintersTest, Hex64TakesTheDecimalTextAsStrtoullDoes) {
  struct Row {
    Value value;
    const char* expected;
  };
  const std::vector<Row> rows = {
      {Text(L"42"), "0x0000002A"},
      {Text(L"  +42"), "0x0000002A"},
      {Text(L"12abc"), "0x0000000C"},
      {Text(L"abc"), "0x00000000"},
      {Text(L""), "0x00000000"},
      {Text(L"-1"), "0xFFFFFFFFFFFFFFFF"},
      {Text(L"-2"), "0xFFFFFFFFFFFFFFFE"},
      {Text(L"18446744073709551615"), "0xFFFFFFFFFFFFFFFF"},
      {Text(L"18446744073709551616"), "0xFFFFFFFFFFFFFFFF"},
      {Text(L"4294967296"), "0x100000000"},
      {Value::I4(-1), "0xFFFFFFFFFFFFFFFF"},
      {Value::Int(vt::kUi1, 200), "0x000000C8"},
      {Value::Real(vt::kR8, 3.0), ""},
      {Value::Null(), ""},
  };
  for (const Row& row : rows) {
    wmi_->instances.clear();
    auto record = wmi_->New(L"ORNDSM_PATH_PERFINFO");
    record->Set(L"PathId", row.value);
    wmi_->Add(L"ORNDSM_PERFINFO").Set(L"PerfInfo", Objects({record}));
    const std::string text = Run("ORNDSM_PERFINFO");
    EXPECT_NE(text.find("    PathId: " + std::string(row.expected) + "\n"), std::string::npos)
        << platform::ToConsoleText(row.value.text) << "\n"
        << text;
  }
}

TEST_F(DsmPrintersTest, Hex64TextPadsToItsWidth) {
  EXPECT_EQ(Hex64Text(42, 8), "0x0000002A");
  EXPECT_EQ(Hex64Text(1, 16), "0x0000000000000001");
  EXPECT_EQ(Hex64Text(4096, 0), "0x1000");
  EXPECT_EQ(Hex64Text(0, 0), "0x0");
  EXPECT_EQ(Hex64Text(0xFEDCBA9876543210, 8), "0xFEDCBA9876543210");
}

TEST_F(DsmPrintersTest, FailuresAndUnknownWordsPrintNothing) {
  struct Row {
    const char* word;
    std::function<void(FakeFaults&)> fault;
  };
  const std::vector<Row> rows = {
      {"ORNDSM_CONFIG", [](FakeFaults&) {}},
      {"ORNDSM_CONFIGINFOX", [](FakeFaults&) {}},
      {"", [](FakeFaults&) {}},
      {"ORNDSM_CONFIGINFO",
       [](FakeFaults& f) { f.getObject[L"ORNDSM_CONFIGINFO"] = status::kWbemNotFound; }},
      {"ORNDSM_CONFIGINFO",
       [](FakeFaults& f) { f.openEnum[L"ORNDSM_CONFIGINFO"] = status::kWbemAccessDenied; }},
      {"DSM_QueryUniqueId",
       [](FakeFaults& f) { f.getObject[L"Dsm_QueryUniqueId"] = status::kWbemInvalidClass; }},
      {"ORNDSM_PERFINFO",
       [](FakeFaults& f) { f.openEnum[L"ORNDSM_PERFINFO"] = status::kWbemNotSupported; }},
  };
  for (const Row& row : rows) {
    wmi_ = std::make_shared<FakeServices>();
    dsm::WmiServices() = wmi_;
    Config(1, U32s({1}), U32s({1}), U32s({1}));
    wmi_->Add(L"Dsm_QueryUniqueId").Set(L"DsmUniqueId", Text(L"7"));
    wmi_->Add(L"ORNDSM_PERFINFO").Set(L"NumberDevices", Value::I4(0));
    row.fault(*wmi_->faults);
    EXPECT_EQ(Run(row.word), "") << row.word;
  }
}

TEST_F(DsmPrintersTest, OnlyTheCheckedClassesLeadWithAnEmptyLine) {
  struct Row {
    const char* word;
    const char* expected;
  };
  for (const Row& row : std::vector<Row>{{"ORNDSM_CONFIGINFO", "\n"},
                                         {"DSM_QueryUniqueId", "\n"},
                                         {"ORNDSM_PERFINFO", ""},
                                         {"DSM_QueryLBPolicy", ""},
                                         {"DSM_QueryLBPolicy_V2", ""}}) {
    EXPECT_EQ(Run(row.word), row.expected) << row.word;
  }
}

TEST_F(DsmPrintersTest, AFailingNextEndsTheListing) {
  wmi_->Add(L"Dsm_QueryUniqueId").Set(L"DsmUniqueId", Text(L"1"));
  wmi_->Add(L"Dsm_QueryUniqueId").Set(L"DsmUniqueId", Text(L"2"));
  wmi_->faults->next[L"Dsm_QueryUniqueId"] = {1, status::kWbemFailed};
  EXPECT_EQ(Run("DSM_QueryUniqueId"), "\n  InstanceName: \n  DsmUniqueId: 0x0000000000000001\n\n");
}

}  // namespace
}  // namespace wmilist
