// Fuzzes what the DSM commands read from WMI: the instances of the DSM's
// and MPIO's classes are built from the input, property by property, with
// values of the expected type most of the time and of any VARIANT type,
// shape, array bound or nesting otherwise; reads and enumerations fail
// where the input says so. The property readers run on every object, then
// every DSM command runs on an in-memory WMI that serves those instances.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dsm/commands.h"
#include "dsm/properties.h"
#include "dsm/wmi_connection.h"
#include "fuzz_check.h"
#include "platform/output.h"
#include "platform/wmi.h"

namespace {

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
  kMethods
};

struct PropertyShape {
  const wchar_t* name;
  Kind kind;
  Role child = Role::kNone;
};

std::vector<PropertyShape> ShapesOf(Role role) {
  switch (role) {
    case Role::kPolicyInstance:
      return {{L"InstanceName", Kind::kText}, {L"LoadBalancePolicy", Kind::kObject, Role::kPolicy}};
    case Role::kPolicy:
      return {{L"Version", Kind::kInt},
              {L"LoadBalancePolicy", Kind::kInt},
              {L"DSMPathCount", Kind::kInt},
              {L"FailBack", Kind::kInt},
              {L"DSM_Paths", Kind::kObjectArray, Role::kPath}};
    case Role::kPath:
      return {{L"DsmPathId", Kind::kNumberText},
              {L"PathWeight", Kind::kInt},
              {L"PrimaryPath", Kind::kInt},
              {L"Reserved", Kind::kNumberText}};
    case Role::kPerfInstance:
      return {{L"InstanceName", Kind::kText}, {L"PerfInfo", Kind::kObjectArray, Role::kPerf}};
    case Role::kPerf:
      return {{L"BytesRead", Kind::kNumberText}, {L"BytesWritten", Kind::kNumberText},
              {L"NumberReads", Kind::kInt},      {L"NumberWrites", Kind::kInt},
              {L"pendingIOs", Kind::kInt},       {L"Identifier", Kind::kBytes}};
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
    case Role::kNone:
      break;
  }
  return {};
}

/// Every name the readers are tried with, the expected ones and a stranger.
const std::vector<std::wstring>& AllNames() {
  static const std::vector<std::wstring> names = [] {
    std::vector<std::wstring> all = {L"NoSuchProperty"};
    for (int r = static_cast<int>(Role::kPolicyInstance); r <= static_cast<int>(Role::kMethods);
         ++r) {
      for (const PropertyShape& shape : ShapesOf(static_cast<Role>(r))) all.push_back(shape.name);
    }
    return all;
  }();
  return names;
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

HResult PickStatus(FuzzedDataProvider& in) {
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

  void Add(std::wstring name, Value value, HResult read) {
    properties_.push_back({std::move(name), std::move(value), read});
  }

  HResult Get(std::wstring_view name, Value* value, int32_t* cimType) const override {
    for (const Property& p : properties_) {
      if (p.name != name) continue;
      if (platform::Failed(p.read)) return p.read;
      *value = p.value;
      if (cimType != nullptr) *cimType = wmi::cim::kIllegal;
      return p.read;
    }
    return status::kWbemNotFound;
  }
  HResult Put(std::wstring_view name, const Value& value, int32_t) override {
    if (platform::Failed(failures_->put)) return failures_->put;
    Add(std::wstring(name), value, status::kOk);
    return status::kOk;
  }
  HResult GetNames(int32_t, std::vector<std::wstring>* names) const override {
    for (const Property& p : properties_) names->push_back(p.name);
    return status::kOk;
  }
  HResult GetPropertyQualifier(std::wstring_view, std::wstring_view, Value*) const override {
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
  HResult InheritsFrom(std::wstring_view) const override { return status::kWbemSFalse; }

 private:
  struct Property {
    std::wstring name;
    Value value;
    HResult read;
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
      object->Add(shape.name, std::move(value), read);
    }
    all_.push_back(object);
    return object;
  }

  const std::vector<ObjectPtr>& AllObjects() const { return all_; }

 private:
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

/// The instances of one class and how their enumeration goes.
struct ClassData {
  HResult open = status::kOk;
  std::vector<ObjectPtr> instances;
  size_t failAt = 0;  // Next fails at this fetch (none when past the end)
  HResult nextFailure = status::kFail;
};

class FuzzEnumerator : public wmi::Enumerator {
 public:
  explicit FuzzEnumerator(const ClassData& data) : data_(data) {}
  HResult QueryBlanket(uint32_t*, uint32_t*) override { return status::kOk; }
  HResult SetBlanket(const wmi::Blanket&) override { return status::kOk; }
  HResult Next(int32_t, ObjectPtr* object, uint32_t* returned) override {
    *returned = 0;
    if (next_ == data_.failAt) {
      ++next_;
      return data_.nextFailure;
    }
    if (next_ >= data_.instances.size()) return status::kWbemSFalse;
    *object = data_.instances[next_++];
    *returned = 1;
    return status::kOk;
  }

 private:
  const ClassData& data_;
  size_t next_ = 0;
};

class FuzzServices : public wmi::Services {
 public:
  FuzzServices(std::map<std::wstring, ClassData, std::less<>> classes,
               std::shared_ptr<const Failures> failures)
      : classes_(std::move(classes)), failures_(std::move(failures)) {}

  HResult QueryBlanket(uint32_t*, uint32_t*) override { return status::kOk; }
  HResult SetBlanket(const wmi::Blanket&) override { return status::kOk; }
  HResult CreateInstanceEnum(std::wstring_view className, int32_t,
                             wmi::EnumeratorPtr* enumerator) override {
    auto found = classes_.find(className);
    if (found == classes_.end()) return status::kWbemInvalidClass;
    if (found->second.open == status::kOk) {
      *enumerator = std::make_shared<FuzzEnumerator>(found->second);
    }
    return found->second.open;
  }
  HResult GetObject(std::wstring_view, int32_t, ObjectPtr* object) override {
    if (failures_->getObject == status::kOk) *object = std::make_shared<FuzzObject>(failures_);
    return failures_->getObject;
  }
  HResult ExecMethod(std::wstring_view, std::wstring_view, const ObjectPtr&,
                     ObjectPtr* outParams) override {
    if (outParams != nullptr) *outParams = std::make_shared<FuzzObject>(failures_);
    return failures_->execMethod;
  }
  HResult ExecNotificationQueryAsync(std::wstring_view, std::wstring_view, int32_t,
                                     const wmi::EventSinkPtr&) override {
    return status::kWbemNotSupported;
  }
  HResult CancelAsyncCall(const wmi::EventSinkPtr&) override { return status::kOk; }

 private:
  std::map<std::wstring, ClassData, std::less<>> classes_;
  std::shared_ptr<const Failures> failures_;
};

ClassData MakeClass(FuzzedDataProvider& in, Builder& builder, Role role) {
  ClassData data;
  if (in.ConsumeIntegral<uint8_t>() < 8) data.open = PickStatus(in);
  data.instances.resize(in.ConsumeIntegralInRange<size_t>(0, 4));
  for (ObjectPtr& instance : data.instances) {
    if (in.ConsumeIntegral<uint8_t>() >= 8) instance = builder.Object(role, 0);
  }
  data.failAt = in.ConsumeIntegral<uint8_t>() < 16 ? in.ConsumeIntegralInRange<size_t>(0, 4)
                                                   : std::numeric_limits<size_t>::max();
  data.nextFailure = PickStatus(in);
  return data;
}

// The readers never fail and give their documented defaults.
void ReadEverything(const wmi::Object& object) {
  for (const std::wstring& name : AllNames()) {
    dsm::ReadUint64(object, name);
    dsm::ReadInt32(object, name);
    HResult readStatus = status::kOk;
    std::wstring text = dsm::ReadText(object, name, &readStatus);
    FUZZ_CHECK(platform::Succeeded(readStatus) || text.empty());
    dsm::ReadObject(object, name);
    FUZZ_CHECK(dsm::ReadObjectArray(object, name).Elements.size() <= kMaxBytes);
    FUZZ_CHECK(dsm::ReadBytes(object, name).size() <= kMaxBytes);
  }
}

struct Arguments {
  std::string serial;
  std::string wwpn;
  std::string word;
  uint64_t pathId = 0;
  int32_t weight = 0;
};

void RunCommands(const Arguments& args) {
  platform::StringOutput out;
  dsm::ListDevices(out);
  dsm::ListPaths(out, std::nullopt, "");
  dsm::ListPaths(out, std::string("sn"), args.serial);
  dsm::ListPaths(out, std::string("hba"), args.wwpn);
  dsm::DevinfoSetOne(out, args.serial, args.word);
  dsm::DevinfoSetAll(out, args.word);
  dsm::SetAdapterPathState(out, args.wwpn, "standby");
  dsm::SetPathRole(out, args.pathId, true);
  dsm::SetPathRole(out, args.pathId, false);
  dsm::SetPathWeight(out, args.pathId, args.weight);
  dsm::ClearCounters(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  static constexpr const char* kWords[] = {"FailOver",    "RoundRobin",   "RoundRobinSubset",
                                           "Dynlqd",      "Weighted",     "LeastBlocks",
                                           "failback-on", "failback-off", "nonsense"};
  Arguments args;
  args.word = in.PickValueInArray(kWords);
  args.pathId = in.ConsumeIntegral<uint64_t>();
  args.weight = in.ConsumeIntegral<int32_t>();
  args.serial = in.ConsumeRandomLengthString(16);
  args.wwpn = in.ConsumeRandomLengthString(20);

  auto failures = std::make_shared<Failures>();
  failures->getObject = in.ConsumeIntegral<uint8_t>() < 8 ? PickStatus(in) : status::kOk;
  failures->put = in.ConsumeIntegral<uint8_t>() < 8 ? PickStatus(in) : status::kOk;
  failures->spawn = in.ConsumeIntegral<uint8_t>() < 8 ? PickStatus(in) : status::kOk;
  failures->execMethod = in.ConsumeIntegral<uint8_t>() < 32 ? PickStatus(in) : status::kOk;
  failures->methodWithoutInput = in.ConsumeIntegral<uint8_t>() < 8;

  Builder builder(in, failures);
  std::map<std::wstring, ClassData, std::less<>> classes;
  classes[L"ORNDSM_QueryLBPolicy"] = MakeClass(in, builder, Role::kPolicyInstance);
  classes[L"ORNDSM_PERFINFO"] = MakeClass(in, builder, Role::kPerfInstance);
  classes[L"MPIO_GET_DESCRIPTOR"] = MakeClass(in, builder, Role::kDescriptorInstance);
  classes[L"ORNDSM_WMI_METHODS"] = MakeClass(in, builder, Role::kMethods);
  classes[L"DSM_LB_Operations"] = MakeClass(in, builder, Role::kMethods);

  for (const ObjectPtr& object : builder.AllObjects()) ReadEverything(*object);

  dsm::WmiServices() = std::make_shared<FuzzServices>(std::move(classes), failures);
  RunCommands(args);
  dsm::WmiServices().reset();
  return 0;
}
