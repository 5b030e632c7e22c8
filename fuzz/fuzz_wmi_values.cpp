// Fuzzes what the DSM commands and the listings read from WMI: the
// instances of the DSM's and MPIO's classes are built from the input,
// property by property, with values of the expected type most of the time
// and of any VARIANT type, shape, array bound or nesting otherwise; reads
// and enumerations fail where the input says so. The property readers and
// the listing's printers run on every object (and on a chain of objects
// nested past the listing's depth limit), then every DSM command runs on
// an in-memory WMI that serves those instances.
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
#include "wmi_objects.h"
#include "wmilist/dsm_printers.h"
#include "wmilist/format_value.h"
#include "wmilist/listing_engine.h"
#include "wmilist/mpiolist.h"

namespace {

// The object builders and the aliases of the WMI seam.
using namespace fuzz_wmi;

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

/// A runtime that hands out the same error object after every failure.
class ListingRuntime : public wmi::Runtime {
 public:
  explicit ListingRuntime(ObjectPtr error) : error_(std::move(error)) {}
  HResult Initialize() override { return status::kOk; }
  HResult InitializeSecurity() override { return status::kOk; }
  HResult CreateLocator(wmi::LocatorPtr*) override { return status::kFail; }
  HResult CreateSinkStub(const wmi::EventSinkPtr&, wmi::EventSinkPtr*) override {
    return status::kFail;
  }
  ObjectPtr TakeErrorObject() override { return error_; }
  void Uninitialize() override {}

 private:
  ObjectPtr error_;
};

// The listing's printers and the value formatter on every object: they
// never fail silently on the depth, and a failed line leaves the text as
// it was.
void PrintEverything(const std::vector<ObjectPtr>& objects, const ObjectPtr& error) {
  wmilist::ListingContext context;
  platform::StringOutput out;
  platform::StringOutput err;
  ListingRuntime runtime(error);
  wmilist::Listing listing{context, out, err, runtime, wmilist::MpioEmbeddedClasses()};
  for (const ObjectPtr& object : objects) {
    std::wstring text = L"x";
    if (!wmilist::FormatAllProperties(listing, *object, &text)) FUZZ_CHECK(text == L"x");
    FUZZ_CHECK(context.depth == 0);
    for (const std::wstring& name : AllNames()) {
      const size_t before = text.size();
      if (!wmilist::FormatProperty(listing, *object, name, &text))
        FUZZ_CHECK(text.size() == before);
      FUZZ_CHECK(context.depth == 0);
      Value value;
      int32_t cimType = 0;
      if (platform::Failed(object->Get(name, &value, &cimType))) continue;
      std::optional<std::wstring> alone = wmilist::FormatValue(cimType, value);
      FUZZ_CHECK(alone.has_value() || value.IsArray());
    }
    wmilist::PrintInstance(listing, *object);
    FUZZ_CHECK(context.depth == 0);
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
  for (const char* word : {"ORNDSM_CONFIGINFO", "ORNDSM_PERFINFO", "DSM_QueryLBPolicy",
                           "DSM_QueryLBPolicy_V2", "DSM_QueryUniqueId"}) {
    FUZZ_CHECK(wmilist::PrintDsmInstances(word, out) == 0);
  }
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
  classes[L"ORNDSM_CONFIGINFO"] = MakeClass(in, builder, Role::kConfig);
  classes[L"DSM_QueryLBPolicy"] = MakeClass(in, builder, Role::kPolicyInstance);
  classes[L"DSM_QueryLBPolicy_V2"] = MakeClass(in, builder, Role::kPolicyInstance);
  classes[L"Dsm_QueryUniqueId"] = MakeClass(in, builder, Role::kUniqueId);
  classes[L"ORNDSM_WMI_METHODS"] = MakeClass(in, builder, Role::kMethods);
  classes[L"DSM_LB_Operations"] = MakeClass(in, builder, Role::kMethods);

  for (const ObjectPtr& object : builder.AllObjects()) ReadEverything(*object);
  std::vector<ObjectPtr> printed = builder.AllObjects();
  // Now and then a chain past the listing's depth limit; printing it costs
  // its depth squared in indentation, so most chains are short.
  const size_t levels = in.ConsumeIntegral<uint8_t>() < 16 ? wmilist::kMaxDepth + 8 : 16;
  printed.push_back(builder.Chain(in.ConsumeIntegralInRange<size_t>(0, levels)));
  const ObjectPtr error = printed[in.ConsumeIntegralInRange<size_t>(0, printed.size() - 1)];
  PrintEverything(printed, error);

  dsm::WmiServices() = std::make_shared<FuzzServices>(std::move(classes), failures);
  RunCommands(args);
  dsm::WmiServices().reset();
  return 0;
}
