#include <gtest/gtest.h>

#include "dsm/commands.h"
#include "dsm/fake_wmi_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;

class ClearCountersTest : public FakeWmiTest {};

TEST_F(ClearCountersTest, ReportsFailureOfAnyDevice) {
  struct Case {
    const char* name;
    std::vector<HResult> calls;  // one method object per entry, its call's result
    std::function<void(FakeServices&)> inject;
    int result;
    const char* line;
  } cases[] = {
      {"all succeed", {0, 0}, nullptr, 0, " Clear all counters: OK"},
      {"no method object", {}, nullptr, 0, " Clear all counters: OK"},
      {"first fails", {status::kWbemFailed, 0}, nullptr, 1, " Clear all counters: Failed"},
      {"last fails", {0, status::kWbemFailed}, nullptr, 1, " Clear all counters: Failed"},
      {"success code", {0, status::kWbemSFalse}, nullptr, 1, " Clear all counters: Failed"},
      {"no name",
       {0, 0},
       [](FakeServices& w) {
         static_cast<FakeObject&>(*w.instances[L"ORNDSM_WMI_METHODS"][0])
             .Set(L"InstanceName", Value::Null());
       },
       1,
       " Clear all counters: Failed"},
      {"methods not supported",
       {},
       [](FakeServices& w) {
         w.faults->openEnum[L"ORNDSM_WMI_METHODS"] = status::kWbemNotSupported;
       },
       0,
       " Clear all counters: OK"},
      {"Next not supported",
       {0, 0},
       [](FakeServices& w) {
         w.faults->next[L"ORNDSM_WMI_METHODS"] = {1, status::kWbemNotSupported};
       },
       1,
       " Clear all counters: Failed"},
      {"enumeration breaks off",
       {0, 0},
       [](FakeServices& w) {
         w.faults->next[L"ORNDSM_WMI_METHODS"] = {1, status::kWbemTransportFailure};
       },
       1,
       " Clear all counters: Failed"},
  };
  for (const Case& c : cases) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    out_.Clear();
    std::map<std::wstring, HResult> results;
    for (size_t i = 0; i < c.calls.size(); ++i) {
      std::wstring name = L"MPIO\\Disk" + std::to_wstring(i);
      wmi_->Add(L"ORNDSM_WMI_METHODS").Set(L"InstanceName", Value::Bstr(name));
      results[L"ORNDSM_WMI_METHODS.InstanceName=\"MPIO\\\\Disk" + std::to_wstring(i) + L"\""] =
          c.calls[i];
    }
    wmi_->execResult = [&](const ExecCall& call) {
      EXPECT_EQ(call.method, L"OrnDsmClearCounters");
      EXPECT_EQ(call.in, nullptr);
      EXPECT_TRUE(results.count(call.path)) << platform::ToConsoleText(call.path);
      return results[call.path];
    };
    if (c.inject) c.inject(*wmi_);
    EXPECT_EQ(ClearCounters(out_), c.result) << c.name;
    EXPECT_EQ(out_.Text(), "\n" + std::string(c.line) + "\n\n") << c.name;
  }
}

TEST_F(ClearCountersTest, UnopenableEnumerationIsTheResult) {
  wmi_->faults->openEnum[L"ORNDSM_WMI_METHODS"] = status::kWbemInvalidClass;
  EXPECT_EQ(ClearCounters(out_), status::kWbemInvalidClass);
  EXPECT_EQ(out_.Text(), "");
}

}  // namespace
}  // namespace dsm
