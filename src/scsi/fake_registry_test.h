// An in-memory registry for the tests of the DSM settings: one key, its
// values as the machine files write them ({"Name": {"type": "REG_DWORD",
// "value": 1}}, REG_BINARY as hex text), and calls made to fail by name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/machine.h"
#include "scsi/fake_device_test.h"

namespace scsi::testing {

struct FakeValue {
  std::string name;  // as first stored
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};

/// Registry names are compared without regard to case.
inline std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

class FakeRegistry : public platform::Registry {
 public:
  /// The values of the key, by folded name; no key at all when empty.
  std::optional<std::map<std::string, FakeValue>> values;
  /// Failures: call name ("RegOpenKeyExA", ...) and value name ("" for
  /// every name) to the error returned.
  std::map<std::pair<std::string, std::string>, platform::Win32Error> faults;

  platform::Win32Error Fault(const std::string& call, std::string_view name) const {
    for (const std::string& target : {std::string(name), std::string()}) {
      auto hit = faults.find({call, target});
      if (hit != faults.end()) return hit->second;
    }
    return platform::win32_error::kSuccess;
  }

  platform::Win32Error OpenKey(platform::RegistryRoot, std::string_view,
                               platform::RegistryAccess access,
                               std::unique_ptr<platform::RegistryKey>* key) override;
};

class FakeKey : public platform::RegistryKey {
 public:
  FakeKey(FakeRegistry& registry, bool writable) : registry_(registry), writable_(writable) {}

  platform::Win32Error QueryValue(std::string_view name, uint32_t* type, void* data,
                                  uint32_t* size) override {
    if (auto e = registry_.Fault("RegQueryValueExA", name)) return e;
    auto hit = registry_.values->find(Folded(name));
    if (hit == registry_.values->end()) return platform::win32_error::kFileNotFound;
    const std::vector<uint8_t>& bytes = hit->second.bytes;
    if (type != nullptr) *type = hit->second.type;
    const uint32_t room = *size;
    *size = static_cast<uint32_t>(bytes.size());
    if (data == nullptr) return platform::win32_error::kSuccess;
    if (bytes.size() > room) return platform::win32_error::kMoreData;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return platform::win32_error::kSuccess;
  }

  platform::Win32Error SetValue(std::string_view name, uint32_t type, const void* data,
                                uint32_t size) override {
    if (!writable_) return platform::win32_error::kAccessDenied;
    if (auto e = registry_.Fault("RegSetValueExA", name)) return e;
    FakeValue& value = (*registry_.values)[Folded(name)];
    if (value.name.empty()) value.name = std::string(name);
    value.type = type;
    const auto* bytes = static_cast<const uint8_t*>(data);
    value.bytes.assign(bytes, bytes + size);
    return platform::win32_error::kSuccess;
  }

 private:
  FakeRegistry& registry_;
  bool writable_;
};

inline platform::Win32Error FakeRegistry::OpenKey(platform::RegistryRoot, std::string_view,
                                                  platform::RegistryAccess access,
                                                  std::unique_ptr<platform::RegistryKey>* key) {
  if (auto e = Fault("RegOpenKeyExA", "")) return e;
  if (!values) return platform::win32_error::kFileNotFound;
  *key = std::make_unique<FakeKey>(*this, access == platform::RegistryAccess::kAllAccess);
  return platform::win32_error::kSuccess;
}

/// Fills `registry` from the machine-file form of the key's values (null:
/// no key) and of the faults ([{"call": ..., "target": ..., "code": ...}]).
inline void LoadFakeRegistry(const char* values, const char* faults, FakeRegistry* registry) {
  using Json = nlohmann::ordered_json;
  if (values != nullptr) {
    registry->values.emplace();
    const Json parsed = Json::parse(values);
    for (const auto& [name, entry] : parsed.items()) {
      FakeValue value{name, entry["type"] == "REG_DWORD" ? platform::reg::kDword
                                                         : platform::reg::kBinary,
                      {}};
      if (value.type == platform::reg::kDword) {
        const uint64_t number = entry["value"].get<uint64_t>();
        for (int i = 0; i < 4; ++i) value.bytes.push_back(static_cast<uint8_t>(number >> (8 * i)));
      } else {
        const std::string hex = entry["value"].get<std::string>();
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
          value.bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        }
      }
      (*registry->values)[Folded(name)] = value;
    }
  }
  for (const auto& fault : Json::parse(faults)) {
    registry->faults[{fault["call"].get<std::string>(), fault.value("target", "")}] =
        fault["code"].get<platform::Win32Error>();
  }
}

/// The values of `registry` in the machine-file form (REG_DWORD as a
/// number, other types as upper-case hex text); null without the key.
inline nlohmann::ordered_json DumpFakeRegistry(const FakeRegistry& registry) {
  nlohmann::ordered_json out;
  if (!registry.values) return out;
  out = nlohmann::ordered_json::object();
  for (const auto& [folded, value] : *registry.values) {
    nlohmann::ordered_json entry;
    if (value.type == platform::reg::kDword && value.bytes.size() == 4) {
      uint32_t number = 0;
      std::memcpy(&number, value.bytes.data(), 4);
      entry = {{"type", "REG_DWORD"}, {"value", number}};
    } else {
      std::string hex;
      for (uint8_t b : value.bytes) {
        hex += "0123456789ABCDEF"[b >> 4];
        hex += "0123456789ABCDEF"[b & 15];
      }
      entry = {{"type", "REG_BINARY"}, {"value", hex}};
    }
    out[value.name] = entry;
  }
  return out;
}

/// The fake device machine with the fake registry as well.
struct FakeRegistryMachine : FakeDeviceMachine {
  platform::Registry& Reg() override { return registry; }
  FakeRegistry registry;
};

}  // namespace scsi::testing
