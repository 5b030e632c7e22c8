#include "platform/sim/registry/registry.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/wmi/repository.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kRoot = "HKLM\\";

struct TypeName {
  const char* name;
  uint32_t type;
};
constexpr TypeName kTypes[] = {{"REG_NONE", reg::kNone},          {"REG_SZ", reg::kSz},
                               {"REG_EXPAND_SZ", reg::kExpandSz}, {"REG_BINARY", reg::kBinary},
                               {"REG_DWORD", reg::kDword},        {"REG_MULTI_SZ", reg::kMultiSz}};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The path below HKLM of a key as the section names it, or false.
bool KeyPath(std::string_view name, std::string_view* path) {
  if (name.size() < kRoot.size() || !SameName(name.substr(0, kRoot.size()), kRoot)) return false;
  *path = name.substr(kRoot.size());
  return true;
}

std::string Hex(const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : data) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool FromHex(const Json& value, std::vector<uint8_t>* data) {
  if (!value.is_string()) return false;
  const auto& text = value.get_ref<const std::string&>();
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    data->push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

bool ReadType(const Json& type, uint32_t* out) {
  if (type.is_number_unsigned() && type.get<uint64_t>() <= 0xFFFFFFFFu) {
    *out = static_cast<uint32_t>(type.get<uint64_t>());
    return true;
  }
  if (!type.is_string()) return false;
  for (const TypeName& t : kTypes) {
    if (type.get_ref<const std::string&>() == t.name) {
      *out = t.type;
      return true;
    }
  }
  return false;
}

// Text stored the way RegSetValueExA keeps it: the bytes and one zero.
void AppendText(const std::string& text, std::vector<uint8_t>* data) {
  data->insert(data->end(), text.begin(), text.end());
  data->push_back(0);
}

bool PlainText(const Json& value) {
  return value.is_string() && value.get_ref<const std::string&>().find('\0') == std::string::npos;
}

bool ParseNatural(const Json& value, uint32_t type, std::vector<uint8_t>* data,
                  std::string* error) {
  switch (type) {
    case reg::kDword:
      if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFFFFFFu) {
        *error = "a REG_DWORD value must be a number from 0 to 4294967295";
        return false;
      }
      for (int i = 0; i < 4; ++i)
        data->push_back(static_cast<uint8_t>(value.get<uint64_t>() >> (8 * i)));
      return true;
    case reg::kBinary:
      if (!FromHex(value, data)) {
        *error = "a REG_BINARY value must be hex text with two digits per byte";
        return false;
      }
      return true;
    case reg::kSz:
    case reg::kExpandSz:
      if (!PlainText(value)) {
        *error = "a REG_SZ or REG_EXPAND_SZ value must be text";
        return false;
      }
      AppendText(value.get<std::string>(), data);
      return true;
    case reg::kMultiSz:
      if (!value.is_array() || !std::all_of(value.begin(), value.end(), [](const Json& s) {
            return PlainText(s) && !s.get_ref<const std::string&>().empty();
          })) {
        *error = "a REG_MULTI_SZ value must be a list of non-empty texts";
        return false;
      }
      for (const Json& s : value) AppendText(s.get<std::string>(), data);
      data->push_back(0);
      return true;
    default:
      *error = "a value of this type needs \"hex\"";
      return false;
  }
}

// The texts of a REG_SZ or REG_MULTI_SZ value, when its bytes are exactly
// that form and plain ASCII (so the JSON text is the same bytes).
bool SplitTexts(const std::vector<uint8_t>& data, std::vector<std::string>* texts) {
  if (data.empty() || data.back() != 0) return false;
  std::string current;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] >= 0x80) return false;
    if (data[i] != 0) {
      current += static_cast<char>(data[i]);
      continue;
    }
    if (current.empty()) return false;
    texts->push_back(std::move(current));
    current.clear();
  }
  texts->push_back(std::move(current));
  return true;
}

Json TypeJson(uint32_t type) {
  for (const TypeName& t : kTypes) {
    if (t.type == type) return t.name;
  }
  return type;
}

}  // namespace

bool ParseRegistryValue(const Json& entry, uint32_t* type, std::vector<uint8_t>* data,
                        std::string* error) {
  data->clear();
  if (!entry.is_object()) {
    *error = "expected an object with \"type\" and \"value\" or \"hex\"";
    return false;
  }
  for (const auto& [key, member] : entry.items()) {
    if (key != "type" && key != "value" && key != "hex") {
      *error = "unknown key \"" + key + "\"";
      return false;
    }
  }
  if (!entry.contains("type") || !ReadType(entry["type"], type)) {
    *error =
        "\"type\" must be REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, "
        "REG_NONE or a number";
    return false;
  }
  if (entry.contains("value") == entry.contains("hex")) {
    *error = "needs exactly one of \"value\" and \"hex\"";
    return false;
  }
  if (entry.contains("value")) return ParseNatural(entry["value"], *type, data, error);
  if (!FromHex(entry["hex"], data)) {
    *error = "\"hex\" must be hex text with two digits per byte";
    return false;
  }
  return true;
}

Json RegistryValueJson(uint32_t type, const std::vector<uint8_t>& data) {
  std::vector<std::string> texts;
  if (type == reg::kDword && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | data[static_cast<size_t>(i)];
    return Json{{"type", "REG_DWORD"}, {"value", value}};
  }
  if (type == reg::kBinary) return Json{{"type", "REG_BINARY"}, {"value", Hex(data)}};
  if ((type == reg::kSz || type == reg::kExpandSz) && SplitTexts(data, &texts) &&
      texts.size() == 1) {
    return Json{{"type", TypeJson(type)}, {"value", texts[0]}};
  }
  if (type == reg::kMultiSz && SplitTexts(data, &texts) && texts.back().empty()) {
    texts.pop_back();
    Json list = Json::array();
    for (const std::string& t : texts) list.push_back(t);
    if (!texts.empty() || data.size() == 1) return Json{{"type", "REG_MULTI_SZ"}, {"value", list}};
  }
  return Json{{"type", TypeJson(type)}, {"hex", Hex(data)}};
}

namespace {

struct Value {
  std::string name;
  uint32_t type = reg::kNone;
  std::vector<uint8_t> data;
};

struct Key {
  std::string path;  // below HKLM
  std::vector<Value> values;
};

struct Hive {
  std::vector<Key> keys;

  Key* Find(std::string_view path) {
    for (Key& k : keys) {
      if (SameName(k.path, path)) return &k;
    }
    return nullptr;
  }
  // A listed key or a parent of one.
  bool Exists(std::string_view path) const {
    if (path.empty()) return true;
    return std::any_of(keys.begin(), keys.end(), [&](const Key& k) {
      return SameName(k.path, path) ||
             (k.path.size() > path.size() && k.path[path.size()] == '\\' &&
              SameName(std::string_view(k.path).substr(0, path.size()), path));
    });
  }
};

Value* FindValue(Key& key, std::string_view name) {
  for (Value& v : key.values) {
    if (SameName(v.name, name)) return &v;
  }
  return nullptr;
}

// The member of `object` whose name matches `name` without regard to case.
Json* FindMember(Json& object, std::string_view name, bool isKey) {
  for (auto& [member, value] : object.items()) {
    std::string_view path;
    if (isKey ? KeyPath(member, &path) && SameName(path, name) : SameName(member, name)) {
      return &value;
    }
  }
  return nullptr;
}

// Sets a value in a machine document, creating the section, the key and
// the value as needed; an existing name keeps its spelling.
bool StoreValue(Json& document, const std::string& path, const std::string& name,
                const Json& value) {
  if (!document.is_object()) return false;
  Json& section = document["registry"];
  if (section.is_null()) section = Json::object();
  if (!section.is_object()) return false;
  Json* key = FindMember(section, path, true);
  if (key == nullptr) key = &(section[std::string(kRoot) + path] = Json::object());
  if (!key->is_object()) return false;
  Json* slot = FindMember(*key, name, false);
  if (slot == nullptr) slot = &(*key)[name];
  *slot = value;
  return true;
}

class SimKey : public RegistryKey {
 public:
  SimKey(std::shared_ptr<Hive> hive, std::string path, bool writable, MachineState& state,
         std::shared_ptr<Faults> faults)
      : hive_(std::move(hive)),
        path_(std::move(path)),
        writable_(writable),
        state_(state),
        faults_(std::move(faults)) {}

  Win32Error QueryValue(std::string_view name, uint32_t* type, void* data,
                        uint32_t* size) override {
    if (const Fault* f = faults_->Check("RegQueryValueExA", name)) return f->code;
    if (data != nullptr && size == nullptr) return win32_error::kInvalidParameter;
    Key* key = hive_->Find(path_);
    const Value* value = key == nullptr ? nullptr : FindValue(*key, name);
    if (value == nullptr) return win32_error::kFileNotFound;
    if (type != nullptr) *type = value->type;
    if (size == nullptr) return win32_error::kSuccess;
    const auto length = static_cast<uint32_t>(value->data.size());
    const uint32_t room = *size;
    *size = length;
    if (data == nullptr) return win32_error::kSuccess;
    if (room < length) return win32_error::kMoreData;
    if (length != 0) std::memcpy(data, value->data.data(), length);
    return win32_error::kSuccess;
  }

  Win32Error SetValue(std::string_view name, uint32_t type, const void* data,
                      uint32_t size) override {
    if (const Fault* f = faults_->Check("RegSetValueExA", name)) return f->code;
    if (!writable_) return win32_error::kAccessDenied;
    if (data == nullptr && size != 0) return win32_error::kInvalidParameter;
    Key* key = hive_->Find(path_);
    if (key == nullptr) key = &hive_->keys.emplace_back(Key{path_, {}});
    Value* value = FindValue(*key, name);
    if (value == nullptr) value = &key->values.emplace_back(Value{std::string(name), type, {}});
    value->type = type;
    const auto* bytes = static_cast<const uint8_t*>(data);
    value->data.assign(bytes, bytes + size);
    // The edit carries the JSON; the in-memory hive is already changed.
    state_.Change([path = path_, n = value->name, json = RegistryValueJson(type, value->data)](
                      Json& document) { return StoreValue(document, path, n, json); });
    return win32_error::kSuccess;
  }

 private:
  std::shared_ptr<Hive> hive_;
  std::string path_;
  bool writable_;
  MachineState& state_;
  std::shared_ptr<Faults> faults_;
};

// True when `path` is `key` or lies below it.
bool Within(std::string_view path, std::string_view key) {
  return SameName(path, key) || (path.size() > key.size() && path[key.size()] == '\\' &&
                                 SameName(path.substr(0, key.size()), key));
}

bool EraseValue(Json& document, const std::string& path, const std::string& name) {
  if (!document.is_object() || !document.contains("registry")) return false;
  Json* key = FindMember(document["registry"], path, true);
  if (key == nullptr || !key->is_object()) return false;
  for (auto it = key->begin(); it != key->end(); ++it) {
    if (SameName(it.key(), name)) {
      key->erase(it);
      return true;
    }
  }
  return false;
}

bool EraseKey(Json& document, const std::string& path) {
  if (!document.is_object() || !document.contains("registry")) return false;
  Json& section = document["registry"];
  for (auto it = section.begin(); it != section.end();) {
    std::string_view member;
    if (KeyPath(it.key(), &member) && Within(member, path)) {
      it = section.erase(it);
    } else {
      ++it;
    }
  }
  return true;
}

bool AddKey(Json& document, const std::string& path) {
  if (!document.is_object()) return false;
  Json& section = document["registry"];
  if (section.is_null()) section = Json::object();
  if (!section.is_object()) return false;
  if (FindMember(section, path, true) == nullptr)
    section[std::string(kRoot) + path] = Json::object();
  return true;
}

class SimRegistry : public Registry, public RegistryEditor {
 public:
  SimRegistry(std::shared_ptr<Hive> hive, MachineState& state, std::shared_ptr<Faults> faults)
      : hive_(std::move(hive)), state_(state), faults_(std::move(faults)) {}

  void CreateKey(std::string_view path) override {
    if (hive_->Find(path) != nullptr) return;
    hive_->keys.push_back(Key{std::string(path), {}});
    state_.Change([p = std::string(path)](Json& document) { return AddKey(document, p); });
  }

  Win32Error DeleteValue(std::string_view path, std::string_view name) override {
    Key* key = hive_->Find(path);
    if (key == nullptr) return win32_error::kFileNotFound;
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
      if (!SameName(it->name, name)) continue;
      key->values.erase(it);
      state_.Change([p = std::string(path), n = std::string(name)](Json& document) {
        return EraseValue(document, p, n);
      });
      return win32_error::kSuccess;
    }
    return win32_error::kFileNotFound;
  }

  Win32Error DeleteKey(std::string_view path) override {
    if (!hive_->Exists(path)) return win32_error::kFileNotFound;
    std::erase_if(hive_->keys, [&](const Key& k) { return Within(k.path, path); });
    state_.Change([p = std::string(path)](Json& document) { return EraseKey(document, p); });
    return win32_error::kSuccess;
  }

  Win32Error OpenKey(RegistryRoot, std::string_view path, RegistryAccess access,
                     std::unique_ptr<RegistryKey>* key) override {
    key->reset();
    if (const Fault* f = faults_->Check("RegOpenKeyExA", std::string(kRoot) + std::string(path))) {
      return f->code;
    }
    if (!hive_->Exists(path)) return win32_error::kFileNotFound;
    *key = std::make_unique<SimKey>(hive_, std::string(path), access == RegistryAccess::kAllAccess,
                                    state_, faults_);
    return win32_error::kSuccess;
  }

 private:
  std::shared_ptr<Hive> hive_;
  MachineState& state_;
  std::shared_ptr<Faults> faults_;
};

// The first member of a value entry that ParseRegistryValue does not know,
// or empty.
std::string UnknownMember(const Json& entry) {
  if (!entry.is_object()) return {};
  for (const auto& [key, member] : entry.items()) {
    if (key != "type" && key != "value" && key != "hex") return key;
  }
  return {};
}

bool ParseKey(const std::string& name, const Json& values, Hive* hive, std::string* error) {
  const std::string where = "registry \"" + name + "\"";
  const JsonPath place = {"registry", name};
  std::string_view path;
  if (!KeyPath(name, &path) || path.empty()) {
    *error = LocatedError(place, where + ": a key must start with HKLM\\ and name a key below it");
    return false;
  }
  if (hive->Find(path) != nullptr) {
    *error = LocatedError(place, where + ": key listed twice (names are not case-sensitive)");
    return false;
  }
  if (!values.is_object()) {
    *error = LocatedError(place, where + ": expected an object of values");
    return false;
  }
  Key key{std::string(path), {}};
  for (const auto& [valueName, entry] : values.items()) {
    Value value{valueName, reg::kNone, {}};
    std::string problem;
    if (FindValue(key, valueName) != nullptr) {
      problem = "value listed twice (names are not case-sensitive)";
    } else {
      ParseRegistryValue(entry, &value.type, &value.data, &problem);
    }
    if (!problem.empty()) {
      // An unknown member is shown where it stands, anything else at the value.
      JsonPath at = {"registry", name, valueName};
      if (const std::string member = UnknownMember(entry); !member.empty()) at.push_back(member);
      *error = LocatedError(at, where + ".\"" + valueName + "\": " + problem);
      return false;
    }
    key.values.push_back(std::move(value));
  }
  hive->keys.push_back(std::move(key));
  return true;
}

}  // namespace

RegistryEditor* EditorOf(Registry& registry) { return dynamic_cast<RegistryEditor*>(&registry); }

std::unique_ptr<Registry> MakeRegistry(MachineState& state, std::shared_ptr<Faults> faults,
                                       std::string* error) {
  auto hive = std::make_shared<Hive>();
  const Json& document = state.Document();
  if (document.contains("registry")) {
    const Json& section = document["registry"];
    if (!section.is_object()) {
      *error = LocatedError({"registry"}, "\"registry\" must be an object of keys");
      return nullptr;
    }
    for (const auto& [name, values] : section.items()) {
      if (!ParseKey(name, values, hive.get(), error)) return nullptr;
    }
  }
  return std::make_unique<SimRegistry>(std::move(hive), state, std::move(faults));
}

}  // namespace platform::sim
