// Instance providers of the DSM's classes: every enumeration derives the
// instances afresh from the SAN model, so a method's change shows at once.
#include <algorithm>
#include <utility>

#include "platform/sim/san.h"
#include "platform/sim/san_derive.h"

namespace platform::sim::san_derive {
namespace {

using wmi::ObjectPtr;

/// The version the DSM reports, and requires, in its policy structure.
constexpr uint32_t kPolicyVersion = 394544;  // 0x60530

/// Makes instances of the SAN's classes in one namespace.
class Maker {
 public:
  Maker(const Namespace& ns, const SanModel& model) : ns_(ns), model_(model) {}

  ObjectPtr Make(const wchar_t* className, std::initializer_list<Item> items) const {
    return Instance(ns_, className, items);
  }
  ObjectPtr Block(const wchar_t* className, const SanLun& lun,
                  std::initializer_list<Item> items) const {
    return DataBlock(ns_, className, lun.instanceName, items);
  }

  ObjectPtr LbPolicy(const SanLun& lun) const {
    std::vector<ObjectPtr> paths;
    paths.reserve(lun.paths.size());
    for (const SanPath& p : lun.paths) {
      paths.push_back(Make(L"MPIO_DSM_PATH", {{L"DsmPathId", U64(p.id)},
                                              {L"Reserved", U64(0)},
                                              {L"PathWeight", U32(p.weight)},
                                              {L"PrimaryPath", U32(p.primary ? 1 : 0)}}));
    }
    ObjectPtr policy = Make(L"ORNDSM_Load_Balance_Policy",
                            {{L"Version", U32(kPolicyVersion)},
                             {L"LoadBalancePolicy", U32(lun.policy)},
                             {L"DSMPathCount", U32(static_cast<uint32_t>(lun.paths.size()))},
                             {L"FailBack", U32(lun.failBack)},
                             {L"DSM_Paths", Objects(std::move(paths))}});
    return Block(L"ORNDSM_QueryLBPolicy", lun, {{L"LoadBalancePolicy", Object(std::move(policy))}});
  }

  ObjectPtr PathPerf(const SanLun& lun, const SanPath& p) const {
    const SanController& ctrl = model_.controllers[p.controller];
    const auto relativePort = static_cast<uint16_t>(p.controller + 1);
    const std::vector<uint8_t> vendorPage = {0x00, 0xD0, 0x00, 0x04,
                                             static_cast<uint8_t>(p.controller), p.state,
                                             static_cast<uint8_t>(ctrl.state), 0x00};
    const std::vector<uint8_t> lmei = {0x01, p.bus, p.target, p.lun, 0x00, 0x00, 0x00, 0x01};
    return Make(L"ORNDSM_PATH_PERFINFO",
                {{L"NumberReads", U32(p.counters.reads)},
                 {L"NumberWrites", U32(p.counters.writes)},
                 {L"BytesRead", U64(p.counters.bytesRead)},
                 {L"BytesWritten", U64(p.counters.bytesWritten)},
                 {L"pendingIOs", U32(p.counters.pending)},
                 {L"PathId", U64(p.id)},
                 {L"PortNumber", U8(model_.adapters[p.adapter].port)},
                 {L"ScsiPathId", U8(p.bus)},
                 {L"TargetId", U8(p.target)},
                 {L"Lun", U8(p.lun)},
                 {L"Identifier", Bytes(PathIdentifier(model_, lun, p))},
                 {L"Page80", Bytes(UnitSerialPage(lun))},
                 {L"Page83", Bytes(DeviceIdentificationPage(lun, relativePort))},
                 {L"PageD0", Bytes(vendorPage)},
                 {L"LMEI", Bytes(lmei)},
                 {L"vendorid", Bytes(Padded(lun.vendor, 8))},
                 {L"productid", Bytes(Padded(lun.product, 16))}});
  }

  ObjectPtr PerfInfo(const SanLun& lun) const {
    std::vector<ObjectPtr> entries;
    entries.reserve(lun.paths.size());
    for (const SanPath& p : lun.paths) entries.push_back(PathPerf(lun, p));
    const auto count = static_cast<uint32_t>(std::min<size_t>(lun.paths.size(), 0xFFFF));
    return Block(L"ORNDSM_PERFINFO", lun,
                 {{L"NumberDevices", U32(count)}, {L"PerfInfo", Objects(std::move(entries))}});
  }

  ObjectPtr Descriptor(const SanLun& lun) const {
    std::vector<ObjectPtr> pdos;
    pdos.reserve(lun.paths.size());
    const auto naa = NaaIdentifier(lun);
    for (const SanPath& p : lun.paths) {
      ObjectPtr address = Make(L"SCSI_ADDR", {{L"PortNumber", U8(model_.adapters[p.adapter].port)},
                                              {L"ScsiPathId", U8(p.bus)},
                                              {L"TargetId", U8(p.target)},
                                              {L"Lun", U8(p.lun)}});
      pdos.push_back(Make(L"PDO_INFORMATION", {{L"ScsiAddress", Object(std::move(address))},
                                               {L"DeviceState", U32(p.state)},
                                               {L"PathIdentifier", U64(p.id)},
                                               {L"IdentifierType", U32(3)},
                                               {L"IdentifierLength", U32(naa.size())},
                                               {L"Identifier", Bytes(naa)}}));
    }
    return Block(L"MPIO_GET_DESCRIPTOR", lun,
                 {{L"NumberPdos", U32(static_cast<uint32_t>(lun.paths.size()))},
                  {L"PdoInformation", Objects(std::move(pdos))}});
  }

  static std::vector<uint8_t> Padded(const std::string& text, size_t size) {
    std::vector<uint8_t> bytes(size, ' ');
    for (size_t i = 0; i < size && i < text.size(); ++i) bytes[i] = static_cast<uint8_t>(text[i]);
    return bytes;
  }

 private:
  const Namespace& ns_;
  const SanModel& model_;
};

/// One instance per LUN made by a Maker member.
void ByLun(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
           ObjectPtr (Maker::*make)(const SanLun&) const) {
  PerLunProvider(ns, className, std::move(model),
                 [make](const Namespace& space, const SanModel& m, const SanLun& lun) {
                   return (Maker(space, m).*make)(lun);
                 });
}

}  // namespace

void InstallDsmProviders(Namespace& ns, std::shared_ptr<SanModel> model) {
  ByLun(ns, L"ORNDSM_QueryLBPolicy", model, &Maker::LbPolicy);
  ByLun(ns, L"ORNDSM_PERFINFO", model, &Maker::PerfInfo);
  ByLun(ns, L"MPIO_GET_DESCRIPTOR", model, &Maker::Descriptor);
  for (const wchar_t* name : {L"ORNDSM_WMI_METHODS", L"DSM_LB_Operations"}) {
    PerLunProvider(ns, name, model, [name](const Namespace& space, const SanModel&,
                                           const SanLun& lun) {
      return DataBlock(space, name, lun.instanceName, {});
    });
  }
}

}  // namespace platform::sim::san_derive
