// Objects of the WMI seam built from fuzzer input: properties of the type a
// class's readers expect most of the time, and of any VARIANT type, array
// bound or nesting otherwise; reads, names, qualifiers and class names that
// fail where the input says so. Shared by the targets that feed printers
// and readers of WMI objects.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/wmi.h"

namespace fuzz_wmi {

namespace wmi = platform::wmi;
namespace vt = wmi::vt;
namespace status = platform::status;
using platform::HResult;
using wmi::ObjectPtr;
using wmi::Value;

constexpr int kMaxDepth = 4;
constexpr size_t kMaxElements = 8;
constexpr size_t kMaxBytes = 40;

/// What a property is expected to hold.
enum class Kind { kText, kNumberText, kInt, kObject, kObjectArray, kBytes };
/// Which object a property's embedded objects are.
enum class Role {
  kNone,
  kPolicyInstance,
  kPolicy,
  kPath,
  kPerfInstance,
  kPerf,
  kDescriptorInstance,
  kDescriptor,
  kAddress,
  kMethods,
  kConfig,
  kUniqueId
};

struct PropertyShape {
  const wchar_t* name;
  Kind kind;
  Role child = Role::kNone;
};

inline std::vector<PropertyShape> ShapesOf(Role role) {
  switch (role) {
    case Role::kPolicyInstance:
      return {{L"InstanceName", Kind::kText}, {L"LoadBalancePolicy", Kind::kObject, Role::kPolicy}};
    case Role::kPolicy:
      return {{L"Version", Kind::kInt},      {L"LoadBalancePolicy", Kind::kInt},
              {L"DSMPathCount", Kind::kInt}, {L"FailBack", Kind::kInt},
              {L"Reserved", Kind::kInt},     {L"DSM_Paths", Kind::kObjectArray, Role::kPath}};
    case Role::kPath:
      return {{L"DsmPathId", Kind::kNumberText}, {L"PathWeight", Kind::kInt},
              {L"PrimaryPath", Kind::kInt},      {L"Reserved", Kind::kNumberText},
              {L"OptimizedPath", Kind::kInt},    {L"FailedPath", Kind::kInt},
              {L"SymmetricLUA", Kind::kInt},     {L"TargetPortGroup_Identifier", Kind::kInt}};
    case Role::kPerfInstance:
      return {{L"InstanceName", Kind::kText}, {L"PerfInfo", Kind::kObjectArray, Role::kPerf}};
    case Role::kPerf:
      return {{L"BytesRead", Kind::kNumberText},
              {L"BytesWritten", Kind::kNumberText},
              {L"NumberReads", Kind::kInt},
              {L"NumberWrites", Kind::kInt},
              {L"pendingIOs", Kind::kInt},
              {L"Identifier", Kind::kBytes},
              {L"PathId", Kind::kNumberText},
              {L"PortNumber", Kind::kInt},
              {L"Lun", Kind::kInt},
              {L"Page83", Kind::kBytes},
              {L"LMEI", Kind::kBytes},
              {L"vendorid", Kind::kBytes}};
    case Role::kDescriptorInstance:
      return {{L"InstanceName", Kind::kText},
              {L"PdoInformation", Kind::kObjectArray, Role::kDescriptor}};
    case Role::kDescriptor:
      return {{L"PathIdentifier", Kind::kNumberText},
              {L"ScsiAddress", Kind::kObject, Role::kAddress}};
    case Role::kAddress:
      return {{L"PortNumber", Kind::kInt},
              {L"ScsiPathId", Kind::kInt},
              {L"TargetId", Kind::kInt},
              {L"Lun", Kind::kInt}};
    case Role::kMethods:
      return {{L"InstanceName", Kind::kText}};
    case Role::kConfig:
      return {{L"InstanceName", Kind::kText},  {L"NumberFOGroups", Kind::kInt},
              {L"NumberMPGroups", Kind::kInt}, {L"LoadBalancePolicy", Kind::kBytes},
              {L"FailBack", Kind::kBytes},     {L"ReservationList", Kind::kBytes}};
    case Role::kUniqueId:
      return {{L"InstanceName", Kind::kText}, {L"DsmUniqueId", Kind::kNumberText}};
    case Role::kNone:
      break;
  }
  return {};
}

/// Failures that the calls of the world below give, as the input chose.
/// Only kOk comes with the object asked for: other success codes (which
/// no well-behaved provider gives) come without it, like failures.
struct Failures {
  HResult getObject = status::kOk;
  HResult put = status::kOk;
  HResult spawn = status::kOk;
  HResult execMethod = status::kOk;
  bool methodWithoutInput = false;
};

inline HResult PickStatus(FuzzedDataProvider& in) {
  static constexpr HResult kCodes[] = {status::kOk,
                                       status::kFalse,
                                       status::kFail,
                                       status::kWbemNotFound,
                                       status::kWbemTypeMismatch,
                                       status::kWbemFailed,
                                       status::kWbemSTimedOut};
  return in.PickValueInArray(kCodes);
}

/// An object of the WMI seam holding fuzzed properties.
class FuzzObject : public wmi::Object {
 public:
  explicit FuzzObject(std::shared_ptr<const Failures> failures) : failures_(std::move(failures)) {}

  /// Adds a property. Its qualifiers answer `qualifiers` when that is a
  /// failure or "not found", else a CIMTYPE text and `key`.
  void Add(std::wstring name, Value value, HResult read, int32_t cimType = wmi::cim::kIllegal,
           HResult qualifiers = status::kWbemNotFound, bool key = false) {
    properties_.push_back({std::move(name), std::move(value), read, cimType, qualifiers, key});
  }

  /// The class name "__CLASS" answers (none when empty), or the failure it gives.
  std::wstring className;
  HResult classRead = status::kOk;
  /// What GetNames and InheritsFrom answer.
  HResult names = status::kOk;
  HResult inherits = status::kWbemSFalse;

  HResult Get(std::wstring_view name, Value* value, int32_t* cimType) const override {
    if (name == L"__CLASS" && (!className.empty() || platform::Failed(classRead))) {
      if (platform::Failed(classRead)) return classRead;
      *value = Value::Bstr(className);
      if (cimType != nullptr) *cimType = wmi::cim::kString;
      return status::kOk;
    }
    for (const Property& p : properties_) {
      if (p.name != name) continue;
      if (platform::Failed(p.read)) return p.read;
      *value = p.value;
      if (cimType != nullptr) *cimType = p.cimType;
      return p.read;
    }
    return status::kWbemNotFound;
  }
  HResult Put(std::wstring_view name, const Value& value, int32_t) override {
    if (platform::Failed(failures_->put)) return failures_->put;
    Add(std::wstring(name), value, status::kOk);
    return status::kOk;
  }
  HResult GetNames(int32_t, std::vector<std::wstring>* list) const override {
    if (platform::Failed(names)) return names;
    for (const Property& p : properties_) list->push_back(p.name);
    return status::kOk;
  }
  HResult GetPropertyQualifier(std::wstring_view property, std::wstring_view qualifier,
                               Value* value) const override {
    if (property.starts_with(L"__")) return status::kWbemSystemProperty;
    for (const Property& p : properties_) {
      if (p.name != property) continue;
      if (p.qualifiers != status::kOk) return p.qualifiers;
      *value = qualifier == L"key" ? Value::Bool(p.key) : Value::Bstr(L"uint32");
      return status::kOk;
    }
    return status::kWbemNotFound;
  }
  HResult GetMethod(std::wstring_view, ObjectPtr* inSignature) const override {
    if (failures_->methodWithoutInput) {
      *inSignature = nullptr;
      return status::kOk;
    }
    *inSignature = std::make_shared<FuzzObject>(failures_);
    return status::kOk;
  }
  HResult SpawnInstance(ObjectPtr* instance) const override {
    if (failures_->spawn == status::kOk) *instance = std::make_shared<FuzzObject>(failures_);
    return failures_->spawn;
  }
  HResult InheritsFrom(std::wstring_view) const override { return inherits; }

 private:
  struct Property {
    std::wstring name;
    Value value;
    HResult read;
    int32_t cimType;
    HResult qualifiers;
    bool key;
  };
  std::vector<Property> properties_;
  std::shared_ptr<const Failures> failures_;
};

/// Builds values and objects from the input.
class Builder {
 public:
  Builder(FuzzedDataProvider& in, std::shared_ptr<const Failures> failures)
      : in_(in), failures_(std::move(failures)) {}

  ObjectPtr Object(Role role, int depth) {
    auto object = std::make_shared<FuzzObject>(failures_);
    for (const PropertyShape& shape : ShapesOf(role)) {
      const uint8_t choice = in_.ConsumeIntegral<uint8_t>();
      if (choice < 16) continue;  // absent
      HResult read = choice < 24 ? PickStatus(in_) : status::kOk;
      Value value = choice < 64 ? Any(depth) : Expected(shape, depth);
      const uint8_t qualifiers = in_.ConsumeIntegral<uint8_t>();
      object->Add(shape.name, std::move(value), read, CimType(),
                  qualifiers < 8 ? PickStatus(in_) : status::kOk, (qualifiers & 1) != 0);
    }
    Name(*object);
    all_.push_back(object);
    return object;
  }

  /// Objects nested `levels` deep, each holding the next in "Inner" as an
  /// object or as the one element of an array, built without recursion.
  ObjectPtr Chain(size_t levels) {
    ObjectPtr inner = Object(Role::kAddress, kMaxDepth);
    for (size_t i = 0; i < levels; ++i) {
      auto outer = std::make_shared<FuzzObject>(failures_);
      Value value = Value::Unknown(std::move(inner));
      if (in_.ConsumeBool()) value = Value::Array(vt::kUnknown, {std::move(value)});
      outer->Add(L"Inner", std::move(value), status::kOk, wmi::cim::kObject);
      Name(*outer);
      inner = std::move(outer);
    }
    return inner;
  }

  const std::vector<ObjectPtr>& AllObjects() const { return all_; }

 private:
  // A class name from the printers' tables or none, a failing read now and then.
  void Name(FuzzObject& object) {
    static const wchar_t* const kNames[] = {
        L"",      L"PDO_INFORMATION", L"SCSI_ADDR", L"PDOSCSI_ADDR", L"MPIO_DRIVE_INFO",
        L"Other", L"__ExtendedStatus"};
    object.className = in_.PickValueInArray(kNames);
    const uint8_t choice = in_.ConsumeIntegral<uint8_t>();
    if (choice < 8) object.classRead = PickStatus(in_);
    if (choice >= 8 && choice < 16) object.names = PickStatus(in_);
    if ((choice & 0x30) == 0x30) object.inherits = status::kOk;
  }

  int32_t CimType() {
    namespace cim = wmi::cim;
    static constexpr int32_t kTypes[] = {cim::kIllegal,
                                         cim::kUint32,
                                         cim::kString,
                                         cim::kSint64,
                                         cim::kUint64,
                                         cim::kObject,
                                         cim::kUint8 | cim::kArray,
                                         cim::kSint64 | cim::kArray,
                                         cim::kUint64 | cim::kArray,
                                         cim::kObject | cim::kArray};
    return in_.PickValueInArray(kTypes);
  }

  std::wstring Text() {
    std::wstring text;
    const size_t length = in_.ConsumeIntegralInRange<size_t>(0, 24);
    for (size_t i = 0; i < length; ++i) {
      text.push_back(static_cast<wchar_t>(in_.ConsumeIntegralInRange<uint32_t>(0, 0x10FFFF)));
    }
    return text;
  }

  // Decimal text as WMI gives uint64 values, or something near it.
  std::wstring NumberText() {
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        return std::to_wstring(in_.ConsumeIntegral<int64_t>());
      case 1:
        return L" +" + std::to_wstring(in_.ConsumeIntegral<uint64_t>()) + L"0";
      case 2:
        return Text();
      default:
        return std::to_wstring(in_.ConsumeIntegral<uint64_t>());
    }
  }

  uint16_t IntegerType() {
    static constexpr uint16_t kTypes[] = {vt::kI4,  vt::kI4,  vt::kI1,   vt::kUi1,
                                          vt::kI2,  vt::kUi2, vt::kUi4,  vt::kI8,
                                          vt::kUi8, vt::kInt, vt::kUint, vt::kBool};
    return in_.PickValueInArray(kTypes);
  }

  int32_t Lower() {
    static constexpr int32_t kBounds[] = {0,
                                          0,
                                          0,
                                          1,
                                          -1,
                                          127,
                                          128,
                                          4096,
                                          std::numeric_limits<int32_t>::max(),
                                          std::numeric_limits<int32_t>::min()};
    return in_.ConsumeBool() ? in_.PickValueInArray(kBounds) : in_.ConsumeIntegral<int32_t>();
  }

  Value ObjectValue(Role role, int depth) {
    if (depth >= kMaxDepth || in_.ConsumeIntegral<uint8_t>() < 16) return Value::Unknown(nullptr);
    Value value = Value::Unknown(Object(role, depth + 1));
    if (in_.ConsumeIntegral<uint8_t>() < 16) value.type = vt::kDispatch;
    return value;
  }

  Value Expected(const PropertyShape& shape, int depth) {
    switch (shape.kind) {
      case Kind::kText:
        return Value::Bstr(Text());
      case Kind::kNumberText:
        return Value::Bstr(NumberText());
      case Kind::kInt:
        return Value::Int(IntegerType(), in_.ConsumeIntegral<int64_t>());
      case Kind::kObject:
        return ObjectValue(shape.child, depth);
      case Kind::kObjectArray: {
        std::vector<Value> elements(in_.ConsumeIntegralInRange<size_t>(0, kMaxElements));
        for (Value& element : elements) {
          element =
              in_.ConsumeIntegral<uint8_t>() < 16 ? Any(depth) : ObjectValue(shape.child, depth);
        }
        return Value::Array(vt::kUnknown, std::move(elements), Lower());
      }
      case Kind::kBytes: {
        const uint16_t type = in_.ConsumeIntegral<uint8_t>() < 16 ? IntegerType() : vt::kUi1;
        std::vector<Value> elements(in_.ConsumeIntegralInRange<size_t>(0, kMaxBytes));
        for (Value& element : elements) element = Value::Int(type, in_.ConsumeIntegral<uint8_t>());
        return Value::Array(type, std::move(elements), Lower());
      }
    }
    return Value{};
  }

  // A value of any VARIANT type, scalar or array, possibly nested.
  Value Any(int depth) {
    static constexpr uint16_t kTypes[] = {vt::kEmpty,    vt::kNull,
                                          vt::kI2,       vt::kI4,
                                          vt::kR4,       vt::kR8,
                                          vt::kDate,     vt::kBstr,
                                          vt::kDispatch, vt::kError,
                                          vt::kBool,     vt::kVariant,
                                          vt::kUnknown,  vt::kI1,
                                          vt::kUi1,      vt::kUi2,
                                          vt::kUi4,      vt::kI8,
                                          vt::kUi8,      vt::kInt,
                                          vt::kUint,     vt::kByRef | vt::kI4};
    Value value;
    value.type = in_.ConsumeBool() ? in_.PickValueInArray(kTypes) : in_.ConsumeIntegral<uint16_t>();
    value.integer = in_.ConsumeIntegral<int64_t>();
    value.real = in_.ConsumeFloatingPoint<double>();
    if (in_.ConsumeBool()) value.text = Text();
    if (depth < kMaxDepth && in_.ConsumeIntegral<uint8_t>() < 32) {
      value.object = Object(static_cast<Role>(in_.ConsumeIntegralInRange(1, 9)), depth + 1);
    }
    if (depth < kMaxDepth && in_.ConsumeBool()) {
      value.type |= vt::kArray;
      value.lower = Lower();
      value.elements.resize(in_.ConsumeIntegralInRange<size_t>(0, kMaxElements));
      for (Value& element : value.elements) element = Any(depth + 1);
    }
    return value;
  }

  FuzzedDataProvider& in_;
  std::shared_ptr<const Failures> failures_;
  std::vector<ObjectPtr> all_;
};

}  // namespace fuzz_wmi
