#include "platform/sim/wmi/sim_wmi.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/wmi/sim_object.h"
#include "platform/sim/wmi/wmi_data.h"

namespace platform::sim {
namespace {

namespace cim = wmi::cim;
namespace vt = wmi::vt;
using wmi::ObjectPtr;
using wmi::Value;

TEST(ObjectPathTest, Forms) {
  struct Case {
    const wchar_t* path;
    bool ok;
    const wchar_t* className;
    const wchar_t* keyName;
    const wchar_t* keyValue;
  } cases[] = {
      {L"ORNDSM_WMI_METHODS", true, L"ORNDSM_WMI_METHODS", L"", L""},
      {L"ORNDSM_WMI_METHODS.InstanceName=\"MPIO\\\\Disk&1\\\\2_0\"", true, L"ORNDSM_WMI_METHODS",
       L"InstanceName", L"MPIO\\Disk&1\\2_0"},
      {L"\\\\HOST\\ROOT\\WMI:C.K=\"v\"", true, L"C", L"K", L"v"},
      {L"C.K=5", true, L"C", L"K", L"5"},
      {L"C=@", true, L"C", L"", L""},
      {L"", false, L"", L"", L""},
      {L".K=\"v\"", false, L"", L"", L""},
      {L"C.=\"v\"", false, L"C", L"", L""},
      {L"C.K=", false, L"C", L"K", L""},
  };
  for (const Case& c : cases) {
    std::wstring className, keyName, keyValue;
    EXPECT_EQ(ParseObjectPath(c.path, &className, &keyName, &keyValue), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(className, c.className);
    EXPECT_EQ(keyName, c.keyName);
    EXPECT_EQ(keyValue, c.keyValue);
  }
}

class SimWmiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = std::make_shared<WmiWorld>();
    world_->faults = std::make_shared<Faults>();
    world_->repository = &repository_;
    ns_ = &repository_.Add(L"ROOT\\WMI");
    ns_->SetFaults(world_->faults);
    std::string error;
    auto data = nlohmann::ordered_json::parse(R"({"ROOT\\WMI": {
      "classes": [
        {"name": "Inner", "properties": [{"name": "N", "type": "uint32"}]},
        {"name": "Thing", "properties": [
          {"name": "InstanceName", "type": "string", "key": true},
          {"name": "Big", "type": "uint64"}, {"name": "Small", "type": "uint8"},
          {"name": "Bytes", "type": "uint8[]"}, {"name": "Inner", "type": "object", "class": "Inner"},
          {"name": "List", "type": "object[]", "class": "Inner"}],
         "methods": [{"name": "Go", "in": [{"name": "Arg", "type": "object", "class": "Inner"}]},
                     {"name": "Reset"}]}],
      "instances": {"Thing": [
        {"InstanceName": "a\\b", "Big": "18446744073709551615", "Small": 7, "Bytes": [1, 2, 3],
         "Inner": {"N": 4}, "List": {"$value": [{"N": 1}, null], "$lower": 1}},
        {"InstanceName": "bad", "Small": {"$vt": "bstr", "$value": "seven"}}]}}})");
    ASSERT_TRUE(LoadWmiData(data, repository_, &error)) << error;
    runtime_ = MakeRuntime(world_);
    wmi::LocatorPtr locator;
    ASSERT_EQ(runtime_->CreateLocator(&locator), 0);
    ASSERT_EQ(locator->ConnectServer(L"ROOT\\WMI", nullptr, nullptr, &services_), 0);
  }

  std::vector<ObjectPtr> All(const wchar_t* className) {
    wmi::EnumeratorPtr e;
    EXPECT_EQ(services_->CreateInstanceEnum(className, wmi::kFlagShallow, &e), 0);
    std::vector<ObjectPtr> out;
    ObjectPtr o;
    uint32_t n = 0;
    while (e && e->Next(wmi::kInfinite, &o, &n) == 0 && n == 1) out.push_back(o);
    return out;
  }

  Repository repository_;
  Namespace* ns_ = nullptr;
  std::shared_ptr<WmiWorld> world_;
  std::unique_ptr<wmi::Runtime> runtime_;
  wmi::ServicesPtr services_;
};

TEST_F(SimWmiTest, RawValuesKeepTheirTypesAndBounds) {
  auto things = All(L"Thing");
  ASSERT_EQ(things.size(), 2u);
  Value v;
  int32_t type = 0;
  ASSERT_EQ(things[0]->Get(L"Big", &v, &type), 0);
  EXPECT_EQ(v.type, vt::kBstr);  // 64-bit integers travel as text
  EXPECT_EQ(type, cim::kUint64);
  EXPECT_EQ(v.text, L"18446744073709551615");
  ASSERT_EQ(things[0]->Get(L"Bytes", &v, &type), 0);
  EXPECT_EQ(v.type, vt::kArray | vt::kUi1);
  EXPECT_EQ(v.elements.size(), 3u);
  ASSERT_EQ(things[0]->Get(L"List", &v, &type), 0);
  EXPECT_EQ(type, cim::kObject | cim::kArray);
  EXPECT_EQ(v.lower, 1);
  ASSERT_EQ(v.elements.size(), 2u);
  EXPECT_EQ(v.elements[1].object, nullptr);  // a null element
  ASSERT_EQ(things[1]->Get(L"Small", &v, &type), 0);
  EXPECT_EQ(v.type, vt::kBstr);  // forced wrong type
  EXPECT_EQ(type, cim::kUint8);
  ASSERT_EQ(things[1]->Get(L"Inner", &v, &type), 0);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(things[0]->Get(L"Missing", &v, &type), status::kWbemNotFound);
}

TEST_F(SimWmiTest, SystemPropertiesAndQualifiers) {
  auto things = All(L"Thing");
  Value v;
  ASSERT_EQ(things[0]->Get(L"__CLASS", &v, nullptr), 0);
  EXPECT_EQ(v.text, L"Thing");
  ASSERT_EQ(things[0]->Get(L"__RELPATH", &v, nullptr), 0);
  EXPECT_EQ(v.text, L"Thing.InstanceName=\"a\\\\b\"");
  ASSERT_EQ(things[0]->Get(L"__NAMESPACE", &v, nullptr), 0);
  EXPECT_EQ(v.text, L"ROOT\\WMI");
  std::vector<std::wstring> names;
  ASSERT_EQ(things[0]->GetNames(wmi::kFlagNonSystemOnly, &names), 0);
  EXPECT_EQ(names.front(), L"InstanceName");
  EXPECT_EQ(names.size(), 6u);
  EXPECT_EQ(things[0]->GetPropertyQualifier(L"InstanceName", L"key", &v), 0);
  EXPECT_EQ(things[0]->GetPropertyQualifier(L"Big", L"key", &v), status::kWbemNotFound);
  EXPECT_EQ(things[0]->GetPropertyQualifier(L"__CLASS", L"key", &v), status::kWbemSystemProperty);
  ASSERT_EQ(things[0]->GetPropertyQualifier(L"List", L"CIMTYPE", &v), 0);
  EXPECT_EQ(v.text, L"object:Inner");
}

TEST_F(SimWmiTest, SpawnPutAndMethodSignatures) {
  ObjectPtr thingClass, in, inner;
  ASSERT_EQ(services_->GetObject(L"Thing", 0, &thingClass), 0);
  ASSERT_EQ(thingClass->GetMethod(L"Go", &in), 0);
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(thingClass->GetMethod(L"Reset", &in), 0);
  EXPECT_EQ(in, nullptr);  // no input parameters, no signature
  EXPECT_EQ(thingClass->GetMethod(L"Nope", &in), status::kWbemNotFound);
  ObjectPtr innerClass;
  ASSERT_EQ(services_->GetObject(L"Inner", 0, &innerClass), 0);
  ASSERT_EQ(innerClass->SpawnInstance(&inner), 0);
  EXPECT_EQ(inner->Put(L"N", Value::I4(3), 0), 0);
  EXPECT_EQ(inner->Put(L"N", Value::Unknown(inner), 0), status::kWbemTypeMismatch);
  EXPECT_EQ(inner->Put(L"Other", Value::I4(3), 0), status::kWbemNotFound);
  ObjectPtr thing;
  ASSERT_EQ(thingClass->SpawnInstance(&thing), 0);
  EXPECT_EQ(thing->Put(L"Inner", Value::I4(1), cim::kObject), status::kWbemTypeMismatch);
  EXPECT_EQ(thing->Put(L"Inner", Value::Unknown(inner), cim::kObject), 0);
  EXPECT_EQ(thing->Put(L"List", Value::Array(vt::kUnknown, {Value::Unknown(inner)}),
                       cim::kObject | cim::kArray),
            0);
}

TEST_F(SimWmiTest, FailuresAndInjectedFaults) {
  wmi::EnumeratorPtr e;
  EXPECT_EQ(services_->CreateInstanceEnum(L"NoSuchClass", 1, &e), status::kWbemInvalidClass);
  EXPECT_NE(runtime_->TakeErrorObject(), nullptr);  // the error object is left behind
  EXPECT_EQ(runtime_->TakeErrorObject(), nullptr);
  ObjectPtr out;
  EXPECT_EQ(services_->ExecMethod(L"Thing.InstanceName=\"x\"", L"Nope", nullptr, &out),
            status::kWbemInvalidMethod);
  EXPECT_EQ(services_->ExecMethod(L"Thing.InstanceName=\"x\"", L"Reset", nullptr, &out),
            status::kWbemNotSupported);
  int calls = 0;
  ns_->SetMethodHandler(L"Thing", L"Reset", [&](const MethodCall& call, ObjectPtr*) {
    ++calls;
    EXPECT_EQ(call.keyValue, L"a\\b");
    return status::kOk;
  });
  std::string error;
  ASSERT_TRUE(world_->faults->Load(nlohmann::ordered_json::parse(R"([
      {"call": "ExecMethod", "target": "bad", "method": "Reset", "code": "0x80041001"},
      {"call": "SpawnInstance", "target": "Inner", "code": "0x80041006"},
      {"call": "Next", "target": "Thing", "after": 1, "code": "0x80041003"}])"),
                                   &error));
  EXPECT_EQ(services_->ExecMethod(L"Thing.InstanceName=\"a\\\\b\"", L"Reset", nullptr, &out), 0);
  EXPECT_EQ(services_->ExecMethod(L"Thing.InstanceName=\"bad\"", L"Reset", nullptr, &out),
            status::kWbemFailed);
  EXPECT_EQ(calls, 1);
  ObjectPtr innerClass, spawned;
  ASSERT_EQ(services_->GetObject(L"Inner", 0, &innerClass), 0);
  EXPECT_EQ(innerClass->SpawnInstance(&spawned), status::kWbemOutOfMemory);
  ASSERT_EQ(services_->CreateInstanceEnum(L"Thing", 1, &e), 0);
  ObjectPtr o;
  uint32_t n = 0;
  EXPECT_EQ(e->Next(wmi::kInfinite, &o, &n), 0);
  EXPECT_EQ(e->Next(wmi::kInfinite, &o, &n), status::kWbemAccessDenied);
  EXPECT_EQ(n, 0u);
}

// Each read the listing makes can be made to fail on its own, on any
// object, the error objects included.
TEST_F(SimWmiTest, ReadsFailByFault) {
  const struct {
    const char* fault;
    const char* name;
    std::function<HResult(const wmi::Object&)> call;
    HResult expected;
  } cases[] = {
      {R"({"call": "Get", "target": "Thing", "method": "Big", "code": "0x80041001"})", "Get",
       [](const wmi::Object& o) {
         Value v;
         return o.Get(L"Big", &v, nullptr);
       },
       status::kWbemFailed},
      {R"({"call": "Get", "target": "Thing", "method": "Big", "code": "0x80041001"})",
       "Get of another property",
       [](const wmi::Object& o) {
         Value v;
         return o.Get(L"Small", &v, nullptr);
       },
       status::kOk},
      {R"({"call": "GetNames", "target": "Thing", "code": "0x80041006"})", "GetNames",
       [](const wmi::Object& o) {
         std::vector<std::wstring> names;
         return o.GetNames(0, &names);
       },
       status::kWbemOutOfMemory},
      {R"({"call": "GetPropertyQualifierSet", "target": "Thing", "method": "Big",
           "code": "0x80041003"})",
       "GetPropertyQualifierSet",
       [](const wmi::Object& o) { return o.GetPropertyQualifierSet(L"Big"); },
       status::kWbemAccessDenied},
      {R"({"call": "GetPropertyQualifierSet", "target": "Thing", "method": "Big",
           "code": "0x80041003"})",
       "a qualifier needs its set",
       [](const wmi::Object& o) {
         Value v;
         return o.GetPropertyQualifier(L"Big", L"CIMTYPE", &v);
       },
       status::kWbemAccessDenied},
      {R"({"call": "GetQualifier", "target": "Thing", "method": "key", "code": "0x80041001"})",
       "GetQualifier key",
       [](const wmi::Object& o) {
         Value v;
         return o.GetPropertyQualifier(L"InstanceName", L"key", &v);
       },
       status::kWbemFailed},
      {R"({"call": "GetQualifier", "target": "Thing", "method": "key", "code": "0x80041001"})",
       "GetQualifier leaves the set alone",
       [](const wmi::Object& o) { return o.GetPropertyQualifierSet(L"InstanceName"); },
       status::kOk},
      {R"({"call": "InheritsFrom", "target": "Thing", "code": "0x80041001"})", "InheritsFrom",
       [](const wmi::Object& o) { return o.InheritsFrom(L"__SystemClass"); }, status::kWbemFailed},
  };
  const ObjectPtr thing = All(L"Thing").at(0);
  for (const auto& c : cases) {
    std::string error;
    ASSERT_TRUE(world_->faults->Load(
        nlohmann::ordered_json::array({nlohmann::ordered_json::parse(c.fault)}), &error))
        << error;
    EXPECT_EQ(c.call(*thing), c.expected) << c.name;
  }
  // A fault on the program's reads leaves the machine's own alone: a
  // lookup by key still finds the instance.
  std::string error;
  ASSERT_TRUE(world_->faults->Load(nlohmann::ordered_json::parse(R"([
      {"call": "Get", "target": "Thing", "method": "InstanceName", "code": "0x80041001"}])"),
                                   &error));
  Value v;
  EXPECT_EQ(thing->Get(L"InstanceName", &v, nullptr), status::kWbemFailed);
  ObjectPtr found;
  EXPECT_EQ(services_->GetObject(L"Thing.InstanceName=\"a\\\\b\"", 0, &found), 0);
  EXPECT_EQ(found, thing);
  // The system properties answer for their qualifier set as on Windows.
  EXPECT_EQ(thing->GetPropertyQualifierSet(L"__CLASS"), status::kWbemSystemProperty);
  EXPECT_EQ(thing->GetPropertyQualifierSet(L"Nope"), status::kWbemNotFound);
}

TEST_F(SimWmiTest, ErrorObjectReadsFailByFault) {
  std::string error;
  ASSERT_TRUE(world_->faults->Load(nlohmann::ordered_json::parse(R"([
      {"call": "Get", "target": "__ExtendedStatus", "method": "Operation", "code": "0x80041002"}])"),
                                   &error));
  ObjectPtr object;
  EXPECT_EQ(services_->GetObject(L"NoSuchClass", 0, &object), status::kWbemNotFound);
  const ObjectPtr status = runtime_->TakeErrorObject();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->InheritsFrom(L"__NotifyStatus"), status::kOk);
  EXPECT_EQ(status->InheritsFrom(L"__extendedstatus"), status::kOk);  // its own class counts
  EXPECT_EQ(status->InheritsFrom(L"__SystemClass"), status::kOk);
  EXPECT_EQ(status->InheritsFrom(L"Thing"), status::kWbemSFalse);
  Value v;
  EXPECT_EQ(status->Get(L"Operation", &v, nullptr), status::kWbemNotFound);
  ASSERT_EQ(status->Get(L"ParameterInfo", &v, nullptr), status::kOk);
  EXPECT_EQ(v.text, L"NoSuchClass");
}

TEST_F(SimWmiTest, RawArraysWithUnreadableBounds) {
  std::string error;
  auto data = nlohmann::ordered_json::parse(R"({"ROOT\\WMI": {
      "classes": [{"name": "Odd", "properties": [{"name": "A", "type": "uint32[]"},
                                                 {"name": "B", "type": "uint8[]"}]}],
      "instances": {"Odd": [{"A": {"$value": [1, 2], "$lowerStatus": "0x8002000B"},
                             "B": {"$vt": "ui1[]", "$value": [], "$upperStatus": -2147352565}}]}}})");
  ASSERT_TRUE(LoadWmiData(data, repository_, &error)) << error;
  const ObjectPtr odd = All(L"Odd").at(0);
  Value v;
  ASSERT_EQ(odd->Get(L"A", &v, nullptr), 0);
  EXPECT_EQ(v.type, vt::kArray | vt::kI4);
  EXPECT_EQ(v.lowerStatus, MakeHResult(0x8002000B));
  EXPECT_EQ(v.upperStatus, status::kOk);
  EXPECT_TRUE(v.elements.empty());
  ASSERT_EQ(odd->Get(L"B", &v, nullptr), 0);
  EXPECT_EQ(v.lowerStatus, status::kOk);
  EXPECT_EQ(v.upperStatus, MakeHResult(0x8002000B));
}

// Every namespace has the system classes, named by the repository's own
// spelling of the namespace whatever the connection said.
TEST_F(SimWmiTest, SystemClassesInEveryNamespace) {
  std::string error;
  ASSERT_TRUE(LoadWmiData(nlohmann::ordered_json::parse(R"({"root\\Other": {"classes": [
      {"name": "__Odd", "properties": [{"name": "P", "type": "uint32"}]}]}})"),
                          repository_, &error))
      << error;
  wmi::LocatorPtr locator;
  ASSERT_EQ(runtime_->CreateLocator(&locator), 0);
  const struct {
    const wchar_t* resource;
    const wchar_t* className;
    const wchar_t* namespaceName;
    const wchar_t* superclass;  // null: none
  } cases[] = {
      {L"root\\wmi", L"__SystemClass", L"ROOT\\WMI", nullptr},
      {L"\\\\.\\Root\\Wmi", L"__systemclass", L"ROOT\\WMI", nullptr},
      {L"ROOT\\OTHER", L"__SystemClass", L"root\\Other", nullptr},
      {L"ROOT\\OTHER", L"__Odd", L"root\\Other", nullptr},
      {L"root\\wmi", L"__ExtendedStatus", L"ROOT\\WMI", L"__NotifyStatus"},
      {L"root\\wmi", L"__NotifyStatus", L"ROOT\\WMI", L"__SystemClass"},
  };
  for (const auto& c : cases) {
    const std::string name = Narrow(c.resource) + " " + Narrow(c.className);
    wmi::ServicesPtr services;
    ASSERT_EQ(locator->ConnectServer(c.resource, nullptr, nullptr, &services), 0) << name;
    ObjectPtr object;
    ASSERT_EQ(services->GetObject(c.className, 0, &object), 0) << name;
    Value v;
    ASSERT_EQ(object->Get(L"__NAMESPACE", &v, nullptr), 0) << name;
    EXPECT_EQ(v.text, c.namespaceName) << name;
    ASSERT_EQ(object->Get(L"__CLASS", &v, nullptr), 0) << name;
    EXPECT_TRUE(SameName(v.text, c.className)) << name;
    ASSERT_EQ(object->Get(L"__GENUS", &v, nullptr), 0) << name;
    EXPECT_EQ(v.integer, 1) << name;  // a class
    ASSERT_EQ(object->Get(L"__SUPERCLASS", &v, nullptr), 0) << name;
    if (c.superclass == nullptr) {
      EXPECT_TRUE(v.IsNull()) << name;
    } else {
      EXPECT_EQ(v.text, c.superclass) << name;
    }
    EXPECT_EQ(object->InheritsFrom(L"__NotifyStatus"),
              c.superclass == nullptr ? status::kWbemSFalse : status::kOk)
        << name;
  }
  ObjectPtr object;
  wmi::ServicesPtr other;
  ASSERT_EQ(locator->ConnectServer(L"root\\other", nullptr, nullptr, &other), 0);
  EXPECT_EQ(other->GetObject(L"MPIO_DISK_INFO", 0, &object), status::kWbemNotFound);
  EXPECT_EQ(All(L"__SystemClass").size(), 0u);  // a class without instances
}

TEST_F(SimWmiTest, ConnectionRules) {
  wmi::LocatorPtr locator;
  ASSERT_EQ(runtime_->CreateLocator(&locator), 0);
  wmi::ServicesPtr s;
  EXPECT_EQ(locator->ConnectServer(L"root\\wmi", nullptr, nullptr, &s), 0);
  EXPECT_EQ(locator->ConnectServer(L"ROOT\\NOPE", nullptr, nullptr, &s),
            status::kWbemInvalidNamespace);
  EXPECT_EQ(locator->ConnectServer(L"\\\\.\\root\\wmi", nullptr, nullptr, &s), 0);
  EXPECT_EQ(locator->ConnectServer(L"\\\\elsewhere\\root\\wmi", nullptr, nullptr, &s),
            status::kRpcServerUnavailable);
  std::wstring user = L"DOMAIN\\admin";
  EXPECT_EQ(locator->ConnectServer(L"root\\wmi", &user, nullptr, &s), MakeHResult(0x80041064));
}

// Other machines answer by name with their own repositories, and ask for
// the credentials they were given.
TEST_F(SimWmiTest, RemoteMachines) {
  auto secured = std::make_shared<Repository>();
  secured->SetServer(L"SAN-B");
  secured->Add(L"ROOT\\WMI");
  auto open = std::make_shared<Repository>();
  open->SetServer(L"SAN-C");
  open->Add(L"ROOT\\WMI");
  world_->remotes[L"SAN-B"] = RemoteMachine{L"LAB\\admin", L"Secret", secured};
  world_->remotes[L"san-c"] = RemoteMachine{std::nullopt, L"", open};
  wmi::LocatorPtr locator;
  ASSERT_EQ(runtime_->CreateLocator(&locator), 0);
  const std::wstring kNone = L"<none>";  // stands for a null pointer
  const struct {
    const wchar_t* resource;
    std::wstring user;
    std::wstring password;
    HResult expected;
    const wchar_t* server;  // of the namespace reached
  } cases[] = {
      {L"\\\\SAN-B\\root\\wmi", L"LAB\\admin", L"Secret", status::kOk, L"SAN-B"},
      {L"\\\\san-b\\root\\wmi", L"lab\\ADMIN", L"Secret", status::kOk, L"SAN-B"},
      {L"\\\\SAN-B\\root\\wmi", L"LAB\\admin", L"secret", status::kAccessDenied, nullptr},
      {L"\\\\SAN-B\\root\\wmi", L"LAB\\other", L"Secret", status::kAccessDenied, nullptr},
      {L"\\\\SAN-B\\root\\wmi", L"admin", L"Secret", status::kAccessDenied, nullptr},
      {L"\\\\SAN-B\\root\\wmi", kNone, kNone, status::kAccessDenied, nullptr},
      {L"\\\\SAN-B\\root\\wmi", L"LAB\\admin", kNone, status::kAccessDenied, nullptr},
      {L"\\\\SAN-B\\root\\nope", L"LAB\\admin", L"Secret", status::kWbemInvalidNamespace, nullptr},
      {L"\\\\SAN-C\\root\\wmi", kNone, kNone, status::kOk, L"SAN-C"},
      {L"\\\\San-C\\ROOT\\WMI", L"anyone", L"anything", status::kOk, L"SAN-C"},
      {L"\\\\SAN-D\\root\\wmi", kNone, kNone, status::kRpcServerUnavailable, nullptr},
      {L"\\\\SAN-D\\root\\wmi", L"LAB\\admin", L"Secret", status::kRpcServerUnavailable, nullptr},
      {L"\\\\localhost\\root\\wmi", kNone, kNone, status::kOk, L"TOLLARD-SIM"},
      {L"\\\\Tollard-Sim\\root\\wmi", kNone, kNone, status::kOk, L"TOLLARD-SIM"},
      {L"\\\\.\\root\\wmi", L"LAB\\admin", L"Secret", status::kWbemLocalCredentials, nullptr},
      {L"\\\\LOCALHOST\\root\\wmi", L"x", kNone, status::kWbemLocalCredentials, nullptr},
      {L"\\\\tollard-sim\\root\\wmi", L"x", L"y", status::kWbemLocalCredentials, nullptr},
      {L"root\\wmi", L"", L"password only", status::kOk, L"TOLLARD-SIM"},
  };
  for (const auto& c : cases) {
    const std::string name = Narrow(c.resource) + " " + Narrow(c.user) + " " + Narrow(c.password);
    wmi::ServicesPtr services;
    const HResult hr =
        locator->ConnectServer(c.resource, c.user == kNone ? nullptr : &c.user,
                               c.password == kNone ? nullptr : &c.password, &services);
    EXPECT_EQ(hr, c.expected) << name;
    if (c.server == nullptr) {
      EXPECT_EQ(services, nullptr) << name;
      // A refusal of the machine or the credentials comes before WMI is
      // reached and leaves no error object; WMI's own failures leave one.
      const bool beforeWmi = hr == status::kAccessDenied || hr == status::kRpcServerUnavailable ||
                             hr == status::kWbemLocalCredentials;
      EXPECT_EQ(runtime_->TakeErrorObject() != nullptr, !beforeWmi) << name;
      continue;
    }
    ASSERT_NE(services, nullptr) << name;
    ObjectPtr object;
    ASSERT_EQ(services->GetObject(L"__SystemClass", 0, &object), 0) << name;
    Value v;
    ASSERT_EQ(object->Get(L"__SERVER", &v, nullptr), 0);
    EXPECT_EQ(v.text, c.server) << name;
    ASSERT_EQ(object->Get(L"__PATH", &v, nullptr), 0);
    EXPECT_EQ(v.text, L"\\\\" + std::wstring(c.server) + L"\\ROOT\\WMI:__SystemClass") << name;
  }
  // A connection keeps its machine's repository, even when the machine
  // file is read again and the machine replaced.
  wmi::ServicesPtr services;
  ASSERT_EQ(locator->ConnectServer(L"\\\\SAN-C\\root\\wmi", nullptr, nullptr, &services), 0);
  world_->remotes.clear();
  open.reset();
  ObjectPtr object;
  EXPECT_EQ(services->GetObject(L"__SystemClass", 0, &object), 0);
}

// A proxy carries the process's impersonation level from the security
// set-up on, until its own blanket is set.
TEST_F(SimWmiTest, ProxiesCarryTheProcessImpersonationLevel) {
  auto levels = [](wmi::Proxy& proxy) {
    uint32_t authn = 0, imp = 0;
    EXPECT_EQ(proxy.QueryBlanket(&authn, &imp), 0);
    return imp;
  };
  wmi::EnumeratorPtr e;
  ASSERT_EQ(services_->CreateInstanceEnum(L"Thing", 1, &e), 0);
  EXPECT_EQ(levels(*services_), 2u);  // no set-up yet: the machine's default
  EXPECT_EQ(levels(*e), 2u);

  ASSERT_EQ(runtime_->InitializeSecurity(), 0);
  wmi::LocatorPtr locator;
  ASSERT_EQ(runtime_->CreateLocator(&locator), 0);
  wmi::ServicesPtr services;
  ASSERT_EQ(locator->ConnectServer(L"ROOT\\WMI", nullptr, nullptr, &services), 0);
  ASSERT_EQ(services->CreateInstanceEnum(L"Thing", 1, &e), 0);
  EXPECT_EQ(levels(*services), 3u);
  EXPECT_EQ(levels(*e), 3u);
  wmi::Blanket blanket;
  blanket.impLevel = 4;
  ASSERT_EQ(e->SetBlanket(blanket), 0);
  EXPECT_EQ(levels(*e), 4u);
  EXPECT_EQ(levels(*services), 3u);
}

TEST(WmiDataTest, MalformedDataIsRefusedWithItsPlace) {
  const char* bad[] = {
      R"({"ROOT\\WMI": {"classes": [{"properties": []}]}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "int"}]}]}})",
      R"({"ROOT\\WMI": {"instances": {"Unknown": [{}]}}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "uint32"}]}],
          "instances": {"C": [{"P": "text"}]}}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "uint32"}]}],
          "instances": {"C": [{"Q": 1}]}}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "uint32"}]}],
          "instances": {"C": [{"P": {"$vt": "weird", "$value": 1}}]}}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "uint32"}]}],
          "instances": {"C": [{"P": {"$value": 1, "$lowerStatus": "0x8002000B"}}]}}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "uint32[]"}]}],
          "instances": {"C": [{"P": {"$value": [1], "$upperStatus": 0}}]}}})",
      R"({"ROOT\\WMI": {"classes": [{"name": "C", "properties": [{"name": "P", "type": "uint32[]"}]}],
          "instances": {"C": [{"P": {"$value": [1], "$upperstatus": "0x8002000B"}}]}}})",
      R"([1])",
  };
  for (const char* text : bad) {
    Repository repository;
    std::string error;
    EXPECT_FALSE(LoadWmiData(nlohmann::ordered_json::parse(text), repository, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace platform::sim
