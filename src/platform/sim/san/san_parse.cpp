// Reading the machine file's "san" section into a SanModel, with one-line
// errors that name the entry and the problem.
#include <algorithm>
#include <initializer_list>
#include <limits>
#include <set>

#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/san/san_model.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

/// Where an entry stands in the file ("san.luns[3] (6A0B0000-03).paths[1]"),
/// spelt out only for an error message: the section, or an element, a
/// member or a labelled form of a place that outlives it. The texts it
/// refers to must outlive it too.
class Place {
 public:
  constexpr explicit Place(std::string_view section) : text_(section) {}
  constexpr Place(const Place& list, size_t index)
      : parent_(&list), kind_(Kind::kIndex), index_(index) {}
  constexpr Place(const Place& object, std::string_view key)
      : parent_(&object), kind_(Kind::kKey), text_(key) {}
  /// The same entry with `label` beside it ("san.luns[3] (6A0B0000-03)").
  static Place Labelled(const Place& entry, std::string_view label) {
    Place place(entry, label);
    place.kind_ = Kind::kLabel;
    return place;
  }

  std::string Text() const {
    switch (kind_) {
      case Kind::kIndex:
        return parent_->Text() + "[" + std::to_string(index_) + "]";
      case Kind::kKey:
        return parent_->Text() + "." + std::string(text_);
      case Kind::kLabel:
        return parent_->Text() + " (" + std::string(text_) + ")";
      case Kind::kSection:
        break;
    }
    return std::string(text_);
  }
  /// The path of the entry in the document (labels are not part of it).
  JsonPath Path() const {
    JsonPath path = parent_ == nullptr ? JsonPath{} : parent_->Path();
    if (kind_ == Kind::kIndex) path.push_back(std::to_string(index_));
    if (kind_ == Kind::kKey || kind_ == Kind::kSection) path.emplace_back(text_);
    return path;
  }

 private:
  enum class Kind { kSection, kIndex, kKey, kLabel };
  const Place* parent_ = nullptr;
  Kind kind_ = Kind::kSection;
  std::string_view text_;
  size_t index_ = 0;
};

constexpr Place kSan("san");
constexpr Place kAdapters(kSan, "adapters");
constexpr Place kControllers(kSan, "controllers");
constexpr Place kLuns(kSan, "luns");

/// Reads the members of one JSON object; the first problem is kept in
/// `error` and every later read fails, so callers check once at the end.
class Fields {
 public:
  Fields(const Json& object, Place where, std::string* error,
         std::initializer_list<std::string_view> known)
      : object_(object), where_(std::move(where)), error_(error) {
    if (!object.is_object()) {
      Fail(where_.Text() + ": expected an object");
      return;
    }
    for (const auto& [key, value] : object.get_ref<const Json::object_t&>()) {
      if (std::find(known.begin(), known.end(), key) == known.end()) {
        Fail(where_.Text() + ": unknown key \"" + key + "\"", key);
        return;
      }
    }
  }

  bool Ok() const { return error_->empty(); }
  const Place& Where() const { return where_; }
  std::string At(std::string_view key) const { return where_.Text() + "." + std::string(key); }
  const Json* Find(std::string_view key) const {
    if (!Ok() || !object_.is_object()) return nullptr;
    for (const auto& [name, value] : object_.get_ref<const Json::object_t&>()) {
      if (name == key) return &value;
    }
    return nullptr;
  }
  /// Keeps the first problem, located at the member `key` (at the entry
  /// when empty or absent).
  bool Fail(const std::string& message, std::string_view key = {}) {
    if (!error_->empty()) return false;
    JsonPath path = where_.Path();
    if (!key.empty() && Find(key) != nullptr) path.emplace_back(key);
    *error_ = LocatedError(path, message);
    return false;
  }

  /// An integer in [min, max]; `fallback` when absent (nothing = required).
  bool Int(std::string_view key, int64_t min, uint64_t max, std::optional<uint64_t> fallback,
           uint64_t* out) {
    const Json* v = Find(key);
    if (!Ok()) return false;
    if (v == nullptr) {
      if (!fallback) return Fail(At(key) + ": missing");
      *out = *fallback;
      return true;
    }
    if (v->is_number_unsigned() && v->get<uint64_t>() <= max) {
      *out = v->get<uint64_t>();
      return true;
    }
    if (v->is_number_integer() && !v->is_number_unsigned()) {
      const int64_t signedValue = v->get<int64_t>();
      if (signedValue >= min && (signedValue < 0 || static_cast<uint64_t>(signedValue) <= max)) {
        *out = static_cast<uint64_t>(signedValue);
        return true;
      }
    }
    return Fail(At(key) + ": " + v->dump() + " is not an integer from " + std::to_string(min) +
                    " to " + std::to_string(max),
                key);
  }
  template <typename T>
  bool Small(std::string_view key, T fallback, T* out) {
    uint64_t v = 0;
    if (!Int(key, 0, std::numeric_limits<T>::max(), fallback, &v)) return false;
    *out = static_cast<T>(v);
    return true;
  }

  bool Text(std::string_view key, std::optional<std::string> fallback, std::string* out) {
    const Json* v = Find(key);
    if (!Ok()) return false;
    if (v == nullptr) {
      if (!fallback) return Fail(At(key) + ": missing");
      *out = *fallback;
      return true;
    }
    if (!v->is_string()) return Fail(At(key) + ": " + v->dump() + " is not a text", key);
    *out = v->get<std::string>();
    return true;
  }

  bool Flag(std::string_view key, bool* out) {
    const Json* v = Find(key);
    if (!Ok() || v == nullptr) return Ok();
    if (!v->is_boolean()) return Fail(At(key) + ": " + v->dump() + " is not true or false", key);
    *out = v->get<bool>();
    return true;
  }

  /// true or false, or a number where any nonzero one is true (machine
  /// files written when the flag was a number keep their meaning).
  bool FlagOrNumber(std::string_view key, bool* out) {
    const Json* v = Find(key);
    if (v != nullptr && !v->is_number()) return Flag(key, out);
    uint32_t number = *out ? 1 : 0;
    if (!Small<uint32_t>(key, number, &number)) return false;
    *out = number != 0;
    return true;
  }

  /// A number, or a word of `table` (policy or path-state names).
  bool Coded(std::string_view key, uint32_t max, uint32_t fallback,
             std::optional<uint32_t> (*table)(std::string_view), const char* words, uint32_t* out) {
    const Json* v = Find(key);
    if (v != nullptr && v->is_string()) {
      if (auto code = table(v->get<std::string>())) {
        *out = *code;
        return true;
      }
      return Fail(At(key) + ": " + v->dump() + " is not one of " + words, key);
    }
    return Small<uint32_t>(key, fallback, out) &&
           (*out <= max || Fail(At(key) + ": too large", key));
  }

 private:
  const Json& object_;
  Place where_;
  std::string* error_;
};

const Json& Member(const Json& section, const char* key) {
  static const Json kEmptyList = Json::array();
  auto it = section.find(key);
  return it == section.end() ? kEmptyList : *it;
}

bool ReadList(const Json& list, const Place& where, std::string* error) {
  if (list.is_array()) return true;
  *error = LocatedError(where.Path(), where.Text() + ": expected a list");
  return false;
}

bool ReadWwpn(Fields& f, uint64_t* wwpn) {
  std::string text;
  if (!f.Text("wwpn", std::nullopt, &text)) return false;
  auto value = ParseWwpn(text);
  if (!value) {
    return f.Fail(f.At("wwpn") + ": \"" + text + "\" is not 16 hexadecimal digits", "wwpn");
  }
  *wwpn = *value;
  return true;
}

bool ReadAdapters(const Json& list, SanModel* model, std::string* error) {
  if (!ReadList(list, kAdapters, error)) return false;
  std::set<uint8_t> ports;
  for (size_t i = 0; i < list.size(); ++i) {
    Fields f(list[i], Place(kAdapters, i), error,
             {"port", "wwpn", "name", "pciBus", "pciDevice", "pciFunction", "claimsUnits"});
    SanAdapter a;
    const uint8_t slot = static_cast<uint8_t>(i + 1);
    f.Small<uint8_t>("port", static_cast<uint8_t>(i + 2), &a.port);
    ReadWwpn(f, &a.wwpn);
    f.Text("name", "Orrin FC8 Fibre Channel Adapter", &a.name);
    f.Small<uint8_t>("pciBus", static_cast<uint8_t>(4 + i), &a.pciBus);
    f.Small<uint8_t>("pciDevice", 0, &a.pciDevice);
    f.Small<uint8_t>("pciFunction", static_cast<uint8_t>(slot - 1), &a.pciFunction);
    f.Flag("claimsUnits", &a.claimsUnits);
    if (f.Ok() && !ports.insert(a.port).second) {
      f.Fail(f.At("port") + ": SCSI port " + std::to_string(a.port) + " is used twice", "port");
    }
    if (!f.Ok()) return false;
    model->adapters.push_back(std::move(a));
  }
  return true;
}

bool ReadControllers(const Json& list, SanModel* model, std::string* error) {
  if (!ReadList(list, kControllers, error)) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    Fields f(list[i], Place(kControllers, i), error, {"wwpn", "state"});
    SanController c;
    ReadWwpn(f, &c.wwpn);
    f.Small<uint32_t>("state", 1, &c.state);
    if (!f.Ok()) return false;
    model->controllers.push_back(c);
  }
  return true;
}

bool ReadCounters(const Json* counters, const Place& where, std::string* error, SanCounters* out) {
  if (counters == nullptr) return true;
  Fields f(*counters, Place(where, "counters"), error,
           {"bytesRead", "bytesWritten", "reads", "writes", "pending"});
  const uint64_t u64 = std::numeric_limits<uint64_t>::max();
  f.Int("bytesRead", 0, u64, 0, &out->bytesRead);
  f.Int("bytesWritten", 0, u64, 0, &out->bytesWritten);
  f.Small<uint32_t>("reads", 0, &out->reads);
  f.Small<uint32_t>("writes", 0, &out->writes);
  f.Small<uint32_t>("pending", 0, &out->pending);
  return f.Ok();
}

bool ReadPathId(Fields& f, const SanModel& model, SanPath* path) {
  const Json* v = f.Find("id");
  if (!f.Ok()) return false;
  if (v == nullptr) {
    // MPIO's own form, 0x77 then port, target and LUN; the bus above it.
    path->id = static_cast<uint64_t>(path->bus) << 32 | 0x77000000u |
               static_cast<uint64_t>(model.adapters[path->adapter].port) << 16 |
               static_cast<uint64_t>(path->target) << 8 | path->lun;
    return true;
  }
  auto id = v->is_string() ? ParsePathId(v->get<std::string>()) : std::nullopt;
  if (!id)
    return f.Fail(f.At("id") + ": " + v->dump() + " is not a hexadecimal path id text", "id");
  path->id = *id;
  return true;
}

bool ReadPath(const Json& item, const Place& where, const SanModel& model, size_t lunIndex,
              uint8_t lunNumber, std::string* error, SanPath* path) {
  Fields f(item, where, error,
           {"id", "adapter", "controller", "bus", "target", "lun", "state", "weight", "primary",
            "counters"});
  uint64_t index = 0;
  if (f.Int("adapter", 0, std::numeric_limits<uint32_t>::max(), std::nullopt, &index) &&
      index >= model.adapters.size()) {
    return f.Fail(f.At("adapter") + ": no adapter " + std::to_string(index) + " (there are " +
                      std::to_string(model.adapters.size()) + ")",
                  "adapter");
  }
  path->adapter = index;
  if (f.Int("controller", 0, std::numeric_limits<uint32_t>::max(), std::nullopt, &index) &&
      index >= model.controllers.size()) {
    return f.Fail(f.At("controller") + ": no controller " + std::to_string(index) + " (there are " +
                      std::to_string(model.controllers.size()) + ")",
                  "controller");
  }
  path->controller = index;
  f.Small<uint8_t>("bus", 0, &path->bus);
  // Past 256 LUNs the array shows them on further targets of each port.
  const size_t targetBase = (lunIndex / 256) * model.controllers.size();
  f.Small<uint8_t>("target", static_cast<uint8_t>(targetBase + path->controller), &path->target);
  f.Small<uint8_t>("lun", lunNumber, &path->lun);
  uint32_t state = 1;
  f.Coded("state", 255, 1, PathStateOfName, "Online, Failed, Standby", &state);
  path->state = static_cast<uint8_t>(state);
  uint64_t weight = 0;
  f.Int("weight", std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(), 0,
        &weight);
  path->weight = static_cast<uint32_t>(weight);
  f.Flag("primary", &path->primary);
  if (!f.Ok() || !ReadPathId(f, model, path)) return false;
  return ReadCounters(f.Find("counters"), f.Where(), error, &path->counters);
}

bool ReadFailBack(Fields& f, uint32_t* failBack) {
  const Json* v = f.Find("failback");
  if (v != nullptr && v->is_boolean()) {
    *failBack = v->get<bool>() ? 1 : 2;
    return true;
  }
  return f.Small<uint32_t>("failback", 2, failBack);
}

bool ReadLunHeader(Fields& f, const SanModel& defaults, size_t index, SanLun* lun,
                   uint8_t* lunNumber) {
  if (f.Text("serial", std::nullopt, &lun->serial) &&
      !ParseSerial(lun->serial, &lun->serialBytes)) {
    return f.Fail(f.At("serial") + ": \"" + lun->serial +
                      "\" is not 8 upper-case hexadecimal digits, '-' and 2 more",
                  "serial");
  }
  const SanLun& d = defaults.luns.front();
  f.Text("vendor", d.vendor, &lun->vendor);
  f.Text("product", d.product, &lun->product);
  f.Text("revision", d.revision, &lun->revision);
  std::string instance;
  if (f.Text("instance", "", &instance)) {
    for (char c : instance) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
        return f.Fail(f.At("instance") + ": only printable ASCII characters are allowed",
                      "instance");
      }
    }
    lun->instanceName = instance.empty() ? DefaultInstanceName(*lun)
                                         : std::wstring(instance.begin(), instance.end());
  }
  f.Coded("policy", std::numeric_limits<uint32_t>::max(), 2, PolicyOfName,
          "FailOver, RoundRobin, RoundRobinSubset, Dynlqd, Weighted, LeastBlocks, VendorSpecific",
          &lun->policy);
  ReadFailBack(f, &lun->failBack);
  f.Small<uint32_t>("disk", static_cast<uint32_t>(index + 1), &lun->disk);
  f.Flag("reserved", &lun->reserved);
  f.Small<uint8_t>("lun", static_cast<uint8_t>(index % 256), lunNumber);
  return f.Ok();
}

bool ReadLun(const Json& item, size_t i, const SanModel& defaults, const SanModel& model,
             std::string* error, SanLun* lun) {
  Fields f(item, Place(kLuns, i), error,
           {"serial", "instance", "policy", "failback", "disk", "reserved", "lun", "vendor",
            "product", "revision", "paths"});
  uint8_t lunNumber = 0;
  if (!ReadLunHeader(f, defaults, i, lun, &lunNumber)) return false;
  const Place named = Place::Labelled(f.Where(), lun->serial);
  const Place where(named, "paths");
  const Json* paths = f.Find("paths");
  if (paths == nullptr || !paths->is_array()) {
    return f.Fail(where.Text() + ": expected a list", "paths");
  }
  lun->paths.resize(paths->size());
  for (size_t p = 0; p < paths->size(); ++p) {
    if (!ReadPath((*paths)[p], Place(where, p), model, i, lunNumber, error, &lun->paths[p])) {
      return false;
    }
  }
  return true;
}

bool ReadLuns(const Json& list, const SanModel& defaults, SanModel* model, std::string* error) {
  if (!ReadList(list, kLuns, error)) return false;
  model->luns.resize(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    if (!ReadLun(list[i], i, defaults, *model, error, &model->luns[i])) return false;
  }
  return true;
}

bool ReadTimers(const Json* timers, std::string* error, SanTimers* out) {
  if (timers == nullptr) return true;
  Fields f(*timers, Place(kSan, "timers"), error,
           {"pathVerifyEnabled", "pathVerificationPeriod", "pdoRemovePeriod", "retryCount",
            "retryInterval"});
  f.FlagOrNumber("pathVerifyEnabled", &out->pathVerifyEnabled);
  f.Small<uint32_t>("pathVerificationPeriod", out->pathVerificationPeriod,
                    &out->pathVerificationPeriod);
  f.Small<uint32_t>("pdoRemovePeriod", out->pdoRemovePeriod, &out->pdoRemovePeriod);
  f.Small<uint32_t>("retryCount", out->retryCount, &out->retryCount);
  f.Small<uint32_t>("retryInterval", out->retryInterval, &out->retryInterval);
  return f.Ok();
}

/// Everything but the LUNs: the LUN defaults, timers, adapters, controllers.
bool ReadFrame(const Json& section, SanModel* defaults, SanModel* model, std::string* error) {
  error->clear();
  Fields f(section, kSan, error,
           {"vendor", "product", "revision", "timers", "adapters", "controllers", "luns"});
  // The section's vendor, product and revision are the LUNs' defaults.
  defaults->luns.emplace_back();
  SanLun& d = defaults->luns.front();
  f.Text("vendor", "ORRIN", &d.vendor);
  f.Text("product", "VDISK", &d.product);
  f.Text("revision", "0100", &d.revision);
  if (!f.Ok() || !ReadTimers(f.Find("timers"), error, &model->timers)) return false;
  return ReadAdapters(Member(section, "adapters"), model, error) &&
         ReadControllers(Member(section, "controllers"), model, error);
}

}  // namespace

bool ParseSan(const nlohmann::ordered_json& section, SanModel* model, std::string* error) {
  *model = SanModel{};
  SanModel defaults;
  return ReadFrame(section, &defaults, model, error) &&
         ReadLuns(Member(section, "luns"), defaults, model, error) && model->Index(error);
}

}  // namespace platform::sim
