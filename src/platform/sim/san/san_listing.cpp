// Instance providers of the classes that are only listed: the DSM's
// configuration, its MPIO-style policy views and unique ids, MPIO's own
// classes and the disk driver's performance data.
#include "platform/sim/san/san.h"
#include "platform/sim/san/san_derive.h"

namespace platform::sim::san_derive {
namespace {

using wmi::ObjectPtr;

constexpr const char* kDsmName = "TEV Multi-Path Device Specific Module";

ObjectPtr ConfigInfo(const Namespace& ns, const SanModel& model) {
  std::vector<uint32_t> policies, failBacks, reservations;
  uint32_t failOverGroups = 0;
  for (const SanLun& lun : model.luns) {
    policies.push_back(lun.policy);
    failBacks.push_back(lun.failBack);
    reservations.push_back(lun.reserved ? 1 : 0);
    if (lun.policy == 1) ++failOverGroups;
  }
  return DataBlock(ns, L"ORNDSM_CONFIGINFO", kMpioInstance,
                   {{L"NumberFOGroups", U32(failOverGroups)},
                    {L"NumberMPGroups", U32(static_cast<uint32_t>(model.luns.size()))},
                    {L"LoadBalancePolicy", U32s(policies)},
                    {L"FailBack", U32s(failBacks)},
                    {L"ReservationList", U32s(reservations)}});
}

PropertyValues MpioPathValues(const SanPath& p) {
  return Props({{L"DsmPathId", U64(p.id)},
          {L"Reserved", U64(0)},
          {L"PathWeight", U32(p.weight)},
          {L"PrimaryPath", U32(p.primary ? 1 : 0)}}, 9);
}

/// The ALUA view of a path: its target port group is its controller port.
PropertyValues AluaValues(const SanPath& p) {
  const uint32_t tpgState = p.state == 1 ? 0 : p.state == 7 ? 2 : 3;
  const auto group = static_cast<uint32_t>(p.controller + 1);
  return Props({{L"OptimizedPath", U32(p.state == 1 ? 1 : 0)},
          {L"PreferredPath", U32(p.primary ? 1 : 0)},
          {L"FailedPath", U32(p.state == 5 ? 1 : 0)},
          {L"TargetPortGroup_State", U32(tpgState)},
          {L"ALUASupport", U32(1)},
          {L"SymmetricLUA", U8(0)},
          {L"TargetPortGroup_Preferred", U8(p.controller == 0 ? 1 : 0)},
          {L"TargetPortGroup_Identifier", U32(group)},
          {L"TargetPort_Identifier", U32(group)}});
}

ObjectPtr MpioLbPolicy(const Namespace& ns, const SanLun& lun, bool v2) {
  std::vector<ObjectPtr> paths;
  paths.reserve(lun.paths.size());
  for (const SanPath& p : lun.paths) {
    PropertyValues values = MpioPathValues(p);
    if (v2) {
      PropertyValues alua = AluaValues(p);
      values.insert(values.end(), std::make_move_iterator(alua.begin()),
                    std::make_move_iterator(alua.end()));
    }
    paths.push_back(ns.NewInstance(v2 ? L"MPIO_DSM_Path_V2" : L"MPIO_DSM_PATH", std::move(values)));
  }
  ObjectPtr policy =
      Instance(ns, v2 ? L"DSM_Load_Balance_Policy_V2" : L"DSM_Load_Balance_Policy",
                     {{L"Version", U32(v2 ? 2 : 1)},
                      {L"LoadBalancePolicy", U32(lun.policy)},
                      {L"DSMPathCount", U32(static_cast<uint32_t>(lun.paths.size()))},
                      {L"Reserved", U32(0)},
                      {L"DSM_Paths", Objects(std::move(paths))}});
  return DataBlock(ns, v2 ? L"DSM_QueryLBPolicy_V2" : L"DSM_QueryLBPolicy", lun.instanceName,
                   {{L"LoadBalancePolicy", Object(std::move(policy))}});
}

ObjectPtr UniqueId(const Namespace& ns, const SanLun& lun) {
  uint64_t id = 0;
  for (uint8_t b : lun.serialBytes) id = id << 8 | b;
  return DataBlock(ns, L"DSM_QueryUniqueId", lun.instanceName, {{L"DsmUniqueId", U64(id)}});
}

ObjectPtr DiskInfo(const Namespace& ns, const SanModel& model) {
  std::vector<ObjectPtr> drives;
  drives.reserve(model.luns.size());
  for (size_t i = 0; i < model.luns.size(); ++i) {
    const SanLun& lun = model.luns[i];
    drives.push_back(Instance(ns, 
        L"MPIO_DRIVE_INFO", {{L"NumberPaths", U32(static_cast<uint32_t>(lun.paths.size()))},
                             {L"Name", Text("MPIO Disk" + std::to_string(i))},
                             {L"SerialNumber", Text(lun.serial)},
                             {L"DsmName", Text(kDsmName)}}));
  }
  return DataBlock(ns, L"MPIO_DISK_INFO", kMpioInstance,
                   {{L"NumberDrives", U32(static_cast<uint32_t>(drives.size()))},
                    {L"DriveInfo", Objects(std::move(drives))}});
}

ObjectPtr PathInformation(const Namespace& ns, const SanModel& model) {
  std::vector<ObjectPtr> list;
  for (const SanLun& lun : model.luns) {
    for (const SanPath& p : lun.paths) {
      const SanAdapter& a = model.adapters[p.adapter];
      list.push_back(Instance(ns, L"MPIO_ADAPTER_INFORMATION",
                                    {{L"PathId", U64(p.id)},
                                     {L"BusNumber", U8(a.pciBus)},
                                     {L"DeviceNumber", U8(a.pciDevice)},
                                     {L"FunctionNumber", U8(a.pciFunction)},
                                     {L"Pad", U8(0)},
                                     {L"AdapterName", Text(a.name)}}));
    }
  }
  return DataBlock(ns, L"MPIO_PATH_INFORMATION", kMpioInstance,
                   {{L"NumberPaths", U32(static_cast<uint32_t>(list.size()))},
                    {L"PathList", Objects(std::move(list))}});
}

ObjectPtr ControllerConfiguration(const Namespace& ns, const SanModel& model) {
  std::vector<ObjectPtr> list;
  for (const SanController& c : model.controllers) {
    std::vector<uint8_t> identifier(32, 0);
    for (size_t i = 0; i < 8; ++i) identifier[i] = static_cast<uint8_t>(c.wwpn >> (56 - 8 * i));
    list.push_back(Instance(ns, L"MPIO_CONTROLLER_INFO", {{L"IdentifierType", U32(1)},
                                                            {L"IdentifierLength", U32(8)},
                                                            {L"Identifier", Bytes(identifier)},
                                                            {L"ControllerState", U32(c.state)},
                                                            {L"AssociatedDsm", Text(kDsmName)}}));
  }
  return DataBlock(ns, L"MPIO_CONTROLLER_CONFIGURATION", kMpioInstance,
                   {{L"NumberControllers", U32(static_cast<uint32_t>(list.size()))},
                    {L"ControllerInfo", Objects(std::move(list))}});
}

ObjectPtr Timers(const Namespace& ns, const SanModel& model) {
  const SanTimers& t = model.timers;
  return DataBlock(ns, L"MPIO_TIMERS_COUNTERS", kMpioInstance,
                   {{L"PathVerifyEnabled", wmi::Value::Bool(t.pathVerifyEnabled)},
                    {L"PathVerificationPeriod", U32(t.pathVerificationPeriod)},
                    {L"PDORemovePeriod", U32(t.pdoRemovePeriod)},
                    {L"RetryCount", U32(t.retryCount)},
                    {L"RetryInterval", U32(t.retryInterval)}});
}

/// The disk driver's view of a multipath disk: the sums over its paths.
/// Times are in 100 ns units, made up from the operation counts.
ObjectPtr DiskPerformance(const Namespace& ns, const SanLun& lun) {
  SanCounters sum;
  for (const SanPath& p : lun.paths) {
    sum.bytesRead += p.counters.bytesRead;
    sum.bytesWritten += p.counters.bytesWritten;
    sum.reads += p.counters.reads;
    sum.writes += p.counters.writes;
    sum.pending += p.counters.pending;
  }
  const std::string disk = std::to_string(lun.disk);
  const uint64_t readTime = uint64_t{sum.reads} * 2500, writeTime = uint64_t{sum.writes} * 3100;
  constexpr uint64_t kDay = 864000000000;
  const uint64_t idleTime = readTime + writeTime < kDay ? kDay - readTime - writeTime : 0;
  ObjectPtr data = Instance(ns, 
      L"MSDiskDriver_PerformanceData",
      {{L"BytesRead", U64(sum.bytesRead)},
       {L"BytesWritten", U64(sum.bytesWritten)},
       {L"ReadTime", U64(readTime)},
       {L"WriteTime", U64(writeTime)},
       {L"IdleTime", U64(idleTime)},
       {L"ReadCount", U32(sum.reads)},
       {L"WriteCount", U32(sum.writes)},
       {L"QueueDepth", U32(sum.pending)},
       {L"SplitCount", U32(0)},
       {L"QueryTime", U64(133500000000000000)},
       {L"StorageDeviceNumber", U32(lun.disk)},
       {L"StorageManagerName", Text("PartMgr")}});
  return DataBlock(ns, L"MSDiskDriver_Performance", lun.instanceName,
                   {{L"PerfData", Object(std::move(data))},
                    {L"DeviceName", Text("\\Device\\Harddisk" + disk + "\\DR" + disk)}});
}

}  // namespace

void InstallListingProviders(Namespace& ns, std::shared_ptr<SanModel> model) {
  SingleProvider(ns, L"ORNDSM_CONFIGINFO", model, ConfigInfo);
  SingleProvider(ns, L"MPIO_DISK_INFO", model, DiskInfo);
  SingleProvider(ns, L"MPIO_PATH_INFORMATION", model, PathInformation);
  SingleProvider(ns, L"MPIO_CONTROLLER_CONFIGURATION", model, ControllerConfiguration);
  SingleProvider(ns, L"MPIO_TIMERS_COUNTERS", model, Timers);
  PerLunProvider(ns, L"DSM_QueryLBPolicy", model,
                 [](const Namespace& s, const SanModel&, const SanLun& lun) {
                   return MpioLbPolicy(s, lun, false);
                 });
  PerLunProvider(ns, L"DSM_QueryLBPolicy_V2", model,
                 [](const Namespace& s, const SanModel&, const SanLun& lun) {
                   return MpioLbPolicy(s, lun, true);
                 });
  PerLunProvider(ns, L"DSM_QueryUniqueId", model,
                 [](const Namespace& s, const SanModel&, const SanLun& lun) {
                   return UniqueId(s, lun);
                 });
  PerLunProvider(ns, L"MSDiskDriver_Performance", model,
                 [](const Namespace& s, const SanModel&, const SanLun& lun) {
                   return DiskPerformance(s, lun);
                 });
}

}  // namespace platform::sim::san_derive
