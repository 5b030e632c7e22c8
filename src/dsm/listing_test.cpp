#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "dsm/commands.h"
#include "dsm/fake_wmi_test.h"
#include "dsm/properties.h"

namespace dsm {
namespace {

using namespace dsm::testing;

class ListingTest : public FakeWmiTest {
 protected:
  void InstallThree(int32_t firstPolicy = 1, int32_t firstFailBack = 2) {
    SanPath a = ListedPath(0x1a, 2, kHbaA);
    a.weight = 1;
    a.primary = true;
    a.bytesRead = 1000;
    a.bytesWritten = 18446744073709551615u;
    a.reads = 10;
    a.writes = 4294967295u;
    SanPath b = ListedPath(0x1b, 3, kHbaB);
    b.state = 7;
    Install(*wmi_, {{L"A", firstPolicy, firstFailBack, 0x0123ABCD, 1, {a, b}},
                    {L"B", 2, 2, 0x0123ABCD, 2, {ListedPath(0x2a, 5, kHbaB)}},
                    {L"C", 9, 2, 0x0123ABCD, 3, {ListedPath(0x123456789, 4, kHbaA)}}});
  }
};

TEST_F(ListingTest, DevinfoPrintsOneRowPerDevice) {
  InstallThree();
  EXPECT_EQ(ListDevices(out_), 0);
  EXPECT_EQ(out_.Text(),
            "\n"
            " Device# SerialNumber Policy            nPaths  FailBack\n"
            " ----------------------------------------------------------\n"
            " 0       0123ABCD-01  FailOver          2       failback-off\n"
            " 1       0123ABCD-02  RoundRobin        1       N/A\n"
            " 2       0123ABCD-03  Unknown           1       N/A\n"
            "\n");
}

TEST_F(ListingTest, FailBackShowsOnlyFor2AsOff) {
  for (int32_t failBack : {0, 1, 3}) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    out_.Clear();
    InstallThree(1, failBack);
    EXPECT_EQ(ListDevices(out_), 0);
    EXPECT_NE(out_.Text().find(" 0       0123ABCD-01  FailOver          2       failback-on\n"),
              std::string::npos)
        << failBack;
  }
}

TEST_F(ListingTest, SerialIsNotAvailableWithoutTheFirstPathsRecords) {
  SanPath second = ListedPath(0x1b, 3, kHbaB);
  Install(*wmi_, {{L"A", 2, 2, 0x0123ABCD, 1, {ListedPath(0x1a, 2, kHbaA), second}}});
  // The first path's descriptor goes; the second path still matches.
  auto descriptors = wmi_->instances[L"MPIO_GET_DESCRIPTOR"];
  wmi_->instances[L"MPIO_GET_DESCRIPTOR"].clear();
  wmi_->Add(L"MPIO_GET_DESCRIPTOR")
      .Set(L"PdoInformation",
           Objects({ReadObjectArray(*descriptors[0], L"PdoInformation").Elements[1]}));
  wmi_->Add(L"ORNDSM_QueryLBPolicy")
      .Set(L"InstanceName", Value::Bstr(L"empty"))
      .Set(L"LoadBalancePolicy", Value::Unknown(PolicyObject(*wmi_, 2, 2, 0, {})));
  EXPECT_EQ(ListDevices(out_), 0);
  EXPECT_NE(out_.Text().find(" 0       N/A          RoundRobin        2       N/A\n"
                             " 1       N/A          RoundRobin        0       N/A\n"),
            std::string::npos)
      << out_.Text();
}

TEST_F(ListingTest, LoaderFailuresPrintNothing) {
  struct Case {
    const wchar_t* cls;
    int result;
  } cases[] = {{L"ORNDSM_QueryLBPolicy", 1},
               {L"ORNDSM_PERFINFO", status::kWbemAccessDenied},
               {L"MPIO_GET_DESCRIPTOR", 1}};
  InstallThree();
  for (const Case& c : cases) {
    wmi_->faults->openEnum = {{c.cls, status::kWbemAccessDenied}};
    EXPECT_EQ(ListDevices(out_), c.result);
    EXPECT_EQ(ListPaths(out_, std::nullopt, ""), c.result);
    EXPECT_EQ(out_.Text(), "");
  }
}

TEST_F(ListingTest, NoDeviceNoOutput) {
  EXPECT_EQ(ListDevices(out_), 0);
  EXPECT_EQ(ListPaths(out_, std::nullopt, ""), 0);
  EXPECT_EQ(out_.Text(), "");
}

TEST_F(ListingTest, PathinfoPrintsABlockPerPath) {
  InstallThree();
  EXPECT_EQ(ListPaths(out_, std::string("SN"), "0123ABCD-01"), 0);
  EXPECT_EQ(out_.Text(),
            "\n"
            " Policy:        FailOver\n"
            " SerialNumber:  0123ABCD-01\n"
            " PathId:        0000001A\n"
            " Weight:        1\n"
            " Primary:       true\n"
            " ScsiAddress:   02000501\n"
            " HbaWWPN:       2100001B32000001\n"
            " CtrlPortWWPN:  500601603BA01D2E\n"
            " State:         Online\n"
            " BytesRead:     1000\n"
            " BytesWritten:  18446744073709551615\n"
            " NumberReads:   10\n"
            " NumberWrites:  4294967295\n"
            "\n"
            " Policy:        FailOver\n"
            " SerialNumber:  0123ABCD-01\n"
            " PathId:        0000001B\n"
            " Weight:        0\n"
            " Primary:       false\n"
            " ScsiAddress:   03000501\n"
            " HbaWWPN:       2100001B32000002\n"
            " CtrlPortWWPN:  500601603BA01D2E\n"
            " State:         Standby\n"
            " BytesRead:     0\n"
            " BytesWritten:  0\n"
            " NumberReads:   0\n"
            " NumberWrites:  0\n"
            "\n");
}

// The path ids of the blocks printed, in order.
std::vector<std::string> PrintedIds(const std::string& text) {
  std::vector<std::string> ids;
  for (size_t at = text.find(" PathId:"); at != std::string::npos;
       at = text.find(" PathId:", at + 1)) {
    ids.push_back(text.substr(at + 16, text.find('\n', at) - at - 16));
  }
  return ids;
}

TEST_F(ListingTest, FiltersCompareExactly) {
  InstallThree();
  struct Case {
    std::optional<std::string> kind;
    std::string value;
    std::vector<std::string> ids;
  } cases[] = {
      {std::nullopt, "", {"0000001A", "0000001B", "0000002A", "123456789"}},
      {"sn", "0123ABCD-02", {"0000002A"}},
      {"sn", "0123abcd-02", {}},
      {"Hba", "2100001B32000001", {"0000001A", "123456789"}},
      {"hba", "2100001b32000001", {}},
  };
  for (const Case& c : cases) {
    out_.Clear();
    EXPECT_EQ(ListPaths(out_, c.kind, c.value), 0);
    EXPECT_EQ(PrintedIds(out_.Text()), c.ids) << c.value;
    EXPECT_EQ(out_.Text().back(), '\n');
  }
}

TEST_F(ListingTest, PathWithoutRecordsEndsItsDeviceOnly) {
  InstallThree();
  // Device A's first path loses its performance entry's key match.
  auto perf = ReadObjectArray(*wmi_->instances[L"ORNDSM_PERFINFO"][0], L"PerfInfo").Elements;
  static_cast<FakeObject&>(*perf[0]).Set(L"Identifier", Bytes({9, 9, 9, 9}));
  EXPECT_EQ(ListPaths(out_, std::string("sn"), "N/A"), 0);
  EXPECT_EQ(out_.Text(), "Error occured!\n\n");
  out_.Clear();
  EXPECT_EQ(ListPaths(out_, std::nullopt, ""), 0);
  EXPECT_EQ(out_.Text().rfind("Error occured!\n", 0), 0u);
  EXPECT_EQ(PrintedIds(out_.Text()), (std::vector<std::string>{"0000002A", "123456789"}));
}

// Windows refuses to enumerate a driver's data block that has no instance
// (WBEM_E_NOT_SUPPORTED). Every command then does what it does when the
// block enumerates as empty, whichever block it is.
TEST_F(ListingTest, RefusedDriverBlocksActLikeEmptyOnes) {
  struct Command {
    const char* name;
    std::function<int(platform::Output&)> run;
  } commands[] = {
      {"devinfo", [](platform::Output& o) { return ListDevices(o); }},
      {"pathinfo", [](platform::Output& o) { return ListPaths(o, std::nullopt, ""); }},
      {"pathinfo hba", [](platform::Output& o) { return ListPaths(o, "hba", "2100001B32000001"); }},
      {"devinfo sn", [](platform::Output& o) { return DevinfoSetOne(o, "0123ABCD-02", "Dyn"); }},
      {"devinfo all", [](platform::Output& o) { return DevinfoSetAll(o, "RoundRobin"); }},
      {"pathinfo state",
       [](platform::Output& o) { return SetAdapterPathState(o, "2100001B32000002", "standby"); }},
      {"primary", [](platform::Output& o) { return SetPathRole(o, 0x1b, true); }},
      {"weight", [](platform::Output& o) { return SetPathWeight(o, 0x2a, 3); }},
      {"clear", [](platform::Output& o) { return ClearCounters(o); }},
  };
  const wchar_t* blocks[] = {L"ORNDSM_QueryLBPolicy", L"ORNDSM_PERFINFO", L"MPIO_GET_DESCRIPTOR",
                             L"ORNDSM_WMI_METHODS", L"DSM_LB_Operations"};
  for (const wchar_t* block : blocks) {
    for (const Command& command : commands) {
      auto outcome = [&](bool refuse) {
        wmi_ = std::make_shared<FakeServices>();
        WmiServices() = wmi_;
        InstallThree();
        wmi_->instances[block].clear();
        if (refuse) wmi_->faults->openEnum[block] = status::kWbemNotSupported;
        out_.Clear();
        int result = command.run(out_);
        return std::make_tuple(result, out_.Text(), wmi_->calls.size());
      };
      EXPECT_EQ(outcome(true), outcome(false))
          << command.name << " with " << platform::ToConsoleText(block);
    }
  }
}

}  // namespace
}  // namespace dsm
