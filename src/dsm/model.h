// The device and path model: the records built from the DSM's policy and
// performance classes and the MPIO descriptor class, their loaders, and the
// join between them. Records are built for one command and never cached.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/wmi.h"

namespace dsm {

/// One path of a device, in the order of the device's DSM_Paths array.
struct DsmPathEntry {
  uint64_t PathId = 0;
  uint32_t Weight = 0;
  bool Primary = false;
};

/// One instance of ORNDSM_QueryLBPolicy; its position in the list is its
/// device number.
struct DsmDevice {
  std::string PolicyName;
  std::string FailBackWord;
  std::vector<DsmPathEntry> Paths;  // non-null DSM_Paths elements only
};

/// One PerfInfo element of ORNDSM_PERFINFO. The texts are cut from the
/// identifier written as upper-case hexadecimal; a field whose bytes the
/// identifier lacks is empty, and State is "Unknown".
struct PathPerf {
  uint64_t BytesRead = 0;
  uint64_t BytesWritten = 0;
  uint32_t NumberReads = 0;
  uint32_t NumberWrites = 0;
  uint32_t PendingIOs = 0;
  std::string ScsiAddressKey;  // bytes 0-3
  std::string HbaWwpn;         // bytes 4-11
  std::string CtrlPortWwpn;    // bytes 12-19
  std::string SerialNumber;    // bytes 20-23, "-", byte 24
  std::string State;           // byte 25
};

/// One PdoInformation element of MPIO_GET_DESCRIPTOR.
struct PathDescriptor {
  std::string ScsiAddressKey;  // port, path, target, LUN as two hex digits each
  uint64_t PathIdentifier = 0;
};

/// One path entry of a policy block, in the DSM's field order.
struct LbPathEntry {
  uint64_t DsmPathId = 0;
  uint64_t Reserved = 0;
  uint32_t PathWeight = 0;
  uint32_t PrimaryPath = 0;
};

/// A device's load-balance policy as the DSM holds it. Entries[i] is filled
/// by element i of DSM_Paths. The DSM's DSMPathCount is kept as reported;
/// the block holds that many entries, but never more than
/// max(kMinBlockEntries, the extent of DSM_Paths), so an absurd count
/// cannot make it huge. A block that holds fewer entries than its count is
/// not Whole and is never sent.
struct LbPolicyBlock {
  static constexpr size_t kMinBlockEntries = 128;
  uint32_t Version = 1;
  uint32_t LoadBalancePolicy = 0;
  uint32_t DSMPathCount = 0;
  uint32_t Reserved = 0;
  std::vector<LbPathEntry> Entries;

  bool Whole() const { return Entries.size() == DSMPathCount; }
  /// The index of the first entry with `pathId` among the first
  /// DSMPathCount entries the block holds, or -1.
  int64_t FindEntry(uint64_t pathId) const;
};

/// A device decoded from one ORNDSM_QueryLBPolicy instance.
struct DecodedDevice {
  std::wstring InstanceName;
  DsmDevice Device;
  LbPolicyBlock Block;
};

/// Decodes one instance of ORNDSM_QueryLBPolicy: the device record and its
/// policy block. Null DSM_Paths elements are skipped (their entries stay
/// zero); elements outside the block still become path entries.
DecodedDevice DecodePolicyInstance(const platform::wmi::Object& instance);

/// Appends one DsmDevice per ORNDSM_QueryLBPolicy instance. With a nonzero
/// `searchedId`, the first device whose block holds it gives `block` and
/// `instanceName` (left empty otherwise). 0 when enumerated and found (or
/// nothing searched), 2 when searched and not found, 1 when the
/// enumeration cannot be created. `block` and `instanceName` may be null;
/// `status`, when given, receives the enumeration's own status.
int LoadDsmDevices(std::vector<DsmDevice>& devices, uint64_t searchedId, LbPolicyBlock* block,
                   std::wstring* instanceName, platform::HResult* status = nullptr);

/// Appends the PerfInfo records of ORNDSM_PERFINFO. 0, or the nonzero
/// status of the failed enumeration.
int LoadPathPerf(std::vector<PathPerf>& records);

/// Appends the serial number of each PerfInfo record of ORNDSM_PERFINFO
/// (empty for a record too short to carry one): LoadPathPerf's walk, with
/// the same calls, reading only the identifiers. Its result as LoadPathPerf's.
int LoadPathSerials(std::vector<std::string>& serials);

/// Appends the PdoInformation records of MPIO_GET_DESCRIPTOR. 0, or 1 when
/// the enumeration cannot be created; `status`, when given, receives the
/// enumeration's own status.
int LoadPathDescriptors(std::vector<PathDescriptor>& records, platform::HResult* status = nullptr);

/// The three lists that the listings and the adapter path states start from.
struct DsmLists {
  std::vector<DsmDevice> devices;
  std::vector<PathPerf> perf;
  std::vector<PathDescriptor> descriptors;
};

/// The enumeration that stopped a load: its class and its status.
struct LoadFailure {
  std::string className;
  platform::HResult status = 0;
};

/// LoadDsmDevices (no search), LoadPathPerf and LoadPathDescriptors, in
/// this order; the first nonzero result stops the loading and is returned.
/// `failure`, when given, then names that enumeration.
int LoadDsmLists(DsmLists& lists, LoadFailure* failure = nullptr);

/// The PathPerf fields cut from an identifier (byte counts below 26 leave
/// the missing fields empty and State "Unknown").
void FillFromIdentifier(const std::vector<uint8_t>& identifier, PathPerf& record);

/// The joins between descriptors and performance records, indexed so each
/// lookup is constant time yet gives the same first-match results as a walk
/// of the lists in order. It refers to the lists, which must not change
/// while it is used.
class PathIndex {
 public:
  /// Indexes both lists; they must outlive the index.
  PathIndex(const std::vector<PathDescriptor>& descriptors, const std::vector<PathPerf>& perf);

  /// None (null) for id 0; otherwise, of the descriptors with that
  /// PathIdentifier in list order, the first whose key leads to a record:
  /// the first record in list order with that ScsiAddressKey.
  const PathPerf* FindPathPerf(uint64_t pathId) const;
  /// The first descriptor in list order with that ScsiAddressKey, or null.
  const PathDescriptor* FirstDescriptorWithKey(const std::string& key) const;

 private:
  const std::vector<PathDescriptor>& descriptors_;
  const std::vector<PathPerf>& perf_;
  std::unordered_map<uint64_t, size_t> perfById_;
  std::unordered_map<std::string, size_t> descriptorByKey_;
};

/// The serial number a device is shown with: that of its first path's
/// performance record, or "N/A" when it has no path or the path none.
std::string DeviceSerialNumber(const DsmDevice& device, const PathIndex& index);

/// The fail-back text a device is shown with: its fail-back word when its
/// policy is FailOver, "N/A" for every other policy.
std::string_view DeviceFailBackText(const DsmDevice& device);

}  // namespace dsm
