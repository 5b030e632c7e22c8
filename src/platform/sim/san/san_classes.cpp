// The class definitions of the DSM and MPIO classes in ROOT\WMI, with the
// CIM types that WMI reports for them.
#include "platform/sim/san/san.h"

namespace platform::sim {
namespace {

namespace cim = wmi::cim;

PropertyDef Key(const wchar_t* name) { return PropertyDef{name, cim::kString, {}, true}; }
PropertyDef Prop(const wchar_t* name, int32_t type) { return PropertyDef{name, type, {}, false}; }
PropertyDef Embedded(const wchar_t* name, const wchar_t* objectClass) {
  return PropertyDef{name, cim::kObject, objectClass, false};
}
PropertyDef EmbeddedArray(const wchar_t* name, const wchar_t* objectClass) {
  return PropertyDef{name, cim::kObject | cim::kArray, objectClass, false};
}
constexpr int32_t kBytes = cim::kUint8 | cim::kArray;

/// A data block of a WMI provider: every one has these two first.
ClassDef Block(const wchar_t* name, std::vector<PropertyDef> properties) {
  ClassDef def;
  def.name = name;
  def.properties = {Key(L"InstanceName"), Prop(L"Active", cim::kBoolean)};
  for (PropertyDef& p : properties) def.properties.push_back(std::move(p));
  return def;
}

/// An embedded class: no key, no InstanceName.
ClassDef Record(const wchar_t* name, std::vector<PropertyDef> properties) {
  ClassDef def;
  def.name = name;
  def.properties = std::move(properties);
  return def;
}

void DefineDsmPolicyClasses(Namespace& ns) {
  ns.DefineClass(Record(L"MPIO_DSM_PATH",
                        {Prop(L"DsmPathId", cim::kUint64), Prop(L"Reserved", cim::kUint64),
                         Prop(L"PathWeight", cim::kUint32), Prop(L"PrimaryPath", cim::kUint32)}));
  ns.DefineClass(Record(L"ORNDSM_Load_Balance_Policy",
                        {Prop(L"Version", cim::kUint32), Prop(L"LoadBalancePolicy", cim::kUint32),
                         Prop(L"DSMPathCount", cim::kUint32), Prop(L"FailBack", cim::kUint32),
                         EmbeddedArray(L"DSM_Paths", L"MPIO_DSM_PATH")}));
  ns.DefineClass(Block(L"ORNDSM_QueryLBPolicy",
                       {Embedded(L"LoadBalancePolicy", L"ORNDSM_Load_Balance_Policy")}));
  ns.DefineClass(Record(L"MPIO_DSM_PathStatus",
                        {Prop(L"PathId", cim::kUint64), Prop(L"Reserved", cim::kUint32),
                         Prop(L"PathStatus", cim::kUint32)}));
  ns.DefineClass(Record(L"DSM_Set_Path_Status",
                        {Prop(L"Version", cim::kUint32), Prop(L"DSMPathStatusCount", cim::kUint32),
                         EmbeddedArray(L"DSM_PathStatus", L"MPIO_DSM_PathStatus")}));

  ClassDef methods = Block(L"ORNDSM_WMI_METHODS", {});
  const PropertyDef status = Prop(L"Status", cim::kUint32);
  methods.methods = {
      MethodDef{L"OrnDsmSetLoadBalancePolicy",
                {Embedded(L"LoadBalancePolicy", L"ORNDSM_Load_Balance_Policy")},
                {status}},
      MethodDef{
          L"OrnDsmSetPathStatus", {Embedded(L"setPathStatus", L"DSM_Set_Path_Status")}, {status}},
      MethodDef{L"OrnDsmClearCounters", {}, {status}},
  };
  ns.DefineClass(std::move(methods));
  ns.DefineClass(Block(L"DSM_LB_Operations", {}));
}

void DefineDsmDataClasses(Namespace& ns) {
  ns.DefineClass(Record(
      L"ORNDSM_PATH_PERFINFO",
      {Prop(L"NumberReads", cim::kUint32), Prop(L"NumberWrites", cim::kUint32),
       Prop(L"BytesRead", cim::kUint64), Prop(L"BytesWritten", cim::kUint64),
       Prop(L"pendingIOs", cim::kUint32), Prop(L"PathId", cim::kUint64),
       Prop(L"PortNumber", cim::kUint8), Prop(L"ScsiPathId", cim::kUint8),
       Prop(L"TargetId", cim::kUint8), Prop(L"Lun", cim::kUint8), Prop(L"Identifier", kBytes),
       Prop(L"Page80", kBytes), Prop(L"Page83", kBytes), Prop(L"PageD0", kBytes),
       Prop(L"LMEI", kBytes), Prop(L"vendorid", kBytes), Prop(L"productid", kBytes)}));
  ns.DefineClass(Block(L"ORNDSM_PERFINFO", {Prop(L"NumberDevices", cim::kUint16),
                                            EmbeddedArray(L"PerfInfo", L"ORNDSM_PATH_PERFINFO")}));
  ns.DefineClass(
      Block(L"ORNDSM_CONFIGINFO",
            {Prop(L"NumberFOGroups", cim::kUint32), Prop(L"NumberMPGroups", cim::kUint32),
             Prop(L"LoadBalancePolicy", cim::kUint32 | cim::kArray),
             Prop(L"FailBack", cim::kUint32 | cim::kArray),
             Prop(L"ReservationList", cim::kUint32 | cim::kArray)}));
  ns.DefineClass(Block(L"DSM_QueryUniqueId", {Prop(L"DsmUniqueId", cim::kUint64)}));

  ns.DefineClass(Record(L"DSM_Load_Balance_Policy",
                        {Prop(L"Version", cim::kUint32), Prop(L"LoadBalancePolicy", cim::kUint32),
                         Prop(L"DSMPathCount", cim::kUint32), Prop(L"Reserved", cim::kUint32),
                         EmbeddedArray(L"DSM_Paths", L"MPIO_DSM_PATH")}));
  ns.DefineClass(
      Block(L"DSM_QueryLBPolicy", {Embedded(L"LoadBalancePolicy", L"DSM_Load_Balance_Policy")}));
  ns.DefineClass(
      Record(L"MPIO_DSM_Path_V2",
             {Prop(L"DsmPathId", cim::kUint64), Prop(L"Reserved", cim::kUint64),
              Prop(L"PathWeight", cim::kUint32), Prop(L"PrimaryPath", cim::kUint32),
              Prop(L"OptimizedPath", cim::kUint32), Prop(L"PreferredPath", cim::kUint32),
              Prop(L"FailedPath", cim::kUint32), Prop(L"TargetPortGroup_State", cim::kUint32),
              Prop(L"ALUASupport", cim::kUint32), Prop(L"SymmetricLUA", cim::kUint8),
              Prop(L"TargetPortGroup_Preferred", cim::kUint8),
              Prop(L"TargetPortGroup_Identifier", cim::kUint16),
              Prop(L"TargetPort_Identifier", cim::kUint32)}));
  ns.DefineClass(Record(L"DSM_Load_Balance_Policy_V2",
                        {Prop(L"Version", cim::kUint32), Prop(L"LoadBalancePolicy", cim::kUint32),
                         Prop(L"DSMPathCount", cim::kUint32), Prop(L"Reserved", cim::kUint32),
                         EmbeddedArray(L"DSM_Paths", L"MPIO_DSM_Path_V2")}));
  ns.DefineClass(Block(L"DSM_QueryLBPolicy_V2",
                       {Embedded(L"LoadBalancePolicy", L"DSM_Load_Balance_Policy_V2")}));
}

void DefineMpioClasses(Namespace& ns) {
  ns.DefineClass(
      Record(L"SCSI_ADDR", {Prop(L"PortNumber", cim::kUint8), Prop(L"ScsiPathId", cim::kUint8),
                            Prop(L"TargetId", cim::kUint8), Prop(L"Lun", cim::kUint8)}));
  ns.DefineClass(
      Record(L"PDO_INFORMATION",
             {Embedded(L"ScsiAddress", L"SCSI_ADDR"), Prop(L"DeviceState", cim::kUint32),
              Prop(L"PathIdentifier", cim::kUint64), Prop(L"IdentifierType", cim::kUint32),
              Prop(L"IdentifierLength", cim::kUint32), Prop(L"Identifier", kBytes)}));
  ns.DefineClass(Block(
      L"MPIO_GET_DESCRIPTOR",
      {Prop(L"NumberPdos", cim::kUint32), EmbeddedArray(L"PdoInformation", L"PDO_INFORMATION")}));

  ns.DefineClass(Record(L"MPIO_DRIVE_INFO",
                        {Prop(L"NumberPaths", cim::kUint32), Prop(L"Name", cim::kString),
                         Prop(L"SerialNumber", cim::kString), Prop(L"DsmName", cim::kString)}));
  ns.DefineClass(Block(L"MPIO_DISK_INFO", {Prop(L"NumberDrives", cim::kUint32),
                                           EmbeddedArray(L"DriveInfo", L"MPIO_DRIVE_INFO")}));
  ns.DefineClass(Record(L"MPIO_ADAPTER_INFORMATION",
                        {Prop(L"PathId", cim::kUint64), Prop(L"BusNumber", cim::kUint8),
                         Prop(L"DeviceNumber", cim::kUint8), Prop(L"FunctionNumber", cim::kUint8),
                         Prop(L"Pad", cim::kUint8), Prop(L"AdapterName", cim::kString)}));
  ns.DefineClass(
      Block(L"MPIO_PATH_INFORMATION", {Prop(L"NumberPaths", cim::kUint32),
                                       EmbeddedArray(L"PathList", L"MPIO_ADAPTER_INFORMATION")}));
  ns.DefineClass(
      Record(L"MPIO_CONTROLLER_INFO",
             {Prop(L"IdentifierType", cim::kUint32), Prop(L"IdentifierLength", cim::kUint32),
              Prop(L"Identifier", kBytes), Prop(L"ControllerState", cim::kUint32),
              Prop(L"AssociatedDsm", cim::kString)}));
  ns.DefineClass(Block(L"MPIO_CONTROLLER_CONFIGURATION",
                       {Prop(L"NumberControllers", cim::kUint32),
                        EmbeddedArray(L"ControllerInfo", L"MPIO_CONTROLLER_INFO")}));
  ns.DefineClass(
      Block(L"MPIO_TIMERS_COUNTERS",
            {Prop(L"PathVerifyEnabled", cim::kBoolean),
             Prop(L"PathVerificationPeriod", cim::kUint32), Prop(L"PDORemovePeriod", cim::kUint32),
             Prop(L"RetryCount", cim::kUint32), Prop(L"RetryInterval", cim::kUint32)}));

  // The framework's event class: its instances are the events.
  ns.DefineClass(
      Block(L"MPIO_EventEntry",
            {Prop(L"TimeStamp", cim::kUint64), Prop(L"Severity", cim::kUint32),
             Prop(L"Component", cim::kString), Prop(L"EventDescription", cim::kString)}));

  ns.DefineClass(Record(
      L"MSDiskDriver_PerformanceData",
      {Prop(L"BytesRead", cim::kSint64), Prop(L"BytesWritten", cim::kSint64),
       Prop(L"ReadTime", cim::kSint64), Prop(L"WriteTime", cim::kSint64),
       Prop(L"IdleTime", cim::kSint64), Prop(L"ReadCount", cim::kUint32),
       Prop(L"WriteCount", cim::kUint32), Prop(L"QueueDepth", cim::kUint32),
       Prop(L"SplitCount", cim::kUint32), Prop(L"QueryTime", cim::kSint64),
       Prop(L"StorageDeviceNumber", cim::kUint32), Prop(L"StorageManagerName", cim::kString)}));
  ns.DefineClass(Block(
      L"MSDiskDriver_Performance",
      {Embedded(L"PerfData", L"MSDiskDriver_PerformanceData"), Prop(L"DeviceName", cim::kString)}));
}

}  // namespace

void DefineSanClasses(Namespace& ns) {
  DefineDsmPolicyClasses(ns);
  DefineDsmDataClasses(ns);
  DefineMpioClasses(ns);
}

}  // namespace platform::sim
