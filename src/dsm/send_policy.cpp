#include <unordered_map>

#include "dsm/method_input.h"
#include "dsm/policy.h"
#include "dsm/properties.h"
#include "dsm/wmi_connection.h"

namespace dsm {
namespace {

using platform::wmi::Value;
namespace cim = platform::wmi::cim;

// The block of the device holding `pathId`, from the snapshot or live.
bool FindDeviceBlock(uint64_t pathId, const DeviceSnapshot* snapshot, LbPolicyBlock* block,
                     std::wstring* instanceName) {
  if (snapshot != nullptr) return FindSnapshotBlock(*snapshot, pathId, block, instanceName) == 0;
  std::vector<DsmDevice> devices;
  return LoadDsmDevices(devices, pathId, block, instanceName) == 0;
}

// One MPIO_DSM_PATH per block entry, in block order, with the weight and
// primary flag of the first entry of `paths` that has the same id.
HResult BuildPathArray(const LbPolicyBlock& block, const std::vector<DsmPathEntry>& paths,
                       Value* array) {
  std::unordered_map<uint64_t, const DsmPathEntry*> overrides;
  for (const DsmPathEntry& path : paths) overrides.try_emplace(path.PathId, &path);
  ObjectPtr pathClass;
  if (HResult hr = GetClassObject(L"MPIO_DSM_PATH", &pathClass); platform::Failed(hr)) return hr;
  std::vector<ObjectPtr> elements;
  elements.reserve(block.Entries.size());
  for (const LbPathEntry& entry : block.Entries) {
    auto weight = static_cast<int32_t>(entry.PathWeight);
    auto primary = static_cast<int32_t>(entry.PrimaryPath);
    if (auto hit = overrides.find(entry.DsmPathId); hit != overrides.end()) {
      weight = static_cast<int32_t>(hit->second->Weight);
      primary = hit->second->Primary ? 1 : 0;
    }
    ObjectPtr element;
    HResult hr = SpawnFrom(*pathClass, &element);
    if (platform::Succeeded(hr)) {
      hr = PutFields(*element, {{L"DsmPathId", Value::Bstr(DecimalText(entry.DsmPathId))},
                                {L"Reserved", Value::Bstr(DecimalText(entry.Reserved))},
                                {L"PathWeight", Value::I4(weight)},
                                {L"PrimaryPath", Value::I4(primary)}});
    }
    if (platform::Failed(hr)) return hr;
    elements.push_back(std::move(element));
  }
  *array = ObjectArrayValue(std::move(elements));
  return platform::status::kOk;
}

// The input parameters of OrnDsmSetLoadBalancePolicy for the block.
HResult BuildPolicyInput(const LbPolicyBlock& block, const std::vector<DsmPathEntry>& paths,
                         int32_t policy, bool failBackOn, ObjectPtr* inParams) {
  if (HResult hr = SpawnParameters(L"OrnDsmSetLoadBalancePolicy", inParams); platform::Failed(hr)) {
    return hr;
  }
  if (!*inParams) return platform::status::kFail;
  ObjectPtr lbPolicy;
  HResult hr = SpawnClassInstance(L"ORNDSM_Load_Balance_Policy", &lbPolicy);
  if (platform::Failed(hr)) return hr;
  hr = PutFields(*lbPolicy, {{L"Version", Value::I4(kPolicyVersion)},
                             {L"LoadBalancePolicy", Value::I4(failBackOn ? 1 : policy)},
                             {L"DSMPathCount", Value::I4(static_cast<int32_t>(block.DSMPathCount))},
                             {L"FailBack", Value::I4(failBackOn ? 1 : 2)}});
  if (platform::Failed(hr)) return hr;
  Value array;
  if (hr = BuildPathArray(block, paths, &array); platform::Failed(hr)) return hr;
  hr = lbPolicy->Put(L"DSM_Paths", array, cim::kArray | cim::kObject);
  if (platform::Failed(hr)) return hr;
  return (*inParams)->Put(L"LoadBalancePolicy", Value::Unknown(lbPolicy), cim::kObject);
}

}  // namespace

int SendLoadBalancePolicy(const std::vector<DsmPathEntry>& paths, int32_t policy, bool failBackOn,
                          const DeviceSnapshot* snapshot) {
  if (paths.empty()) return 1;
  LbPolicyBlock block;
  std::wstring instanceName;
  if (!FindDeviceBlock(paths.front().PathId, snapshot, &block, &instanceName)) return 1;
  // Only a whole policy may be sent: the DSM takes it as the device's new one.
  if (!block.Whole()) return 1;

  FirstMethodObject first = TakeFirstMethodObject();
  if (first.OpenStatus != platform::status::kOk) return 1;
  if (!first.Object) return platform::Failed(first.NextStatus) ? 1 : 0;

  ObjectPtr inParams;
  if (platform::Failed(BuildPolicyInput(block, paths, policy, failBackOn, &inParams))) return 1;
  ObjectPtr outParams;
  HResult hr = ExecDsmMethod(MethodObjectPath(instanceName), L"OrnDsmSetLoadBalancePolicy",
                             inParams, &outParams);
  return platform::Failed(hr) ? 1 : 0;
}

}  // namespace dsm
