// An in-memory stand-in for the WMI seam, for the DSM command tests: class
// instances given property by property, failures injected per class or per
// call, and a record of every method executed with its input.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dsm/wmi_connection.h"
#include "platform/output.h"
#include "platform/wmi.h"

namespace dsm::testing {

namespace wmi = platform::wmi;
namespace status = platform::status;
using platform::HResult;
using wmi::ObjectPtr;
using wmi::Value;

/// Failures to inject, by class name (or class and property for Put).
struct FakeFaults {
  std::map<std::wstring, HResult> openEnum;
  /// Next fails with the code once this many objects have been handed out.
  std::map<std::wstring, std::pair<size_t, HResult>> next;
  std::map<std::wstring, HResult> getObject;
  std::map<std::wstring, HResult> spawn;
  std::map<std::pair<std::wstring, std::wstring>, HResult> put;
};

class FakeObject : public wmi::Object {
 public:
  FakeObject(std::wstring className, std::shared_ptr<FakeFaults> faults)
      : className_(std::move(className)), faults_(std::move(faults)) {}

  /// Sets a property as raw data, with no checks.
  FakeObject& Set(const std::wstring& name, Value value, int32_t cimType = 0) {
    props_[name] = {std::move(value), cimType};
    return *this;
  }
  /// The value and CIM type last set or put, or null.
  const std::pair<Value, int32_t>* Find(std::wstring_view name) const {
    auto hit = props_.find(name);
    return hit == props_.end() ? nullptr : &hit->second;
  }
  const std::wstring& ClassName() const { return className_; }

  HResult Get(std::wstring_view name, Value* value, int32_t* cimType) const override {
    const auto* prop = Find(name);
    if (prop == nullptr) return status::kWbemNotFound;
    *value = prop->first;
    if (cimType != nullptr) *cimType = prop->second;
    return status::kOk;
  }
  HResult Put(std::wstring_view name, const Value& value, int32_t cimType) override {
    auto fault = faults_->put.find({className_, std::wstring(name)});
    if (fault != faults_->put.end()) return fault->second;
    Set(std::wstring(name), value, cimType);
    return status::kOk;
  }
  HResult GetNames(int32_t, std::vector<std::wstring>* names) const override {
    for (const auto& [name, prop] : props_) names->push_back(name);
    return status::kOk;
  }
  HResult GetPropertyQualifier(std::wstring_view, std::wstring_view, Value*) const override {
    return status::kWbemNotFound;
  }
  /// Every method takes an input object of class "__PARAMETERS:<method>".
  HResult GetMethod(std::wstring_view name, ObjectPtr* inSignature) const override {
    *inSignature = std::make_shared<FakeObject>(L"__PARAMETERS:" + std::wstring(name), faults_);
    return status::kOk;
  }
  HResult SpawnInstance(ObjectPtr* instance) const override {
    auto fault = faults_->spawn.find(className_);
    if (fault != faults_->spawn.end()) return fault->second;
    *instance = std::make_shared<FakeObject>(className_, faults_);
    return status::kOk;
  }
  HResult InheritsFrom(std::wstring_view) const override { return status::kWbemSFalse; }

 private:
  std::wstring className_;
  std::shared_ptr<FakeFaults> faults_;
  std::map<std::wstring, std::pair<Value, int32_t>, std::less<>> props_;
};

class FakeEnumerator : public wmi::Enumerator {
 public:
  /// Hands out `objects`, which must outlive the enumerator.
  FakeEnumerator(const std::vector<ObjectPtr>& objects, size_t failAfter, HResult failure)
      : objects_(objects), failAfter_(failAfter), failure_(failure) {}
  HResult QueryBlanket(uint32_t*, uint32_t*) override { return status::kOk; }
  HResult SetBlanket(const wmi::Blanket&) override { return status::kOk; }
  HResult Next(int32_t timeout, ObjectPtr* object, uint32_t* returned) override {
    EXPECT_EQ(timeout, wmi::kInfinite);
    *returned = 0;
    if (at_ == failAfter_) return failure_;
    if (at_ == objects_.size()) return status::kWbemSFalse;
    *object = objects_[at_++];
    *returned = 1;
    return status::kOk;
  }

 private:
  const std::vector<ObjectPtr>& objects_;
  size_t at_ = 0;
  size_t failAfter_;
  HResult failure_;
};

/// One ExecMethod call as the fake saw it.
struct ExecCall {
  std::wstring path;
  std::wstring method;
  ObjectPtr in;
};

class FakeServices : public wmi::Services {
 public:
  std::shared_ptr<FakeFaults> faults = std::make_shared<FakeFaults>();
  std::map<std::wstring, std::vector<ObjectPtr>> instances;
  std::vector<ExecCall> calls;
  std::map<std::wstring, int> enumerations;
  /// The result of an ExecMethod call; 0 unless set.
  std::function<HResult(const ExecCall&)> execResult;

  /// A new object of `className` sharing this fake's faults.
  std::shared_ptr<FakeObject> New(const std::wstring& className) {
    return std::make_shared<FakeObject>(className, faults);
  }
  /// Adds an instance of `className`.
  FakeObject& Add(const std::wstring& className) {
    auto object = New(className);
    instances[className].push_back(object);
    return *object;
  }

  HResult QueryBlanket(uint32_t*, uint32_t*) override { return status::kOk; }
  HResult SetBlanket(const wmi::Blanket&) override { return status::kOk; }
  HResult CreateInstanceEnum(std::wstring_view className, int32_t flags,
                             wmi::EnumeratorPtr* enumerator) override {
    std::wstring name(className);
    EXPECT_EQ(flags, wmi::kFlagShallow);
    ++enumerations[name];
    if (auto fault = faults->openEnum.find(name); fault != faults->openEnum.end()) {
      return fault->second;
    }
    size_t failAfter = SIZE_MAX;
    HResult failure = status::kOk;
    if (auto fault = faults->next.find(name); fault != faults->next.end()) {
      std::tie(failAfter, failure) = fault->second;
    }
    *enumerator = std::make_shared<FakeEnumerator>(instances[name], failAfter, failure);
    return status::kOk;
  }
  HResult GetObject(std::wstring_view path, int32_t, ObjectPtr* object) override {
    std::wstring name(path);
    if (auto fault = faults->getObject.find(name); fault != faults->getObject.end()) {
      return fault->second;
    }
    *object = New(name);
    return status::kOk;
  }
  HResult ExecMethod(std::wstring_view path, std::wstring_view method, const ObjectPtr& in,
                     ObjectPtr* out) override {
    calls.push_back({std::wstring(path), std::wstring(method), in});
    if (out != nullptr) *out = New(L"__PARAMETERS");
    return execResult ? execResult(calls.back()) : status::kOk;
  }
  HResult ExecNotificationQueryAsync(std::wstring_view, std::wstring_view, int32_t,
                                     const wmi::EventSinkPtr&) override {
    return status::kWbemNotSupported;
  }
  HResult CancelAsyncCall(const wmi::EventSinkPtr&) override { return status::kOk; }
};

/// One path of a simulated device: its id, SCSI address (port, path,
/// target, LUN), adapter and controller port names, state and counters.
struct SanPath {
  uint64_t id = 0;
  std::array<uint8_t, 4> address{};
  uint64_t hba = 0;
  uint64_t ctrl = 0;
  uint32_t weight = 0;
  bool primary = false;
  uint8_t state = 1;
  uint64_t bytesRead = 0;
  uint64_t bytesWritten = 0;
  uint32_t reads = 0;
  uint32_t writes = 0;
};

/// Port names shared by the device tests: two adapters and one controller.
constexpr uint64_t kHbaA = 0x2100001B32000001;
constexpr uint64_t kHbaB = 0x2100001B32000002;
constexpr uint64_t kCtrl = 0x500601603BA01D2E;

/// A path at SCSI address (port, 0, 5, 1) through `hba` to kCtrl.
inline SanPath ListedPath(uint64_t id, uint8_t port, uint64_t hba) {
  SanPath p;
  p.id = id;
  p.address = {port, 0, 5, 1};
  p.hba = hba;
  p.ctrl = kCtrl;
  return p;
}

/// A simulated device: serial number 8 hex digits (high) - 2 (low).
struct SanDevice {
  std::wstring instance;
  int32_t policy = 2;
  int32_t failBack = 2;
  uint32_t serialHigh = 0;
  uint8_t serialLow = 0;
  std::vector<SanPath> paths;
};

inline Value U64Text(uint64_t v) { return Value::Bstr(std::to_wstring(v)); }

/// The 26-byte performance identifier of a path of a device.
inline std::vector<uint8_t> Identifier(const SanDevice& device, const SanPath& path) {
  std::vector<uint8_t> bytes(path.address.begin(), path.address.end());
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(path.hba >> shift));
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(path.ctrl >> shift));
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(device.serialHigh >> shift));
  bytes.push_back(device.serialLow);
  bytes.push_back(path.state);
  return bytes;
}

inline Value Bytes(const std::vector<uint8_t>& bytes) {
  std::vector<Value> elements;
  for (uint8_t b : bytes) elements.push_back(Value::Int(wmi::vt::kUi1, b));
  return Value::Array(wmi::vt::kUi1, std::move(elements));
}

inline Value Objects(std::vector<ObjectPtr> objects, int32_t lower = 0) {
  std::vector<Value> elements;
  for (ObjectPtr& o : objects) elements.push_back(Value::Unknown(std::move(o)));
  return Value::Array(wmi::vt::kUnknown, std::move(elements), lower);
}

inline ObjectPtr DsmPath(FakeServices& wmi, uint64_t id, uint32_t weight, bool primary) {
  auto path = wmi.New(L"MPIO_DSM_PATH");
  path->Set(L"DsmPathId", U64Text(id))
      .Set(L"PathWeight", Value::I4(int32_t(weight)))
      .Set(L"PrimaryPath", Value::I4(primary ? 1 : 0));
  return path;
}

/// The embedded LoadBalancePolicy object of a policy instance.
inline std::shared_ptr<FakeObject> PolicyObject(FakeServices& wmi, int32_t policy, int32_t failBack,
                                                int32_t count, std::vector<ObjectPtr> paths) {
  auto lb = wmi.New(L"ORNDSM_Load_Balance_Policy");
  lb->Set(L"LoadBalancePolicy", Value::I4(policy))
      .Set(L"FailBack", Value::I4(failBack))
      .Set(L"DSMPathCount", Value::I4(count))
      .Set(L"DSM_Paths", Objects(std::move(paths)));
  return lb;
}

/// Adds the policy instance, performance entries, descriptors and method
/// object of each device. Performance entries and descriptors go into one
/// instance each, in device order and path order.
inline void Install(FakeServices& wmi, const std::vector<SanDevice>& devices) {
  std::vector<ObjectPtr> perf;
  std::vector<ObjectPtr> descriptors;
  for (const SanDevice& device : devices) {
    std::vector<ObjectPtr> paths;
    for (const SanPath& p : device.paths) {
      paths.push_back(DsmPath(wmi, p.id, p.weight, p.primary));
      auto record = wmi.New(L"ORNDSM_PERF_INFO");
      record->Set(L"BytesRead", U64Text(p.bytesRead))
          .Set(L"BytesWritten", U64Text(p.bytesWritten))
          .Set(L"NumberReads", Value::I4(int32_t(p.reads)))
          .Set(L"NumberWrites", Value::I4(int32_t(p.writes)))
          .Set(L"pendingIOs", Value::I4(0))
          .Set(L"Identifier", Bytes(Identifier(device, p)));
      perf.push_back(record);
      auto address = wmi.New(L"MPIO_SCSI_ADDRESS");
      address->Set(L"PortNumber", Value::I4(p.address[0]))
          .Set(L"ScsiPathId", Value::I4(p.address[1]))
          .Set(L"TargetId", Value::I4(p.address[2]))
          .Set(L"Lun", Value::I4(p.address[3]));
      auto descriptor = wmi.New(L"MPIO_PDO_INFO");
      descriptor->Set(L"PathIdentifier", U64Text(p.id))
          .Set(L"ScsiAddress", Value::Unknown(address));
      descriptors.push_back(descriptor);
    }
    int32_t count = int32_t(device.paths.size());
    wmi.Add(L"ORNDSM_QueryLBPolicy")
        .Set(L"InstanceName", Value::Bstr(device.instance))
        .Set(L"LoadBalancePolicy",
             Value::Unknown(PolicyObject(wmi, device.policy, device.failBack, count, paths)));
    wmi.Add(L"ORNDSM_WMI_METHODS").Set(L"InstanceName", Value::Bstr(device.instance));
  }
  wmi.Add(L"ORNDSM_PERFINFO").Set(L"PerfInfo", Objects(perf));
  wmi.Add(L"MPIO_GET_DESCRIPTOR").Set(L"PdoInformation", Objects(descriptors));
}

/// A property of a fake object, or a failed expectation and an empty value.
inline Value PropertyOf(const ObjectPtr& object, const std::wstring& name, int32_t* cimType) {
  auto* fake = dynamic_cast<FakeObject*>(object.get());
  const auto* prop = fake ? fake->Find(name) : nullptr;
  EXPECT_NE(prop, nullptr) << "no property " << platform::ToConsoleText(name);
  if (prop == nullptr) return Value{};
  if (cimType != nullptr) *cimType = prop->second;
  return prop->first;
}

/// A property of a fake object that must hold `type` with `cimType`.
inline Value Typed(const ObjectPtr& object, const std::wstring& name, uint16_t type,
                   int32_t cimType) {
  int32_t actual = -1;
  Value value = PropertyOf(object, name, &actual);
  EXPECT_EQ(value.type, type) << platform::ToConsoleText(name);
  EXPECT_EQ(actual, cimType) << platform::ToConsoleText(name);
  return value;
}

/// The elements of an array-of-objects property, checked for their types.
inline std::vector<ObjectPtr> TypedObjects(const ObjectPtr& object, const std::wstring& name) {
  Value array = Typed(object, name, wmi::vt::kArray | wmi::vt::kUnknown,
                      wmi::cim::kArray | wmi::cim::kObject);
  EXPECT_EQ(array.lower, 0);
  std::vector<ObjectPtr> elements;
  for (const Value& v : array.elements) {
    EXPECT_EQ(v.type, wmi::vt::kUnknown);
    elements.push_back(v.object);
  }
  return elements;
}

/// One MPIO_DSM_PATH of a policy sent to the DSM.
struct SentPath {
  std::wstring id;
  int32_t weight = 0;
  int32_t primary = 0;
  bool operator==(const SentPath&) const = default;
};

/// The ORNDSM_Load_Balance_Policy sent with OrnDsmSetLoadBalancePolicy,
/// its fields checked for their VARIANT and CIM types on the way.
struct SentPolicy {
  int32_t version = 0;
  int32_t policy = 0;
  int32_t count = 0;
  int32_t failBack = 0;
  std::vector<SentPath> paths;
};

inline SentPolicy DecodePolicy(const ExecCall& call) {
  EXPECT_EQ(call.method, L"OrnDsmSetLoadBalancePolicy");
  const int32_t kI4 = wmi::vt::kI4;
  ObjectPtr lb = Typed(call.in, L"LoadBalancePolicy", wmi::vt::kUnknown, wmi::cim::kObject).object;
  SentPolicy sent;
  sent.version = int32_t(Typed(lb, L"Version", kI4, 0).integer);
  sent.policy = int32_t(Typed(lb, L"LoadBalancePolicy", kI4, 0).integer);
  sent.count = int32_t(Typed(lb, L"DSMPathCount", kI4, 0).integer);
  sent.failBack = int32_t(Typed(lb, L"FailBack", kI4, 0).integer);
  for (const ObjectPtr& path : TypedObjects(lb, L"DSM_Paths")) {
    EXPECT_EQ(Typed(path, L"Reserved", wmi::vt::kBstr, 0).text, L"0");  // a uint64
    sent.paths.push_back({Typed(path, L"DsmPathId", wmi::vt::kBstr, 0).text,
                          int32_t(Typed(path, L"PathWeight", kI4, 0).integer),
                          int32_t(Typed(path, L"PrimaryPath", kI4, 0).integer)});
  }
  return sent;
}

/// Installs a fresh fake as the process's WMI connection for each test.
class FakeWmiTest : public ::testing::Test {
 protected:
  void SetUp() override { WmiServices() = wmi_; }
  void TearDown() override { WmiServices().reset(); }

  std::shared_ptr<FakeServices> wmi_ = std::make_shared<FakeServices>();
  platform::StringOutput out_;
};

}  // namespace dsm::testing
