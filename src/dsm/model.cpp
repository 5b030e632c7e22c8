#include "dsm/model.h"

#include <algorithm>

#include "cli/words.h"
#include "dsm/properties.h"
#include "dsm/wmi_connection.h"

namespace dsm {
namespace {

using platform::wmi::Object;

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

void AppendHexByte(std::string& text, uint8_t byte) {
  text.push_back(kHexDigits[byte >> 4]);
  text.push_back(kHexDigits[byte & 0x0F]);
}

// How many entries a block with this count may hold: the count, bounded by
// what the DSM_Paths array can fill (never less than the classic 128). A
// lower bound above 0 leaves holes, not room, so it never enlarges the block.
size_t BlockRoom(uint32_t count, const ObjectArray& paths) {
  int64_t extent = std::min<int64_t>(paths.Lower, 0) + static_cast<int64_t>(paths.Elements.size());
  auto bound = std::max<int64_t>(static_cast<int64_t>(LbPolicyBlock::kMinBlockEntries), extent);
  return static_cast<size_t>(std::min<int64_t>(count, bound));
}

PathPerf DecodePerf(const Object& element) {
  PathPerf record;
  record.BytesRead = ReadUint64(element, L"BytesRead");
  record.BytesWritten = ReadUint64(element, L"BytesWritten");
  record.NumberReads = static_cast<uint32_t>(ReadInt32(element, L"NumberReads"));
  record.NumberWrites = static_cast<uint32_t>(ReadInt32(element, L"NumberWrites"));
  record.PendingIOs = static_cast<uint32_t>(ReadInt32(element, L"pendingIOs"));
  FillFromIdentifier(ReadBytes(element, L"Identifier"), record);
  return record;
}

PathDescriptor DecodeDescriptor(const Object& element) {
  PathDescriptor record;
  record.PathIdentifier = ReadUint64(element, L"PathIdentifier");
  platform::wmi::ObjectPtr address = ReadObject(element, L"ScsiAddress");
  for (const wchar_t* field : {L"PortNumber", L"ScsiPathId", L"TargetId", L"Lun"}) {
    int32_t value = address ? ReadInt32(*address, field) : 0;
    AppendHexByte(record.ScsiAddressKey, static_cast<uint8_t>(value & 0xFF));
  }
  return record;
}

}  // namespace

int64_t LbPolicyBlock::FindEntry(uint64_t pathId) const {
  size_t count = std::min<size_t>(DSMPathCount, Entries.size());
  for (size_t i = 0; i < count; ++i) {
    if (Entries[i].DsmPathId == pathId) return static_cast<int64_t>(i);
  }
  return -1;
}

DecodedDevice DecodePolicyInstance(const Object& instance) {
  DecodedDevice decoded;
  decoded.InstanceName = ReadText(instance, L"InstanceName");
  platform::wmi::ObjectPtr policy = ReadObject(instance, L"LoadBalancePolicy");
  int32_t number = policy ? ReadInt32(*policy, L"LoadBalancePolicy") : 0;
  int32_t failBack = policy ? ReadInt32(*policy, L"FailBack") : 0;
  auto count = static_cast<uint32_t>(policy ? ReadInt32(*policy, L"DSMPathCount") : 0);
  ObjectArray paths = policy ? ReadObjectArray(*policy, L"DSM_Paths") : ObjectArray{};

  decoded.Device.PolicyName = cli::PolicyNameOf(number);
  decoded.Device.FailBackWord = cli::FailBackNameOf(failBack);
  LbPolicyBlock& block = decoded.Block;
  block.LoadBalancePolicy = static_cast<uint32_t>(number);
  block.DSMPathCount = count;
  block.Entries.resize(BlockRoom(count, paths));
  for (size_t k = 0; k < paths.Elements.size(); ++k) {
    if (!paths.Elements[k]) continue;
    const Object& element = *paths.Elements[k];
    DsmPathEntry entry;
    entry.PathId = ReadUint64(element, L"DsmPathId");
    int32_t weight = ReadInt32(element, L"PathWeight");
    int32_t primary = ReadInt32(element, L"PrimaryPath");
    entry.Weight = static_cast<uint32_t>(weight);
    entry.Primary = primary != 0;
    int64_t index = paths.Lower + static_cast<int64_t>(k);
    if (index >= 0 && static_cast<uint64_t>(index) < block.Entries.size()) {
      block.Entries[static_cast<size_t>(index)] =
          LbPathEntry{entry.PathId, 0, entry.Weight, static_cast<uint32_t>(primary)};
    }
    decoded.Device.Paths.push_back(entry);
  }
  return decoded;
}

int LoadDsmDevices(std::vector<DsmDevice>& devices, uint64_t searchedId, LbPolicyBlock* block,
                   std::wstring* instanceName, HResult* status) {
  if (instanceName != nullptr) instanceName->clear();
  bool found = false;
  HResult hr = EnumerateInstances(L"ORNDSM_QueryLBPolicy", [&](const ObjectPtr& instance) {
    if (!instance) return;
    DecodedDevice decoded = DecodePolicyInstance(*instance);
    if (searchedId != 0 && !found && decoded.Block.FindEntry(searchedId) >= 0) {
      found = true;
      if (instanceName != nullptr) *instanceName = decoded.InstanceName;
      if (block != nullptr) *block = decoded.Block;
    }
    devices.push_back(std::move(decoded.Device));
  });
  if (status != nullptr) *status = hr;
  if (hr != platform::status::kOk) return 1;
  return (searchedId != 0 && !found) ? 2 : 0;
}

namespace {

// Bytes [from, to) of `identifier` as hex digits, or empty text when the
// identifier is too short.
std::string HexField(const std::vector<uint8_t>& identifier, size_t from, size_t to) {
  std::string text;
  if (identifier.size() < to) return text;
  text.reserve((to - from) * 2 + 1);
  for (size_t i = from; i < to; ++i) AppendHexByte(text, identifier[i]);
  return text;
}

std::string SerialOf(const std::vector<uint8_t>& identifier) {
  if (identifier.size() < 25) return {};
  std::string serial = HexField(identifier, 20, 24);
  serial += '-';
  AppendHexByte(serial, identifier[24]);
  return serial;
}

}  // namespace

void FillFromIdentifier(const std::vector<uint8_t>& identifier, PathPerf& record) {
  record.ScsiAddressKey = HexField(identifier, 0, 4);
  record.HbaWwpn = HexField(identifier, 4, 12);
  record.CtrlPortWwpn = HexField(identifier, 12, 20);
  record.SerialNumber = SerialOf(identifier);
  record.State = cli::PathStateNameOf(identifier.size() >= 26 ? identifier[25] : 0);
}

int LoadPathPerf(std::vector<PathPerf>& records) {
  HResult hr = EnumerateInstances(L"ORNDSM_PERFINFO", [&](const ObjectPtr& instance) {
    if (!instance) return;
    for (const ObjectPtr& element : ReadObjectArray(*instance, L"PerfInfo").Elements) {
      if (element) records.push_back(DecodePerf(*element));
    }
  });
  return hr;
}

int LoadPathSerials(std::vector<std::string>& serials) {
  HResult hr = EnumerateInstances(L"ORNDSM_PERFINFO", [&](const ObjectPtr& instance) {
    if (!instance) return;
    for (const ObjectPtr& element : ReadObjectArray(*instance, L"PerfInfo").Elements) {
      if (element) serials.push_back(SerialOf(ReadBytes(*element, L"Identifier")));
    }
  });
  return hr;
}

int LoadPathDescriptors(std::vector<PathDescriptor>& records, HResult* status) {
  HResult hr = EnumerateInstances(L"MPIO_GET_DESCRIPTOR", [&](const ObjectPtr& instance) {
    if (!instance) return;
    for (const ObjectPtr& element : ReadObjectArray(*instance, L"PdoInformation").Elements) {
      if (element) records.push_back(DecodeDescriptor(*element));
    }
  });
  if (status != nullptr) *status = hr;
  return hr == platform::status::kOk ? 0 : 1;
}

PathIndex::PathIndex(const std::vector<PathDescriptor>& descriptors,
                     const std::vector<PathPerf>& perf)
    : descriptors_(descriptors), perf_(perf) {
  std::unordered_map<std::string, size_t> perfByKey;
  for (size_t i = 0; i < perf.size(); ++i) perfByKey.try_emplace(perf[i].ScsiAddressKey, i);
  for (size_t i = 0; i < descriptors.size(); ++i) {
    const PathDescriptor& d = descriptors[i];
    descriptorByKey_.try_emplace(d.ScsiAddressKey, i);
    auto hit = perfByKey.find(d.ScsiAddressKey);
    if (hit != perfByKey.end()) perfById_.try_emplace(d.PathIdentifier, hit->second);
  }
}

const PathPerf* PathIndex::FindPathPerf(uint64_t pathId) const {
  if (pathId == 0) return nullptr;
  auto hit = perfById_.find(pathId);
  return hit == perfById_.end() ? nullptr : &perf_[hit->second];
}

const PathDescriptor* PathIndex::FirstDescriptorWithKey(const std::string& key) const {
  auto hit = descriptorByKey_.find(key);
  return hit == descriptorByKey_.end() ? nullptr : &descriptors_[hit->second];
}

std::string DeviceSerialNumber(const DsmDevice& device, const PathIndex& index) {
  if (device.Paths.empty()) return "N/A";
  const PathPerf* perf = index.FindPathPerf(device.Paths.front().PathId);
  return perf ? perf->SerialNumber : "N/A";
}

std::string_view DeviceFailBackText(const DsmDevice& device) {
  // Fail-back only means something to a FailOver device.
  return device.PolicyName == "FailOver" ? std::string_view(device.FailBackWord) : "N/A";
}

int LoadDsmLists(DsmLists& lists, LoadFailure* failure) {
  auto failed = [failure](const char* className, HResult status, int result) {
    if (failure != nullptr) *failure = {className, status};
    return result;
  };
  HResult status = platform::status::kOk;
  if (int r = LoadDsmDevices(lists.devices, 0, nullptr, nullptr, &status); r != 0) {
    return failed("ORNDSM_QueryLBPolicy", status, r);
  }
  if (int r = LoadPathPerf(lists.perf); r != 0) return failed("ORNDSM_PERFINFO", r, r);
  if (int r = LoadPathDescriptors(lists.descriptors, &status); r != 0) {
    return failed("MPIO_GET_DESCRIPTOR", status, r);
  }
  return 0;
}

}  // namespace dsm
