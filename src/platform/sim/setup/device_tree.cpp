#include "platform/sim/setup/device_tree.h"

#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/setup/inf_reader.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

bool ReadCount(const Json& entry, const DocPlace& place, const char* key, uint32_t* out,
               std::string* error) {
  if (!entry.contains(key)) return true;
  const Json& v = entry[key];
  if (!v.is_number_unsigned() || v.get<uint64_t>() > 0xFFFFFFFFu) {
    *error =
        place.KeyError(key, "\"" + std::string(key) + "\" must be a number from 0 to 4294967295");
    return false;
  }
  *out = static_cast<uint32_t>(v.get<uint64_t>());
  return true;
}

bool ReadString(const Json& entry, const DocPlace& place, const char* key, std::string* out,
                std::string* error) {
  if (!entry.contains(key)) return true;
  if (!entry[key].is_string()) {
    *error = place.KeyError(key, "\"" + std::string(key) + "\" must be text");
    return false;
  }
  *out = entry[key].get<std::string>();
  return true;
}

bool ReadIds(const Json& entry, const DocPlace& place, SimDevice* device, std::string* error) {
  if (!entry.contains("hardware_ids") || entry["hardware_ids"].is_null()) return true;
  const Json& ids = entry["hardware_ids"];
  device->hardwareIds.emplace();
  bool good = ids.is_array();
  for (size_t i = 0; good && i < ids.size(); ++i) {
    good = ids[i].is_string() && !ids[i].get_ref<const std::string&>().empty() &&
           ids[i].get_ref<const std::string&>().find('\0') == std::string::npos;
    if (good) device->hardwareIds->push_back(ids[i].get<std::string>());
  }
  if (!good) {
    *error = place.KeyError("hardware_ids",
                            "\"hardware_ids\" must be a list of non-empty texts, or null");
  }
  return good;
}

bool ReadDevice(const Json& entry, const DocPlace& place, SimDevice* device, std::string* error) {
  if (!entry.is_object()) {
    *error = place.Error("expected an object");
    return false;
  }
  if (!CheckKnownKeys(entry, place,
                      {"instance", "class", "enumerator", "hardware_ids", "config_flags",
                       "install_flags", "driver", "service", "restarts"},
                      error)) {
    return false;
  }
  std::string cls;
  if (!ReadString(entry, place, "instance", &device->instance, error) ||
      !ReadString(entry, place, "class", &cls, error)) {
    return false;
  }
  if (device->instance.empty()) {
    *error = place.Error("needs an \"instance\" id");
    return false;
  }
  device->cls = CanonicalGuid(cls);
  if (device->cls.empty()) {
    *error =
        entry.contains("class")
            ? place.KeyError("class",
                             "\"class\" must be a GUID as {4D36E967-E325-11CE-BFC1-08002BE10318}")
            : place.Error("needs a \"class\" GUID");
    return false;
  }
  if (entry.contains("enumerator") && !entry["enumerator"].is_null()) {
    device->enumerator.emplace();
    if (!ReadString(entry, place, "enumerator", &*device->enumerator, error)) return false;
  }
  return ReadIds(entry, place, device, error) &&
         ReadCount(entry, place, "config_flags", &device->configFlags, error) &&
         ReadCount(entry, place, "install_flags", &device->installFlags, error) &&
         ReadCount(entry, place, "restarts", &device->restarts, error) &&
         ReadString(entry, place, "driver", &device->driver, error) &&
         ReadString(entry, place, "service", &device->service, error);
}

Json DeviceJson(const SimDevice& d) {
  Json entry = {{"instance", d.instance}, {"class", d.cls}};
  entry["enumerator"] = d.enumerator ? Json(*d.enumerator) : Json();
  if (d.hardwareIds) {
    entry["hardware_ids"] = Json::array();
    for (const std::string& id : *d.hardwareIds) entry["hardware_ids"].push_back(id);
  } else {
    entry["hardware_ids"] = nullptr;
  }
  entry["config_flags"] = d.configFlags;
  if (d.installFlags != 0) entry["install_flags"] = d.installFlags;
  if (!d.driver.empty()) entry["driver"] = d.driver;
  if (!d.service.empty()) entry["service"] = d.service;
  if (d.restarts != 0) entry["restarts"] = d.restarts;
  return entry;
}

bool HexDigits(const std::string& text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string CanonicalGuid(const std::string& text) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-' || !HexDigits(text, 1, 8) || !HexDigits(text, 10, 4) ||
      !HexDigits(text, 15, 4) || !HexDigits(text, 20, 4) || !HexDigits(text, 25, 12)) {
    return {};
  }
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool DeviceTree::Load(const Json& section, std::string* error) {
  devices_.clear();
  if (section.is_null()) return true;
  const DocPlace place("devices");
  if (!section.is_array()) {
    *error = place.Error("expected a list of devices");
    return false;
  }
  for (size_t i = 0; i < section.size(); ++i) {
    SimDevice device;
    if (!ReadDevice(section[i], place.Index(i), &device, error)) return false;
    if (Find(device.instance) != nullptr) {
      *error = place.Index(i).KeyError("instance", "instance id listed twice");
      return false;
    }
    devices_.push_back(std::move(device));
  }
  return true;
}

void DeviceTree::Save(MachineState& state) const {
  Json list = Json::array();
  for (const SimDevice& d : devices_) list.push_back(DeviceJson(d));
  state.Change([list = std::move(list)](Json& document) {
    if (!document.is_object()) return false;
    document["devices"] = list;
    return true;
  });
}

SimDevice* DeviceTree::Find(const std::string& instance) {
  for (SimDevice& d : devices_) {
    if (InfSameText(d.instance, instance)) return &d;
  }
  return nullptr;
}

bool DeviceTree::Carries(const SimDevice& device, const std::string& id) {
  if (!device.hardwareIds) return false;
  for (const std::string& h : *device.hardwareIds) {
    if (InfSameText(h, id)) return true;
  }
  return false;
}

}  // namespace platform::sim
