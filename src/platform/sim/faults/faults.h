// Fault injection: the machine file's "faults" list makes named platform
// calls fail with given codes, so every failure path can be run.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform::sim {

/// One injected fault. `call` names the platform call (CoInitializeEx,
/// ConnectServer, CreateInstanceEnum, Next, GetObject, ExecMethod, ...);
/// the optional selectors narrow it down: `target` is the class, method,
/// object path, key or device the call is about (compared exactly), `after`
/// lets that many matching calls succeed first, `times` limits how often it
/// fires (absent = always). `data` carries extra bytes for faults that need
/// them (sense data of a SCSI command).
struct Fault {
  std::string call;
  std::optional<std::string> target;
  std::optional<std::string> method;
  uint32_t after = 0;
  std::optional<uint32_t> times;
  uint32_t code = 0;
  std::vector<uint8_t> data;
  uint32_t seen = 0;   // matching calls so far
  uint32_t fired = 0;  // times it made a call fail
};

/// Reads a status code as the machine file writes one: a number (a
/// negative one is a signed 32-bit HRESULT) or text such as "0x80041010".
/// False for anything else or a value beyond 32 bits.
bool ReadStatusCode(const nlohmann::ordered_json& value, uint32_t* code);

class Faults {
 public:
  /// Reads the "faults" array; returns false with `error` set on a
  /// malformed entry.
  bool Load(const nlohmann::ordered_json& faults, std::string* error);
  /// The fault that fires for this call now, or null. `target` and
  /// `method` are matched when the fault names them.
  const Fault* Check(std::string_view call, std::string_view target = {},
                     std::string_view method = {});
  /// Check() as an HRESULT: kOk when no fault fires.
  HResult Status(std::string_view call, std::string_view target = {}, std::string_view method = {});
  /// True when some fault names `call`: a cheap test before a Check whose
  /// selectors cost a copy to make.
  bool Names(std::string_view call) const;
  /// True when no fault is injected at all.
  bool Empty() const { return faults_.empty(); }

 private:
  std::vector<Fault> faults_;
};

}  // namespace platform::sim
