// The SAN of a simulated machine: adapter ports, controller ports, LUNs and
// their paths, read from the machine file's "san" section. Every DSM and
// MPIO class is derived from this one model, so they always agree.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::sim {

/// One host bus adapter port.
struct SanAdapter {
  uint8_t port = 0;  // SCSI port number
  uint64_t wwpn = 0;
  std::string name;  // MPIO_ADAPTER_INFORMATION.AdapterName
  uint8_t pciBus = 0, pciDevice = 0, pciFunction = 0;
  bool claimsUnits = false;  // its port device refuses pass-through to the LUNs' paths
};

/// One storage controller port.
struct SanController {
  uint64_t wwpn = 0;
  uint32_t state = 1;  // MPIO_CONTROLLER_INFO.ControllerState
};

struct SanCounters {
  uint64_t bytesRead = 0;
  uint64_t bytesWritten = 0;
  uint32_t reads = 0;
  uint32_t writes = 0;
  uint32_t pending = 0;
};

/// One path of a LUN: an adapter port, a controller port and the SCSI
/// address (adapter's port number, bus, target, LUN) under which the LUN
/// shows through them.
struct SanPath {
  uint64_t id = 0;
  size_t adapter = 0;     // index into SanModel::adapters
  size_t controller = 0;  // index into SanModel::controllers
  uint8_t bus = 0, target = 0, lun = 0;
  uint8_t state = 1;  // 1 online, 5 failed, 7 standby
  uint32_t weight = 0;
  bool primary = false;
  SanCounters counters;
};

struct SanLun {
  std::string serial;  // "XXXXXXXX-XX"
  std::array<uint8_t, 5> serialBytes{};
  std::wstring instanceName;
  uint32_t policy = 2;
  uint32_t failBack = 2;  // 1 on, 2 off
  uint32_t disk = 0;      // physical drive number
  bool reserved = false;  // listed in the DSM's reservation list
  std::string vendor, product, revision;
  std::vector<SanPath> paths;
};

/// MPIO's timer settings (MPIO_TIMERS_COUNTERS).
struct SanTimers {
  bool pathVerifyEnabled = false;
  uint32_t pathVerificationPeriod = 30;
  uint32_t pdoRemovePeriod = 20;
  uint32_t retryCount = 3;
  uint32_t retryInterval = 1;
};

/// Where a path lives in the model.
struct SanPathRef {
  size_t lun = 0;
  size_t path = 0;
};

struct SanModel {
  std::vector<SanAdapter> adapters;
  std::vector<SanController> controllers;
  std::vector<SanLun> luns;
  SanTimers timers;

  /// The LUN with that serial number, or null.
  SanLun* FindBySerial(std::string_view serial);
  /// The LUN with that instance name (compared without ASCII letter case,
  /// as WMI compares key values), or null.
  SanLun* FindByInstance(std::wstring_view instanceName);
  /// Where the path with that id is, or nothing.
  std::optional<SanPathRef> FindPath(uint64_t id) const;

  /// Builds the lookup tables once the lists are complete, in time linear
  /// in the number of paths. False with `error` set when two LUNs share a
  /// serial number or instance name, or two paths an id or SCSI address.
  bool Index(std::string* error);

 private:
  std::unordered_map<std::string, size_t> bySerial_;
  std::unordered_map<std::wstring, size_t> byInstance_;
  std::unordered_map<uint64_t, SanPathRef> byPathId_;
};

/// The 26-byte identifier the DSM reports for a path: SCSI address (port,
/// bus, target, LUN), adapter WWPN and controller WWPN big-endian, the
/// serial number's five bytes, the path state.
std::array<uint8_t, 26> PathIdentifier(const SanModel& model, const SanLun& lun,
                                       const SanPath& path);

/// Parses the "san" section. False with `error` set to one line naming the
/// entry and what is wrong with it; `model` is then unspecified.
bool ParseSan(const nlohmann::ordered_json& section, SanModel* model, std::string* error);

/// Word tables of the file format: names for policies and path states.
/// The number of a policy word ("RoundRobin") or path state ("Online"),
/// compared without letter case; nothing for an unknown word.
std::optional<uint32_t> PolicyOfName(std::string_view word);
std::optional<uint32_t> PathStateOfName(std::string_view word);
/// The file's word for a policy or state number; empty when it has none.
std::string PolicyName(uint32_t policy);
std::string PathStateName(uint32_t state);

/// Text forms of the file: "XXXXXXXX-XX" serials, 16-digit WWPNs, path ids
/// as hexadecimal text with or without "0x".
bool ParseSerial(std::string_view text, std::array<uint8_t, 5>* bytes);
std::optional<uint64_t> ParseWwpn(std::string_view text);
std::optional<uint64_t> ParsePathId(std::string_view text);
std::string WwpnText(uint64_t wwpn);
std::string PathIdText(uint64_t id);

/// The instance name a LUN gets when the file gives none.
std::wstring DefaultInstanceName(const SanLun& lun);

}  // namespace platform::sim
