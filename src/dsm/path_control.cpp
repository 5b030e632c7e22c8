#include "dsm/path_control.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/help.h"
#include "cli/words.h"
#include "dsm/commands.h"
#include "dsm/method_input.h"
#include "dsm/model.h"
#include "dsm/policy.h"
#include "dsm/properties.h"
#include "dsm/wmi_connection.h"

namespace dsm {
namespace {

using platform::Output;
using platform::wmi::Value;
namespace cim = platform::wmi::cim;

// The device that holds a path, as the path commands see it.
struct PathDevice {
  std::vector<DsmPathEntry> Paths;
  int32_t Policy = 1;
  bool FailBackOn = false;
};

// Loads the devices and finds the first one with `pathId`. A loader's
// nonzero result, or 1 after "Bad PathId!"; 0 with `found` filled.
int FindPathDevice(Output& out, uint64_t pathId, PathDevice* found) {
  std::vector<DsmDevice> devices;
  if (int r = LoadDsmDevices(devices, 0, nullptr, nullptr); r != 0) return r;
  for (DsmDevice& device : devices) {
    for (const DsmPathEntry& entry : device.Paths) {
      if (entry.PathId != pathId) continue;
      found->Paths = std::move(device.Paths);
      found->Policy = PolicyNumberOfName(device.PolicyName);
      found->FailBackOn = device.FailBackWord == "failback-on";
      return 0;
    }
  }
  out.Line("Bad PathId!");
  return 1;
}

// The PathIdentifier of every path that leaves the adapter port, in
// performance-list order, duplicates kept.
std::vector<uint64_t> AdapterPathIds(const std::string& wwpn, const std::vector<PathPerf>& perf,
                                     const std::vector<PathDescriptor>& descriptors) {
  std::vector<uint64_t> ids;
  if (wwpn.empty()) return ids;  // a port whose name is unknown names no path
  std::unordered_map<std::string, std::vector<uint64_t>> idsByKey;
  for (const PathDescriptor& d : descriptors)
    idsByKey[d.ScsiAddressKey].push_back(d.PathIdentifier);
  for (const PathPerf& record : perf) {
    if (record.HbaWwpn != wwpn) continue;
    auto hit = idsByKey.find(record.ScsiAddressKey);
    if (hit != idsByKey.end()) ids.insert(ids.end(), hit->second.begin(), hit->second.end());
  }
  return ids;
}

// The input parameters of OrnDsmSetPathStatus. A failing spawn of an
// element is returned as it is; any other failure as 1.
int BuildPathStatusInput(const std::vector<uint64_t>& ids, int32_t state, ObjectPtr* inParams) {
  if (platform::Failed(SpawnParameters(L"OrnDsmSetPathStatus", inParams)) || !*inParams) return 1;
  ObjectPtr status;
  if (platform::Failed(SpawnClassInstance(L"DSM_Set_Path_Status", &status))) return 1;
  if (platform::Failed(PutFields(
          *status, {{L"Version", Value::I4(1)},
                    {L"DSMPathStatusCount", Value::I4(static_cast<int32_t>(ids.size()))}}))) {
    return 1;
  }
  ObjectPtr elementClass;
  if (platform::Failed(GetClassObject(L"MPIO_DSM_PathStatus", &elementClass))) return 1;
  std::vector<ObjectPtr> elements;
  elements.reserve(ids.size());
  for (uint64_t id : ids) {
    ObjectPtr element;
    if (HResult hr = SpawnFrom(*elementClass, &element); platform::Failed(hr)) return hr;
    if (platform::Failed(PutFields(*element, {{L"PathId", Value::Bstr(DecimalText(id))},
                                              {L"Reserved", Value::I4(0)},
                                              {L"PathStatus", Value::I4(state)}}))) {
      return 1;
    }
    elements.push_back(std::move(element));
  }
  if (platform::Failed(status->Put(L"DSM_PathStatus", ObjectArrayValue(std::move(elements)),
                                   cim::kArray | cim::kObject)) ||
      platform::Failed((*inParams)->Put(L"setPathStatus", Value::Unknown(status), cim::kObject))) {
    return 1;
  }
  return 0;
}

}  // namespace

int32_t PolicyNumberOfName(std::string_view text) {
  for (int32_t number = 1; number <= 6; ++number) {
    if (text == cli::PolicyNameOf(number)) return number;
  }
  return 1;
}

int SetPathRole(Output& out, uint64_t pathId, bool primary) {
  PathDevice device;
  if (int r = FindPathDevice(out, pathId, &device); r != 0) return r;
  for (DsmPathEntry& entry : device.Paths) {
    if (entry.PathId == pathId) {
      entry.Primary = primary;
    } else if (device.Policy == 1) {
      // FailOver has one primary path: it cannot be taken from the only one.
      if (!primary) return 0;
      entry.Primary = false;
    }
  }
  return SendLoadBalancePolicy(device.Paths, device.Policy, device.FailBackOn, nullptr);
}

int SetPathWeight(Output& out, uint64_t pathId, int32_t weight) {
  PathDevice device;
  if (int r = FindPathDevice(out, pathId, &device); r != 0) return r;
  for (DsmPathEntry& entry : device.Paths) {
    entry.Primary = false;
    if (entry.PathId == pathId) entry.Weight = static_cast<uint32_t>(weight);
  }
  return SendLoadBalancePolicy(device.Paths, device.Policy, false, nullptr);
}

int SetAdapterPathState(Output& out, const std::string& wwpn, const std::string& word) {
  std::optional<int32_t> state = cli::PathStateCodeOf(word);
  if (!state) return cli::PrintHelp(out);
  DsmLists lists;
  if (int r = LoadDsmLists(lists); r != 0) return r;
  if (lists.devices.empty()) return 0;
  const auto& [devices, perf, descriptors] = lists;

  std::vector<uint64_t> ids = AdapterPathIds(wwpn, perf, descriptors);
  if (ids.empty()) return cli::PrintHelp(out);
  EnumeratorPtr operations;
  if (HResult hr = OpenEnumeration(L"DSM_LB_Operations", &operations); hr != 0) return hr;
  FirstMethodObject first = TakeFirstMethodObject();
  if (first.OpenStatus != platform::status::kOk) return first.OpenStatus;
  if (!first.Object) return platform::Failed(first.NextStatus) ? 1 : 0;

  std::wstring path = MethodObjectPath(ReadText(*first.Object, L"InstanceName"));
  ObjectPtr inParams;
  if (int r = BuildPathStatusInput(ids, *state, &inParams); r != 0) return r;
  HResult hr = ExecDsmMethod(path, L"OrnDsmSetPathStatus", inParams, nullptr);
  if (hr != 0) {
    out.Line("Set Path Status Failed ");
    out.Line(std::to_string(hr));
    return 1;
  }
  return 0;
}

}  // namespace dsm
