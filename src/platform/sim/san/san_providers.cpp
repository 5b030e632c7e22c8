// Instance providers of the DSM's classes. Each instance is derived from the
// SAN model when it is fetched, so a method's change shows at once, and
// computes a property only when it is read.
#include <algorithm>
#include <array>
#include <string>

#include "platform/sim/san/derived_object.h"
#include "platform/sim/san/san.h"
#include "platform/sim/san/san_derive.h"

namespace platform::sim::san_derive {
namespace {

using wmi::Value;

/// The version the DSM reports, and requires, in its policy structure.
constexpr uint32_t kPolicyVersion = 394544;  // 0x60530

std::array<uint8_t, 8> Padded8(const std::string& text) {
  std::array<uint8_t, 8> bytes;
  bytes.fill(' ');
  std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
  return bytes;
}

std::array<uint8_t, 16> Padded16(const std::string& text) {
  std::array<uint8_t, 16> bytes;
  bytes.fill(' ');
  std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
  return bytes;
}

Value InstanceName(const LunPart& s) { return Text(s.Lun().instanceName); }
Value Active(const LunPart&) { return Value::Bool(true); }
Value PathCount(const LunPart& s) { return U32(static_cast<uint32_t>(s.Lun().paths.size())); }
Value PortNumber(const LunPart& s) { return U8(s.Model().adapters[s.Path().adapter].port); }
Value Bus(const LunPart& s) { return U8(s.Path().bus); }
Value Target(const LunPart& s) { return U8(s.Path().target); }
Value LunNumber(const LunPart& s) { return U8(s.Path().lun); }

/// The per-LUN method objects carry nothing but their name.
constexpr Field kBlockFields[] = {{L"InstanceName", InstanceName}, {L"Active", Active}};

constexpr Field kDsmPathFields[] = {
    {L"DsmPathId", [](const LunPart& s) { return U64(s.Path().id); }},
    {L"Reserved", [](const LunPart&) { return U64(0); }},
    {L"PathWeight", [](const LunPart& s) { return U32(s.Path().weight); }},
    {L"PrimaryPath", [](const LunPart& s) { return U32(s.Path().primary ? 1 : 0); }},
};

constexpr Field kPolicyFields[] = {
    {L"Version", [](const LunPart&) { return U32(kPolicyVersion); }},
    {L"LoadBalancePolicy", [](const LunPart& s) { return U32(s.Lun().policy); }},
    {L"DSMPathCount", PathCount},
    {L"FailBack", [](const LunPart& s) { return U32(s.Lun().failBack); }},
    {L"DSM_Paths",
     [](const LunPart& s) { return DerivePerPath(L"MPIO_DSM_PATH", kDsmPathFields, s); }},
};

constexpr Field kQueryPolicyFields[] = {
    {L"InstanceName", InstanceName},
    {L"Active", Active},
    {L"LoadBalancePolicy",
     [](const LunPart& s) {
       return Object(Derive(L"ORNDSM_Load_Balance_Policy", kPolicyFields, s));
     }},
};

Value VendorPage(const LunPart& s) {
  const SanPath& p = s.Path();
  const auto state = static_cast<uint8_t>(s.Model().controllers[p.controller].state);
  return Bytes(std::array<uint8_t, 8>{0x00, 0xD0, 0x00, 0x04, static_cast<uint8_t>(p.controller),
                                      p.state, state, 0x00});
}

Value Lmei(const LunPart& s) {
  const SanPath& p = s.Path();
  return Bytes(std::array<uint8_t, 8>{0x01, p.bus, p.target, p.lun, 0x00, 0x00, 0x00, 0x01});
}

constexpr Field kPathPerfFields[] = {
    {L"NumberReads", [](const LunPart& s) { return U32(s.Path().counters.reads); }},
    {L"NumberWrites", [](const LunPart& s) { return U32(s.Path().counters.writes); }},
    {L"BytesRead", [](const LunPart& s) { return U64(s.Path().counters.bytesRead); }},
    {L"BytesWritten", [](const LunPart& s) { return U64(s.Path().counters.bytesWritten); }},
    {L"pendingIOs", [](const LunPart& s) { return U32(s.Path().counters.pending); }},
    {L"PathId", [](const LunPart& s) { return U64(s.Path().id); }},
    {L"PortNumber", PortNumber},
    {L"ScsiPathId", Bus},
    {L"TargetId", Target},
    {L"Lun", LunNumber},
    {L"Identifier",
     [](const LunPart& s) { return Bytes(PathIdentifier(s.Model(), s.Lun(), s.Path())); }},
    {L"Page80", [](const LunPart& s) { return Bytes(UnitSerialPage(s.Lun())); }},
    {L"Page83",
     [](const LunPart& s) {
       const auto relativePort = static_cast<uint16_t>(s.Path().controller + 1);
       return Bytes(DeviceIdentificationPage(s.Lun(), relativePort));
     }},
    {L"PageD0", VendorPage},
    {L"LMEI", Lmei},
    {L"vendorid", [](const LunPart& s) { return Bytes(Padded8(s.Lun().vendor)); }},
    {L"productid", [](const LunPart& s) { return Bytes(Padded16(s.Lun().product)); }},
};

constexpr Field kPerfInfoFields[] = {
    {L"InstanceName", InstanceName},
    {L"Active", Active},
    {L"NumberDevices",
     [](const LunPart& s) {
       return U32(static_cast<uint32_t>(std::min<size_t>(s.Lun().paths.size(), 0xFFFF)));
     }},
    {L"PerfInfo",
     [](const LunPart& s) { return DerivePerPath(L"ORNDSM_PATH_PERFINFO", kPathPerfFields, s); }},
};

constexpr Field kAddressFields[] = {
    {L"PortNumber", PortNumber},
    {L"ScsiPathId", Bus},
    {L"TargetId", Target},
    {L"Lun", LunNumber},
};

constexpr Field kPdoFields[] = {
    {L"ScsiAddress",
     [](const LunPart& s) { return Object(Derive(L"SCSI_ADDR", kAddressFields, s)); }},
    {L"DeviceState", [](const LunPart& s) { return U32(s.Path().state); }},
    {L"PathIdentifier", [](const LunPart& s) { return U64(s.Path().id); }},
    {L"IdentifierType", [](const LunPart&) { return U32(3); }},
    {L"IdentifierLength",
     [](const LunPart& s) { return U32(static_cast<uint32_t>(NaaIdentifier(s.Lun()).size())); }},
    {L"Identifier", [](const LunPart& s) { return Bytes(NaaIdentifier(s.Lun())); }},
};

constexpr Field kDescriptorFields[] = {
    {L"InstanceName", InstanceName},
    {L"Active", Active},
    {L"NumberPdos", PathCount},
    {L"PdoInformation",
     [](const LunPart& s) { return DerivePerPath(L"PDO_INFORMATION", kPdoFields, s); }},
};

}  // namespace

void InstallDsmProviders(Namespace& ns, std::shared_ptr<SanModel> model) {
  DerivedPerLun(ns, L"ORNDSM_QueryLBPolicy", model, kQueryPolicyFields);
  DerivedPerLun(ns, L"ORNDSM_PERFINFO", model, kPerfInfoFields);
  DerivedPerLun(ns, L"MPIO_GET_DESCRIPTOR", model, kDescriptorFields);
  DerivedPerLun(ns, L"ORNDSM_WMI_METHODS", model, kBlockFields);
  DerivedPerLun(ns, L"DSM_LB_Operations", model, kBlockFields);
}

}  // namespace platform::sim::san_derive
