// Events of the simulated machine: the instances of the queried class,
// delivered one by one on a thread of the machine, each after its delay,
// and never after the subscription is cancelled.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/wmi/sim_object.h"
#include "platform/sim/wmi/sim_wmi.h"
#include "platform/sim/wmi/wmi_data.h"

namespace platform::sim {
namespace {

using wmi::ObjectPtr;
using wmi::Value;

/// Records what WMI hands the sink, from whichever thread.
class RecordingSink : public wmi::EventSink {
 public:
  HResult Indicate(const std::vector<ObjectPtr>& objects) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    for (const ObjectPtr& o : objects) {
      Value v;
      names_.push_back(o && o->Get(L"InstanceName", &v, nullptr) == 0 ? v.text : L"?");
    }
    changed_.notify_all();
    return status::kOk;
  }
  HResult SetStatus(int32_t, HResult, const std::wstring*, const ObjectPtr&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++statuses_;
    return status::kOk;
  }
  /// Waits (at most a generous while) until `count` events came.
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return names_.size() >= count; });
  }
  std::vector<std::wstring> Names() {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  int Statuses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::wstring> names_;
  int calls_ = 0;
  int statuses_ = 0;
};

class SimEventsTest : public ::testing::Test {
 protected:
  /// A machine whose class Ev has `events` (a JSON list of instances).
  void Load(const std::string& events, const std::string& faults = "[]") {
    world_ = std::make_shared<WmiWorld>();
    world_->faults = std::make_shared<Faults>();
    world_->repository = &repository_;
    repository_.SetFaults(world_->faults);
    std::string error;
    ASSERT_TRUE(world_->faults->Load(nlohmann::ordered_json::parse(faults), &error)) << error;
    auto data = nlohmann::ordered_json::parse(
        R"({"ROOT\\WMI": {"classes": [{"name": "Ev", "properties": [
             {"name": "InstanceName", "key": true}, {"name": "Severity", "type": "uint32"}]}],
           "instances": {"Ev": )" +
        events + "}}}");
    ASSERT_TRUE(LoadWmiData(data, repository_, &error)) << error;
    runtime_ = MakeRuntime(world_);
    wmi::LocatorPtr locator;
    ASSERT_EQ(runtime_->CreateLocator(&locator), 0);
    ASSERT_EQ(locator->ConnectServer(L"ROOT\\WMI", nullptr, nullptr, &services_), 0);
  }
  HResult Subscribe(const std::shared_ptr<RecordingSink>& sink, const wchar_t* query) {
    wmi::EventSinkPtr stub;
    HResult hr = runtime_->CreateSinkStub(sink, &stub);
    if (hr != status::kOk) return hr;
    stub_ = stub;
    return services_->ExecNotificationQueryAsync(L"WQL", query, wmi::kFlagSendStatus, stub_);
  }

  Repository repository_;
  std::shared_ptr<WmiWorld> world_;
  std::unique_ptr<wmi::Runtime> runtime_;
  wmi::ServicesPtr services_;
  wmi::EventSinkPtr stub_;
};

TEST_F(SimEventsTest, EachInstanceIsOneIndicateInOrder) {
  Load(R"([{"InstanceName": "a"}, {"InstanceName": "b", "$delay": 20},
           {"InstanceName": "c", "$delay": 0}])");
  auto sink = std::make_shared<RecordingSink>();
  ASSERT_EQ(Subscribe(sink, L"SELECT * FROM Ev"), 0);
  ASSERT_TRUE(sink->WaitFor(3));
  EXPECT_EQ(sink->Names(), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_EQ(sink->Calls(), 3);
  EXPECT_EQ(sink->Statuses(), 0);
  ASSERT_EQ(services_->CancelAsyncCall(stub_), 0);
  EXPECT_EQ(sink->Statuses(), 1);  // the status report of the cancelled call
  EXPECT_EQ(services_->CancelAsyncCall(stub_), status::kWbemNotFound);
}

// A cancellation does not wait for the next event's time, and nothing is
// delivered after it.
TEST_F(SimEventsTest, CancelEndsTheWaitAndTheDeliveries) {
  Load(R"([{"InstanceName": "first"}, {"InstanceName": "late", "$delay": 3600000}])");
  auto sink = std::make_shared<RecordingSink>();
  ASSERT_EQ(Subscribe(sink, L"SELECT * FROM Ev"), 0);
  ASSERT_TRUE(sink->WaitFor(1));
  ASSERT_EQ(services_->CancelAsyncCall(stub_), 0);  // an hour early
  EXPECT_EQ(sink->Names(), std::vector<std::wstring>{L"first"});
  services_.reset();  // the services' end must not wait either
  EXPECT_EQ(sink->Calls(), 1);
}

TEST_F(SimEventsTest, RefusedSubscriptions) {
  const struct {
    const char* name;
    const char* faults;
    const wchar_t* query;
    HResult expected;
  } cases[] = {
      {"query refused", R"([{"call": "ExecNotificationQueryAsync", "code": "0x80041003"}])",
       L"SELECT * FROM Ev", status::kWbemAccessDenied},
      {"no unsecured apartment",
       R"([{"call": "CoCreateInstance", "target": "UnsecuredApartment", "code": "0x80040154"}])",
       L"SELECT * FROM Ev", status::kClassNotReg},
      {"no stub", R"([{"call": "CreateObjectStub", "code": "0x8007000E"}])", L"SELECT * FROM Ev",
       status::kOutOfMemory},
      {"unknown class", "[]", L"SELECT * FROM Nope", status::kWbemInvalidClass},
      {"no FROM", "[]", L"SELECT *", status::kWbemInvalidQuery},
  };
  for (const auto& c : cases) {
    Load(R"([{"InstanceName": "a"}])", c.faults);
    auto sink = std::make_shared<RecordingSink>();
    EXPECT_EQ(Subscribe(sink, c.query), c.expected) << c.name;
    services_.reset();  // would join a delivery thread had one started
    EXPECT_EQ(sink->Calls(), 0) << c.name;
  }
}

TEST_F(SimEventsTest, DelaysAreCheckedStrictly) {
  const char* bad[] = {
      R"([{"InstanceName": "a", "$delay": -1}])", R"([{"InstanceName": "a", "$delay": "5"}])",
      R"([{"InstanceName": "a", "$delay": 3600001}])", R"([{"InstanceName": "a", "$dealy": 5}])"};
  for (const char* events : bad) {
    Repository repository;
    std::string error;
    auto data = nlohmann::ordered_json::parse(
        R"({"ROOT\\WMI": {"classes": [{"name": "Ev", "properties": [{"name": "InstanceName"}]}],
           "instances": {"Ev": )" +
        std::string(events) + "}}}");
    EXPECT_FALSE(LoadWmiData(data, repository, &error)) << events;
    EXPECT_NE(error.find("$de"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace platform::sim
