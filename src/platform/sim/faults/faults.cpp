#include "platform/sim/faults/faults.h"

#include <nlohmann/json.hpp>

#include "platform/sim/machine_file/section_check.h"

namespace platform::sim {
namespace {

// The calls the simulated machine can make fail. A name outside this list
// would never fire, and a test built on it would prove nothing.
constexpr std::string_view kCalls[] = {
    "CoInitializeEx", "CoInitializeSecurity", "CoCreateInstance", "ConnectServer",
    "CoSetProxyBlanket", "QueryBlanket", "CreateInstanceEnum", "Next", "GetObject",
    "GetMethod", "SpawnInstance", "Put", "Get", "GetNames", "GetPropertyQualifierSet",
    "GetQualifier", "InheritsFrom", "ExecMethod", "ExecNotificationQueryAsync",
    "CreateObjectStub", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA",
    "CreateFileA", "DeviceIoControl", "QueryDosDeviceA", "CheckCondition",
    // Device installation and the system services of the installer.
    "GetVersionExA", "FindFirstFileA", "DeleteFileA", "SetCurrentDirectoryA",
    "SetupDiGetINFClassA", "SetupDiGetClassDevsA", "SetupDiCreateDeviceInfoList",
    "SetupDiEnumDeviceInfo", "SetupDiCreateDeviceInfoA", "SetupDiGetDeviceRegistryPropertyA",
    "SetupDiSetDeviceRegistryPropertyA", "SetupDiSetClassInstallParamsA",
    "SetupDiCallClassInstaller", "SetupDiGetDeviceInstallParamsA",
    "UpdateDriverForPlugAndPlayDevicesA", "SetupOpenInfFileA", "SetupGetLineTextA",
    "SetupInitDefaultQueueCallbackEx", "SetupInstallFromInfSectionA",
    "SetupInstallServicesFromInfSectionA", "SetupCopyOEMInfA", "SetupUninstallOEMInfA"};

bool KnownCall(std::string_view call) {
  for (std::string_view known : kCalls) {
    if (call == known) return true;
  }
  return false;
}

}  // namespace

bool ReadStatusCode(const nlohmann::ordered_json& value, uint32_t* code) {
  if (value.is_number_integer()) {
    // Negative numbers are HRESULTs written as signed 32-bit values.
    const int64_t number = value.get<int64_t>();
    if (value.is_number_unsigned() ? value.get<uint64_t>() > 0xFFFFFFFFull
                                   : number < -0x80000000ll) {
      return false;
    }
    *code = static_cast<uint32_t>(number);
    return true;
  }
  if (!value.is_string()) return false;
  const std::string text = value.get<std::string>();
  if (text.empty()) return false;
  size_t used = 0;
  unsigned long long parsed = 0;
  try {
    parsed = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    return false;
  }
  if (used != text.size() || parsed > 0xFFFFFFFFull) return false;
  *code = static_cast<uint32_t>(parsed);
  return true;
}

namespace {

bool ReadBytes(const nlohmann::ordered_json& value, std::vector<uint8_t>* bytes) {
  if (!value.is_array()) return false;
  for (const auto& b : value) {
    if (!b.is_number_integer() || b.get<int64_t>() < 0 || b.get<int64_t>() > 255) return false;
    bytes->push_back(static_cast<uint8_t>(b.get<int64_t>()));
  }
  return true;
}

bool ReadCount(const nlohmann::ordered_json& entry, const char* name, uint32_t* out) {
  if (!entry.contains(name)) return true;
  const auto& v = entry[name];
  if (!v.is_number_unsigned() || v.get<uint64_t>() > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v.get<uint64_t>());
  return true;
}

bool ReadText(const nlohmann::ordered_json& entry, const DocPlace& place, const char* name,
              std::optional<std::string>* out, std::string* error) {
  if (!entry.contains(name)) return true;
  if (!entry[name].is_string()) {
    *error = place.KeyError(name, "\"" + std::string(name) + "\" must be text");
    return false;
  }
  *out = entry[name].get<std::string>();
  return true;
}

// One entry of the list. Unknown keys are refused: a misspelt "target"
// would make the fault hit every call.
bool ReadFault(const nlohmann::ordered_json& entry, const DocPlace& place, Fault* fault,
               std::string* error) {
  if (!entry.is_object()) {
    *error = place.Error("expected an object");
    return false;
  }
  if (!CheckKnownKeys(entry, place, {"call", "target", "method", "after", "times", "code", "data"},
                      error)) {
    return false;
  }
  if (!entry.contains("call") || !entry["call"].is_string()) {
    *error = entry.contains("call") ? place.KeyError("call", "needs a \"call\" name")
                                    : place.Error("needs a \"call\" name");
    return false;
  }
  fault->call = entry["call"].get<std::string>();
  if (!KnownCall(fault->call)) {
    *error = place.KeyError("call", "unknown call \"" + fault->call + "\"");
    return false;
  }
  if (!ReadText(entry, place, "target", &fault->target, error) ||
      !ReadText(entry, place, "method", &fault->method, error)) {
    return false;
  }
  if (!entry.contains("code") || !ReadStatusCode(entry["code"], &fault->code)) {
    const std::string problem = "needs a \"code\" (a number or text such as \"0x80041010\")";
    *error = entry.contains("code") ? place.KeyError("code", problem) : place.Error(problem);
    return false;
  }
  uint32_t times = 0;
  for (const char* name : {"after", "times"}) {
    if (!ReadCount(entry, name, name[0] == 'a' ? &fault->after : &times)) {
      *error = place.KeyError(name, "\"after\" and \"times\" must be counts");
      return false;
    }
  }
  if (entry.contains("times")) fault->times = times;
  if (entry.contains("data") && !ReadBytes(entry["data"], &fault->data)) {
    *error = place.KeyError("data", "\"data\" must be a list of byte values");
    return false;
  }
  return true;
}

}  // namespace

bool Faults::Load(const nlohmann::ordered_json& faults, std::string* error) {
  faults_.clear();
  if (faults.is_null()) return true;
  const DocPlace section("faults");
  if (!faults.is_array()) {
    *error = section.Error("expected a list");
    return false;
  }
  for (size_t index = 0; index < faults.size(); ++index) {
    Fault fault;
    if (!ReadFault(faults[index], section.Index(index), &fault, error)) return false;
    faults_.push_back(std::move(fault));
  }
  return true;
}

bool Faults::Names(std::string_view call) const {
  for (const Fault& f : faults_) {
    if (f.call == call) return true;
  }
  return false;
}

const Fault* Faults::Check(std::string_view call, std::string_view target,
                           std::string_view method) {
  const Fault* firing = nullptr;
  for (Fault& f : faults_) {
    if (f.call != call) continue;
    if (f.target && *f.target != target) continue;
    if (f.method && *f.method != method) continue;
    ++f.seen;
    if (firing != nullptr || f.seen <= f.after) continue;
    if (f.times && f.fired >= *f.times) continue;
    ++f.fired;
    firing = &f;
  }
  return firing;
}

HResult Faults::Status(std::string_view call, std::string_view target, std::string_view method) {
  const Fault* f = Check(call, target, method);
  return f == nullptr ? status::kOk : static_cast<HResult>(f->code);
}

}  // namespace platform::sim
