// In-memory objects, services and runtime for the listing engine's tests:
// properties with CIM types and qualifiers, failures per property, proxies
// that record the blanket they were given, error objects to hand out.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/output.h"
#include "platform/wmi.h"
#include "wmilist/listing_engine.h"

namespace wmilist::testing {

namespace vt = platform::wmi::vt;
namespace cim = platform::wmi::cim;
namespace status = platform::status;
using platform::MakeHResult;
using wmi::ObjectPtr;
using wmi::Value;

/// An object with properties in a given order; each can fail its read or
/// its qualifiers. "__CLASS" is answered from the class name.
class TestObject : public wmi::Object {
 public:
  explicit TestObject(std::wstring className = L"Thing") : className_(std::move(className)) {}

  struct Property {
    std::wstring name;
    Value value;
    int32_t cimType = 0;
    bool key = false;
    HResult read = status::kOk;
    HResult cimTypeQualifier = status::kOk;
    HResult qualifierSet = status::kOk;
    HResult keyQualifier = status::kOk;
  };

  /// Adds a property; returns it for further changes.
  Property& Add(std::wstring name, Value value, int32_t cimType = 0) {
    properties_.push_back({std::move(name), std::move(value), cimType});
    return properties_.back();
  }
  HResult getNames = status::kOk;
  HResult classRead = status::kOk;
  std::vector<std::wstring> ancestors;

  HResult Get(std::wstring_view name, Value* value, int32_t* cimType) const override {
    if (name == L"__CLASS") {
      if (classRead != status::kOk) return classRead;
      *value = Value::Bstr(className_);
      return status::kOk;
    }
    const Property* p = Find(name);
    if (p == nullptr) return status::kWbemNotFound;
    if (p->read < 0) return p->read;
    *value = p->value;
    if (cimType != nullptr) *cimType = p->cimType;
    return p->read;
  }
  HResult Put(std::wstring_view, const Value&, int32_t) override { return status::kFail; }
  HResult GetNames(int32_t flags, std::vector<std::wstring>* names) const override {
    EXPECT_EQ(flags, wmi::kFlagNonSystemOnly);
    if (getNames < 0) return getNames;
    for (const Property& p : properties_) names->push_back(p.name);
    return status::kOk;
  }
  HResult GetPropertyQualifierSet(std::wstring_view property) const override {
    if (property.starts_with(L"__")) return status::kWbemSystemProperty;
    const Property* p = Find(property);
    return p == nullptr ? status::kWbemNotFound : p->qualifierSet;
  }
  HResult GetPropertyQualifier(std::wstring_view property, std::wstring_view qualifier,
                               Value* value) const override {
    if (property.starts_with(L"__")) return status::kWbemSystemProperty;
    const Property* p = Find(property);
    if (p == nullptr) return status::kWbemNotFound;
    if (qualifier == L"CIMTYPE") {
      if (p->cimTypeQualifier != status::kOk) return p->cimTypeQualifier;
      *value = Value::Bstr(L"uint32");
      return status::kOk;
    }
    EXPECT_EQ(qualifier, L"key");
    if (p->keyQualifier != status::kOk) return p->keyQualifier;
    if (!p->key) return status::kWbemNotFound;
    *value = Value::Bool(true);
    return status::kOk;
  }
  HResult GetMethod(std::wstring_view, ObjectPtr*) const override { return status::kFail; }
  HResult SpawnInstance(ObjectPtr*) const override { return status::kFail; }
  HResult InheritsFrom(std::wstring_view ancestor) const override {
    for (const std::wstring& a : ancestors) {
      if (a == ancestor) return status::kOk;
    }
    return status::kWbemSFalse;
  }

 private:
  const Property* Find(std::wstring_view name) const {
    for (const Property& p : properties_) {
      if (p.name == name) return &p;
    }
    return nullptr;
  }
  std::wstring className_;
  std::vector<Property> properties_;
};

/// A proxy that starts with given levels and records every blanket set.
class TestProxy {
 public:
  uint32_t authn = 6;
  uint32_t imp = 3;
  HResult query = status::kOk;
  HResult set = status::kOk;
  std::vector<wmi::Blanket> blankets;

  HResult DoQuery(uint32_t* a, uint32_t* i) {
    if (query < 0) return query;
    *a = authn;
    *i = imp;
    return status::kOk;
  }
  HResult DoSet(const wmi::Blanket& b) {
    blankets.push_back(b);
    return set;
  }
};

class TestEnumerator : public wmi::Enumerator, public TestProxy {
 public:
  std::vector<ObjectPtr> objects;
  size_t failAt = SIZE_MAX;
  HResult failure = status::kFail;

  HResult QueryBlanket(uint32_t* a, uint32_t* i) override { return DoQuery(a, i); }
  HResult SetBlanket(const wmi::Blanket& b) override { return DoSet(b); }
  HResult Next(int32_t timeout, ObjectPtr* object, uint32_t* returned) override {
    EXPECT_EQ(timeout, wmi::kInfinite);
    *returned = 0;
    if (at_ == failAt) return failure;
    if (at_ == objects.size()) return status::kWbemSFalse;
    *object = objects[at_++];
    *returned = 1;
    return status::kOk;
  }

 private:
  size_t at_ = 0;
};

class TestServices : public wmi::Services, public TestProxy {
 public:
  std::map<std::wstring, ObjectPtr> classes;
  std::map<std::wstring, HResult> getObjectFailures;
  std::shared_ptr<TestEnumerator> enumerator = std::make_shared<TestEnumerator>();
  HResult openEnum = status::kOk;
  std::wstring enumerated;

  HResult QueryBlanket(uint32_t* a, uint32_t* i) override { return DoQuery(a, i); }
  HResult SetBlanket(const wmi::Blanket& b) override { return DoSet(b); }
  HResult CreateInstanceEnum(std::wstring_view className, int32_t flags,
                             wmi::EnumeratorPtr* out) override {
    EXPECT_EQ(flags, wmi::kFlagShallow);
    enumerated = className;
    if (openEnum < 0) return openEnum;
    *out = enumerator;
    return status::kOk;
  }
  HResult GetObject(std::wstring_view path, int32_t, ObjectPtr* object) override {
    std::wstring name(path);
    if (auto f = getObjectFailures.find(name); f != getObjectFailures.end()) return f->second;
    auto found = classes.find(name);
    if (found == classes.end()) return status::kWbemNotFound;
    *object = found->second;
    return status::kOk;
  }
  HResult ExecMethod(std::wstring_view, std::wstring_view, const ObjectPtr&, ObjectPtr*) override {
    return status::kWbemNotSupported;
  }
  HResult ExecNotificationQueryAsync(std::wstring_view, std::wstring_view, int32_t,
                                     const wmi::EventSinkPtr&) override {
    return status::kWbemNotSupported;
  }
  HResult CancelAsyncCall(const wmi::EventSinkPtr&) override { return status::kOk; }
};

class TestLocator : public wmi::Locator {
 public:
  std::shared_ptr<TestServices> services = std::make_shared<TestServices>();
  HResult connect = status::kOk;
  std::wstring resource;
  std::optional<std::wstring> user;
  std::optional<std::wstring> password;

  HResult ConnectServer(std::wstring_view r, const std::wstring* u, const std::wstring* p,
                        wmi::ServicesPtr* out) override {
    resource = r;
    if (u != nullptr) user = *u;
    if (p != nullptr) password = *p;
    if (connect < 0) return connect;
    *out = services;
    return status::kOk;
  }
};

class TestRuntime : public wmi::Runtime {
 public:
  std::shared_ptr<TestLocator> locator = std::make_shared<TestLocator>();
  HResult createLocator = status::kOk;
  /// Handed out once by the next TakeErrorObject.
  ObjectPtr error;

  HResult Initialize() override { return status::kOk; }
  HResult InitializeSecurity() override { return status::kOk; }
  HResult CreateLocator(wmi::LocatorPtr* out) override {
    if (createLocator < 0) return createLocator;
    *out = locator;
    return status::kOk;
  }
  HResult CreateSinkStub(const wmi::EventSinkPtr&, wmi::EventSinkPtr*) override {
    return status::kFail;
  }
  ObjectPtr TakeErrorObject() override { return std::exchange(error, nullptr); }
  void Uninitialize() override {}
};

/// An engine on a test runtime with captured output and the given table.
struct ListingFixture {
  explicit ListingFixture(std::span<const EmbeddedClass> table = {})
      : listing{context, out, err, runtime, table} {}
  ListingContext context;
  platform::StringOutput out;
  platform::StringOutput err;
  TestRuntime runtime;
  Listing listing;
};

/// Narrow text of wide text, for comparing with expected output.
inline std::string Narrow(std::wstring_view text) { return platform::ToConsoleText(text); }

}  // namespace wmilist::testing
