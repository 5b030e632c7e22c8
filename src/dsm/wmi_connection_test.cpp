#include "dsm/wmi_connection.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace dsm {
namespace {

namespace wmi = platform::wmi;
namespace status = platform::status;
using Log = std::vector<std::string>;

struct FakeObject : wmi::Object {
  explicit FakeObject(std::wstring n) : name(std::move(n)) {}
  HResult Get(std::wstring_view, wmi::Value*, int32_t*) const override {
    return status::kWbemNotFound;
  }
  HResult Put(std::wstring_view, const wmi::Value&, int32_t) override { return status::kOk; }
  HResult GetNames(int32_t, std::vector<std::wstring>*) const override { return status::kOk; }
  HResult GetPropertyQualifier(std::wstring_view, std::wstring_view, wmi::Value*) const override {
    return status::kWbemNotFound;
  }
  HResult GetMethod(std::wstring_view, ObjectPtr*) const override { return status::kWbemNotFound; }
  HResult SpawnInstance(ObjectPtr*) const override { return status::kWbemNotFound; }
  HResult InheritsFrom(std::wstring_view) const override { return status::kWbemSFalse; }
  std::wstring name;
};

// Hands out the queued objects, then the queued end result.
struct FakeEnumerator : wmi::Enumerator {
  HResult QueryBlanket(uint32_t*, uint32_t*) override { return status::kOk; }
  HResult SetBlanket(const wmi::Blanket&) override { return status::kOk; }
  HResult Next(int32_t timeout, ObjectPtr* object, uint32_t* returned) override {
    EXPECT_EQ(timeout, wmi::kInfinite);
    ++calls;
    if (objects.empty()) {
      *returned = 0;
      return end;
    }
    *object = objects.front();
    objects.pop_front();
    *returned = 1;
    return status::kOk;
  }
  std::deque<ObjectPtr> objects;
  HResult end = status::kWbemSFalse;
  int calls = 0;
};

struct FakeServices : wmi::Services {
  explicit FakeServices(Log* l) : log(l) {}
  ~FakeServices() override { log->push_back("release services"); }
  HResult QueryBlanket(uint32_t*, uint32_t*) override { return status::kOk; }
  HResult SetBlanket(const wmi::Blanket& b) override {
    log->push_back("blanket " + std::to_string(b.authnService) + " " +
                   std::to_string(b.authzService) + " " + std::to_string(b.authnLevel) + " " +
                   std::to_string(b.impLevel) + " " + std::to_string(b.capabilities) +
                   (b.withIdentity ? " identity" : ""));
    return blanketResult;
  }
  HResult CreateInstanceEnum(std::wstring_view className, int32_t flags,
                             EnumeratorPtr* out) override {
    log->push_back("enum " + platform::ToConsoleText(className) + " " + std::to_string(flags));
    if (enumerator) *out = enumerator;
    return enumResult;
  }
  HResult GetObject(std::wstring_view, int32_t, ObjectPtr*) override {
    return status::kWbemNotFound;
  }
  HResult ExecMethod(std::wstring_view, std::wstring_view, const ObjectPtr&, ObjectPtr*) override {
    return status::kWbemNotFound;
  }
  HResult ExecNotificationQueryAsync(std::wstring_view, std::wstring_view, int32_t,
                                     const wmi::EventSinkPtr&) override {
    return status::kWbemNotSupported;
  }
  HResult CancelAsyncCall(const wmi::EventSinkPtr&) override { return status::kOk; }
  Log* log;
  HResult blanketResult = status::kOk;
  HResult enumResult = status::kOk;
  std::shared_ptr<FakeEnumerator> enumerator;
};

struct FakeLocator : wmi::Locator {
  FakeLocator(Log* l, HResult connect, HResult blanket)
      : log(l), result(connect), blanketResult(blanket) {}
  ~FakeLocator() override { log->push_back("release locator"); }
  HResult ConnectServer(std::wstring_view resource, const std::wstring* user,
                        const std::wstring* password, wmi::ServicesPtr* services) override {
    log->push_back("connect " + platform::ToConsoleText(resource) +
                   (user || password ? " with credentials" : ""));
    if (platform::Failed(result)) return result;
    auto fake = std::make_shared<FakeServices>(log);
    fake->blanketResult = blanketResult;
    *services = fake;
    return status::kOk;
  }
  Log* log;
  HResult result;
  HResult blanketResult;
};

// The results of the five steps, in order.
struct FakeRuntime : wmi::Runtime {
  HResult Initialize() override { return Step("initialize", 0); }
  HResult InitializeSecurity() override { return Step("security", 1); }
  HResult CreateLocator(wmi::LocatorPtr* locator) override {
    HResult hr = Step("create locator", 2);
    if (platform::Succeeded(hr))
      *locator = std::make_shared<FakeLocator>(&log, results[3], results[4]);
    return hr;
  }
  HResult CreateSinkStub(const wmi::EventSinkPtr&, wmi::EventSinkPtr*) override {
    return status::kClassNotReg;
  }
  ObjectPtr TakeErrorObject() override { return nullptr; }
  void Uninitialize() override { log.push_back("uninitialize"); }

  HResult Step(const char* name, int index) {
    log.push_back(name);
    return results[index];
  }
  Log log;
  HResult results[5] = {};
};

struct FakeMachine : platform::Machine {
  wmi::Runtime& Wmi() override { return runtime; }
  int Finish() override { return 0; }
  FakeRuntime runtime;
};

// Installs a fake machine and forgets the connection afterwards, so tests
// do not see each other's state.
class WmiConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetMachine(&machine); }
  void TearDown() override {
    WmiServices().reset();
    WmiLocator().reset();
    platform::SetMachine(nullptr);
  }
  FakeServices& Services() { return static_cast<FakeServices&>(*WmiServices()); }

  FakeMachine machine;
};

TEST_F(WmiConnectionTest, EachFailingStepReportsAndUndoesWhatWasDone) {
  const Log steps = {"initialize", "security", "create locator", "connect ROOT\\WMI",
                     "blanket 10 0 3 3 0"};
  struct Case {
    int failing;
    HResult code;
    std::string message;
    Log undo;
  } cases[] = {
      {0, status::kChangedMode, "Failed to initialize COM library. Error code = 0x80010106", {}},
      {1,
       status::kTooLate,
       "Failed to initialize security. Error code = 0x80010119",
       {"uninitialize"}},
      {2,
       status::kClassNotReg,
       "Failed to create IWbemLocator object. Err code = 0x80040154",
       {"uninitialize"}},
      {3,
       status::kWbemInvalidNamespace,
       "Could not connect. Error code = 0x8004100e",
       {"release locator", "uninitialize"}},
      {4,
       status::kAccessDenied,
       "Could not set proxy blanket. Error code = 0x80070005",
       {"release services", "release locator", "uninitialize"}},
      {3, -1, "Could not connect. Error code = 0xffffffff", {"release locator", "uninitialize"}},
  };
  for (const Case& c : cases) {
    FakeMachine fresh;
    platform::SetMachine(&fresh);
    fresh.runtime.results[c.failing] = c.code;
    platform::StringOutput out;
    EXPECT_EQ(ConnectWmi(out), 1);
    EXPECT_EQ(out.Text(), c.message + "\n");
    Log expected(steps.begin(), steps.begin() + c.failing + 1);
    expected.insert(expected.end(), c.undo.begin(), c.undo.end());
    EXPECT_EQ(fresh.runtime.log, expected) << c.message;
    EXPECT_FALSE(WmiServices());
    EXPECT_FALSE(WmiLocator());
    // Kept for the commands that report the failure in their own format.
    const char* callOf[] = {"CoInitializeEx", "CoInitializeSecurity", "CoCreateInstance",
                            "ConnectServer", "CoSetProxyBlanket"};
    EXPECT_EQ(LastConnectFailure().step, callOf[c.failing]) << c.message;
    EXPECT_EQ(LastConnectFailure().status, c.code) << c.message;
  }
}

// A locator that connects with a success code but hands out no services.
struct EmptyLocator : wmi::Locator {
  HResult ConnectServer(std::wstring_view, const std::wstring*, const std::wstring*,
                        wmi::ServicesPtr*) override {
    return status::kFalse;
  }
};

// Success codes without the object they promise end the connection like
// failures, with the code received, instead of a call through null.
TEST_F(WmiConnectionTest, SuccessWithoutTheObjectIsAFailure) {
  struct HollowRuntime : FakeRuntime {
    bool noLocator = false;
    HResult CreateLocator(wmi::LocatorPtr* locator) override {
      HResult hr = Step("create locator", 2);
      if (!noLocator) *locator = std::make_shared<EmptyLocator>();
      return hr;
    }
  };
  struct HollowMachine : platform::Machine {
    wmi::Runtime& Wmi() override { return runtime; }
    int Finish() override { return 0; }
    HollowRuntime runtime;
  };
  struct Case {
    bool noLocator;
    std::string message;
  } cases[] = {
      {true, "Failed to create IWbemLocator object. Err code = 0x1"},
      {false, "Could not connect. Error code = 0x1"},
  };
  for (const Case& c : cases) {
    HollowMachine hollow;
    hollow.runtime.noLocator = c.noLocator;
    hollow.runtime.results[2] = c.noLocator ? status::kFalse : status::kOk;
    platform::SetMachine(&hollow);
    platform::StringOutput out;
    EXPECT_EQ(ConnectWmi(out), 1);
    EXPECT_EQ(out.Text(), c.message + "\n");
    EXPECT_EQ(hollow.runtime.log.back(), "uninitialize");
    EXPECT_FALSE(WmiServices());
    EXPECT_FALSE(WmiLocator());
  }
}

TEST_F(WmiConnectionTest, SuccessKeepsTheConnection) {
  platform::StringOutput out;
  machine.runtime.results[1] = status::kFalse;  // success codes are not failures
  EXPECT_EQ(ConnectWmi(out), 0);
  EXPECT_EQ(out.Text(), "");
  EXPECT_TRUE(WmiServices());
  EXPECT_TRUE(WmiLocator());
  EXPECT_EQ(machine.runtime.log.back(), "blanket 10 0 3 3 0");
  EXPECT_EQ(LastConnectFailure().step, "");
}

// A creation that succeeds without handing out an enumerator walks nothing
// and is reported as a failure, whatever success code came with it.
TEST_F(WmiConnectionTest, EnumerationWithoutAnEnumeratorFails) {
  platform::StringOutput out;
  ASSERT_EQ(ConnectWmi(out), 0);
  for (HResult code : {status::kOk, status::kFalse, platform::MakeHResult(0x08140003)}) {
    Services().enumerator = nullptr;
    Services().enumResult = code;
    int visits = 0;
    EXPECT_EQ(EnumerateInstances(L"ORNDSM_PERFINFO", [&](const ObjectPtr&) { ++visits; }),
              status::kFail);
    EXPECT_EQ(visits, 0);
  }
}

TEST_F(WmiConnectionTest, EnumerateInstancesVisitsUntilTheEnumerationEnds) {
  struct Case {
    std::vector<std::wstring> objects;
    HResult end;
    HResult createResult;
    HResult result;
  } cases[] = {
      {{L"a", L"b", L"c"}, status::kWbemSFalse, status::kOk, status::kOk},
      {{}, status::kWbemSFalse, status::kOk, status::kOk},
      {{L"a"}, status::kWbemTransportFailure, status::kOk, status::kOk},  // ends it too
      {{L"a"}, status::kOk, status::kWbemInvalidClass, status::kWbemInvalidClass},
      // A driver's block without instances: an empty walk, not a failure.
      {{L"a"}, status::kOk, status::kWbemNotSupported, status::kOk},
      {{L"a"}, status::kWbemNotSupported, status::kOk, status::kOk},
  };
  platform::StringOutput out;
  ASSERT_EQ(ConnectWmi(out), 0);
  for (const Case& c : cases) {
    auto enumerator = std::make_shared<FakeEnumerator>();
    for (const std::wstring& name : c.objects) {
      enumerator->objects.push_back(std::make_shared<FakeObject>(name));
    }
    enumerator->end = c.end;
    Services().enumerator = enumerator;
    Services().enumResult = c.createResult;
    std::vector<std::wstring> visited;
    HResult hr = EnumerateInstances(L"ORNDSM_PERFINFO", [&](const ObjectPtr& object) {
      visited.push_back(static_cast<const FakeObject&>(*object).name);
    });
    EXPECT_EQ(hr, c.result);
    EXPECT_EQ(machine.runtime.log.back(), "enum ORNDSM_PERFINFO 1");
    if (platform::Failed(c.createResult)) {
      EXPECT_TRUE(visited.empty());
      EXPECT_EQ(enumerator->calls, 0);
    } else {
      EXPECT_EQ(visited, c.objects);
      EXPECT_EQ(enumerator->calls, static_cast<int>(c.objects.size()) + 1);
    }
  }
}

// The stand-in for a refused enumeration reads like an empty one to every
// caller that walks it by hand.
TEST_F(WmiConnectionTest, NotSupportedOpensAnEmptyEnumeration) {
  platform::StringOutput out;
  ASSERT_EQ(ConnectWmi(out), 0);
  Services().enumerator = nullptr;
  Services().enumResult = status::kWbemNotSupported;
  EnumeratorPtr enumerator;
  ASSERT_EQ(OpenEnumeration(L"ORNDSM_WMI_METHODS", &enumerator), status::kOk);
  ASSERT_NE(enumerator, nullptr);
  ObjectPtr object = std::make_shared<FakeObject>(L"stale");
  uint32_t returned = 7;
  EXPECT_EQ(enumerator->Next(wmi::kInfinite, &object, &returned), status::kWbemSFalse);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(object, nullptr);
  Services().enumResult = status::kWbemInvalidClass;
  EXPECT_EQ(OpenEnumeration(L"ORNDSM_WMI_METHODS", &enumerator), status::kWbemInvalidClass);
}

TEST(MethodObjectPathTest, DoublesBackslashes) {
  struct Case {
    std::wstring name;
    std::wstring path;
  } cases[] = {
      {L"MPIO\\Disk&Ven_X\\1_0", L"ORNDSM_WMI_METHODS.InstanceName=\"MPIO\\\\Disk&Ven_X\\\\1_0\""},
      {L"plain_0", L"ORNDSM_WMI_METHODS.InstanceName=\"plain_0\""},
      {L"", L"ORNDSM_WMI_METHODS.InstanceName=\"\""},
      {L"\\\\", L"ORNDSM_WMI_METHODS.InstanceName=\"\\\\\\\\\""},
  };
  for (const Case& c : cases) EXPECT_EQ(MethodObjectPath(c.name), c.path);
  EXPECT_EQ(std::wstring_view(L"ORNDSM_WMI_METHODS.InstanceName=\"").size(), 33u);
}

}  // namespace
}  // namespace dsm
