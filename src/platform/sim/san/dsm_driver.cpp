// The DSM driver's methods on ORNDSM_WMI_METHODS. Like the driver, they
// check the whole request before changing anything and refuse malformed
// input with WBEM_E_INVALID_PARAMETER; a change updates the SAN model and
// is recorded as an edit of the machine file.
#include <climits>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/sim/san/san.h"
#include "platform/sim/san/san_edit.h"
#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {
namespace {

using wmi::ObjectPtr;
using wmi::Value;
namespace vt = wmi::vt;

constexpr uint32_t kPolicyVersion = 394544;  // 0x60530
constexpr uint32_t kPathStatusVersion = 1;

/// A uint32 member: any integer VARIANT whose value fits 32 bits (WMI
/// carries uint32 as a signed VT_I4).
std::optional<uint32_t> ReadU32(const ObjectPtr& object, const wchar_t* name) {
  Value v;
  if (ReadOwn(*object, name, &v) != status::kOk || !vt::IsInteger(v.type)) return std::nullopt;
  if (v.integer < INT32_MIN || v.integer > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<uint32_t>(v.integer);
}

/// A uint64 member: decimal digits in a BSTR, nothing else.
std::optional<uint64_t> ReadU64(const ObjectPtr& object, const wchar_t* name) {
  Value v;
  if (ReadOwn(*object, name, &v) != status::kOk || v.type != vt::kBstr) return std::nullopt;
  if (v.text.empty() || v.text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (wchar_t c : v.text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool OfClass(const ObjectPtr& object, std::wstring_view className) {
  Value v;
  return object && ReadOwn(*object, L"__CLASS", &v) == status::kOk && v.type == vt::kBstr &&
         SameName(v.text, className);
}

/// An embedded object of the given class.
ObjectPtr ReadObject(const ObjectPtr& object, const wchar_t* name, std::wstring_view className) {
  Value v;
  if (!object || ReadOwn(*object, name, &v) != status::kOk) return nullptr;
  if (v.type != vt::kUnknown && v.type != vt::kDispatch) return nullptr;
  return OfClass(v.object, className) ? v.object : nullptr;
}

/// An array of embedded objects of the given class, none of them null.
std::optional<std::vector<ObjectPtr>> ReadObjects(const ObjectPtr& object, const wchar_t* name,
                                                  std::wstring_view className) {
  Value v;
  if (ReadOwn(*object, name, &v) != status::kOk || !v.IsArray()) return std::nullopt;
  if (v.ElementType() != vt::kUnknown && v.ElementType() != vt::kDispatch) return std::nullopt;
  std::vector<ObjectPtr> objects;
  objects.reserve(v.elements.size());
  for (const Value& element : v.elements) {
    if (!OfClass(element.object, className)) return std::nullopt;
    objects.push_back(element.object);
  }
  return objects;
}

/// The output parameters of a successful call: Status 0.
ObjectPtr StatusOut(const Namespace& ns, std::wstring_view method) {
  auto def = ns.FindClass(L"ORNDSM_WMI_METHODS");
  const MethodDef* m = def ? def->FindMethod(method) : nullptr;
  if (m == nullptr) return nullptr;
  auto out = std::make_shared<SimObject>(SimObject::Kind::kParameters,
                                         ParameterClass(L"__PARAMETERS", m->out), ns.Name());
  out->Set(L"Status", Value::I4(0), wmi::cim::kUint32);
  return out;
}

class Driver {
 public:
  Driver(const Namespace& ns, MachineState& state, std::shared_ptr<SanModel> model)
      : ns_(ns), state_(state), model_(std::move(model)) {}

  HResult SetLoadBalancePolicy(const MethodCall& call, ObjectPtr* out);
  HResult SetPathStatus(const MethodCall& call, ObjectPtr* out);
  HResult ClearCounters(const MethodCall& call, ObjectPtr* out);

 private:
  /// The LUN the call's object path names, or null.
  SanLun* Target(const MethodCall& call) {
    if (FoldName(call.keyName) != L"instancename") return nullptr;
    return model_->FindByInstance(call.keyValue);
  }
  /// How an edit addresses a LUN of the model: the model's LUNs and paths
  /// stand in the order of the document it was read from.
  LunKey Key(const SanLun& lun) const {
    return LunKey{lun.serial, static_cast<size_t>(&lun - model_->luns.data())};
  }
  bool ReadPolicyPaths(const SanLun& lun, const std::vector<ObjectPtr>& elements,
                       std::vector<PathSetting>* settings) const;

  const Namespace& ns_;
  MachineState& state_;
  std::shared_ptr<SanModel> model_;
};

bool Driver::ReadPolicyPaths(const SanLun& lun, const std::vector<ObjectPtr>& elements,
                             std::vector<PathSetting>* settings) const {
  std::unordered_set<uint64_t> seen;
  for (const ObjectPtr& element : elements) {
    auto id = ReadU64(element, L"DsmPathId");
    auto weight = ReadU32(element, L"PathWeight");
    auto primary = ReadU32(element, L"PrimaryPath");
    if (!id || !weight || !primary || !seen.insert(*id).second) return false;
    auto where = model_->FindPath(*id);
    if (!where || &model_->luns[where->lun] != &lun) return false;
    settings->push_back(PathSetting{where->path, *weight, *primary != 0});
  }
  return true;
}

HResult Driver::SetLoadBalancePolicy(const MethodCall& call, ObjectPtr* out) {
  SanLun* lun = Target(call);
  if (lun == nullptr) return status::kWbemNotFound;
  ObjectPtr policy = ReadObject(call.in, L"LoadBalancePolicy", L"ORNDSM_Load_Balance_Policy");
  if (!policy) return status::kWbemInvalidParameter;
  auto version = ReadU32(policy, L"Version");
  auto number = ReadU32(policy, L"LoadBalancePolicy");
  auto count = ReadU32(policy, L"DSMPathCount");
  auto failBack = ReadU32(policy, L"FailBack");
  auto elements = ReadObjects(policy, L"DSM_Paths", L"MPIO_DSM_PATH");
  std::vector<PathSetting> settings;
  if (!version || *version != kPolicyVersion || !number || *number < 1 || *number > 7 ||
      !failBack || (*failBack != 1 && *failBack != 2) || !count || !elements ||
      *count != elements->size() || *count != lun->paths.size() ||
      !ReadPolicyPaths(*lun, *elements, &settings)) {
    return status::kWbemInvalidParameter;
  }
  lun->policy = *number;
  lun->failBack = *failBack;
  for (const PathSetting& s : settings) {
    SanPath& path = lun->paths[s.position];
    path.weight = s.weight;
    path.primary = s.primary;
  }
  state_.Change(SetPolicyEdit(Key(*lun), *number, *failBack, std::move(settings)));
  if (out != nullptr) *out = StatusOut(ns_, L"OrnDsmSetLoadBalancePolicy");
  return status::kOk;
}

HResult Driver::SetPathStatus(const MethodCall& call, ObjectPtr* out) {
  if (Target(call) == nullptr) return status::kWbemNotFound;
  ObjectPtr request = ReadObject(call.in, L"setPathStatus", L"DSM_Set_Path_Status");
  if (!request) return status::kWbemInvalidParameter;
  auto version = ReadU32(request, L"Version");
  auto count = ReadU32(request, L"DSMPathStatusCount");
  auto elements = ReadObjects(request, L"DSM_PathStatus", L"MPIO_DSM_PathStatus");
  if (!version || *version != kPathStatusVersion || !count || !elements ||
      *count != elements->size()) {
    return status::kWbemInvalidParameter;
  }
  std::vector<std::pair<SanPathRef, uint8_t>> changes;
  for (const ObjectPtr& element : *elements) {
    auto id = ReadU64(element, L"PathId");
    auto state = ReadU32(element, L"PathStatus");
    auto where = id ? model_->FindPath(*id) : std::nullopt;
    if (!where || !state || (*state != 1 && *state != 5 && *state != 7)) {
      return status::kWbemInvalidParameter;
    }
    changes.emplace_back(*where, static_cast<uint8_t>(*state));
  }
  // One edit for the whole call, its changes grouped by LUN.
  PathStates states;
  std::unordered_map<size_t, size_t> group;
  for (const auto& [where, state] : changes) {
    SanLun& lun = model_->luns[where.lun];
    SanPath& path = lun.paths[where.path];
    path.state = state;
    auto [it, added] = group.emplace(where.lun, states.size());
    if (added) states.emplace_back(Key(lun), std::vector<std::pair<size_t, uint8_t>>{});
    states[it->second].second.emplace_back(where.path, state);
  }
  if (!states.empty()) state_.Change(SetPathStatesEdit(std::move(states)));
  if (out != nullptr) *out = StatusOut(ns_, L"OrnDsmSetPathStatus");
  return status::kOk;
}

HResult Driver::ClearCounters(const MethodCall& call, ObjectPtr* out) {
  SanLun* lun = Target(call);
  if (lun == nullptr) return status::kWbemNotFound;
  for (SanPath& path : lun->paths) {
    path.counters.bytesRead = 0;
    path.counters.bytesWritten = 0;
    path.counters.reads = 0;
    path.counters.writes = 0;
  }
  state_.Change(ClearCountersEdit(Key(*lun)));
  if (out != nullptr) *out = StatusOut(ns_, L"OrnDsmClearCounters");
  return status::kOk;
}

}  // namespace

void InstallDsmDriver(Namespace& ns, MachineState& state, std::shared_ptr<SanModel> model) {
  auto driver = std::make_shared<Driver>(ns, state, std::move(model));
  ns.SetMethodHandler(L"ORNDSM_WMI_METHODS", L"OrnDsmSetLoadBalancePolicy",
                      [driver](const MethodCall& call, ObjectPtr* out) {
                        return driver->SetLoadBalancePolicy(call, out);
                      });
  ns.SetMethodHandler(L"ORNDSM_WMI_METHODS", L"OrnDsmSetPathStatus",
                      [driver](const MethodCall& call, ObjectPtr* out) {
                        return driver->SetPathStatus(call, out);
                      });
  ns.SetMethodHandler(L"ORNDSM_WMI_METHODS", L"OrnDsmClearCounters",
                      [driver](const MethodCall& call, ObjectPtr* out) {
                        return driver->ClearCounters(call, out);
                      });
}

}  // namespace platform::sim
