#include "platform/sim/faults/faults.h"

#include <nlohmann/json.hpp>

namespace platform::sim {
namespace {

// The calls the simulated machine can make fail. A name outside this list
// would never fire, and a test built on it would prove nothing.
constexpr std::string_view kCalls[] = {
    "CoInitializeEx", "CoInitializeSecurity", "CoCreateInstance", "ConnectServer",
    "CoSetProxyBlanket", "QueryBlanket", "CreateInstanceEnum", "Next", "GetObject",
    "GetMethod", "SpawnInstance", "Put", "ExecMethod", "ExecNotificationQueryAsync",
    "CreateObjectStub", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA",
    "CreateFileA", "DeviceIoControl", "QueryDosDeviceA", "CheckCondition"};

bool KnownCall(std::string_view call) {
  for (std::string_view known : kCalls) {
    if (call == known) return true;
  }
  return false;
}

bool ReadCode(const nlohmann::ordered_json& value, uint32_t* code) {
  if (value.is_number_integer()) {
    *code = static_cast<uint32_t>(value.get<int64_t>());
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
  if (!v.is_number_unsigned()) return false;
  *out = static_cast<uint32_t>(v.get<uint64_t>());
  return true;
}

}  // namespace

bool Faults::Load(const nlohmann::ordered_json& faults, std::string* error) {
  faults_.clear();
  if (faults.is_null()) return true;
  if (!faults.is_array()) {
    *error = "\"faults\" must be a list";
    return false;
  }
  size_t index = 0;
  for (const auto& entry : faults) {
    const std::string where = "fault " + std::to_string(index++) + ": ";
    Fault fault;
    if (!entry.is_object() || !entry.contains("call") || !entry["call"].is_string()) {
      *error = where + "needs a \"call\" name";
      return false;
    }
    fault.call = entry["call"].get<std::string>();
    if (!KnownCall(fault.call)) {
      *error = where + "unknown call \"" + fault.call + "\"";
      return false;
    }
    if (entry.contains("target")) {
      if (!entry["target"].is_string()) {
        *error = where + "\"target\" must be text";
        return false;
      }
      fault.target = entry["target"].get<std::string>();
    }
    if (entry.contains("method")) {
      if (!entry["method"].is_string()) {
        *error = where + "\"method\" must be text";
        return false;
      }
      fault.method = entry["method"].get<std::string>();
    }
    if (!entry.contains("code") || !ReadCode(entry["code"], &fault.code)) {
      *error = where + "needs a \"code\" (a number or text such as \"0x80041010\")";
      return false;
    }
    uint32_t times = 0;
    if (!ReadCount(entry, "after", &fault.after) || !ReadCount(entry, "times", &times)) {
      *error = where + "\"after\" and \"times\" must be counts";
      return false;
    }
    if (entry.contains("times")) fault.times = times;
    if (entry.contains("data") && !ReadBytes(entry["data"], &fault.data)) {
      *error = where + "\"data\" must be a list of byte values";
      return false;
    }
    faults_.push_back(std::move(fault));
  }
  return true;
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
