#include "platform/sim/wmi/wmi_data.h"

#include "platform/output.h"
#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/wmi/cim_values.h"
#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {
namespace {

namespace cim = wmi::cim;
namespace vt = wmi::vt;
using Json = nlohmann::ordered_json;
using wmi::Value;

struct TypeName {
  const char* name;
  int32_t cimType;
};
constexpr TypeName kTypes[] = {
    {"sint8", cim::kSint8},       {"uint8", cim::kUint8},         {"sint16", cim::kSint16},
    {"uint16", cim::kUint16},     {"sint32", cim::kSint32},       {"uint32", cim::kUint32},
    {"sint64", cim::kSint64},     {"uint64", cim::kUint64},       {"real32", cim::kReal32},
    {"real64", cim::kReal64},     {"boolean", cim::kBoolean},     {"string", cim::kString},
    {"datetime", cim::kDatetime}, {"reference", cim::kReference}, {"char16", cim::kChar16},
    {"object", cim::kObject}};

struct VtName {
  const char* name;
  uint16_t type;
};
constexpr VtName kVts[] = {
    {"empty", vt::kEmpty}, {"null", vt::kNull}, {"i1", vt::kI1},           {"i2", vt::kI2},
    {"i4", vt::kI4},       {"i8", vt::kI8},     {"ui1", vt::kUi1},         {"ui2", vt::kUi2},
    {"ui4", vt::kUi4},     {"ui8", vt::kUi8},   {"r4", vt::kR4},           {"r8", vt::kR8},
    {"bool", vt::kBool},   {"bstr", vt::kBstr}, {"unknown", vt::kUnknown}, {"date", vt::kDate}};

std::wstring Wide(const std::string& text) { return WidenAnsi(text); }

/// An integer as a VARIANT of `type` holds it: cut to the type's width, so
/// a uint32 of 4294967295 (VT_I4) reads as -1, as from WMI.
int64_t HeldIn(uint16_t type, int64_t bits) {
  switch (type) {
    case vt::kI1:
      return static_cast<int8_t>(bits);
    case vt::kI2:
      return static_cast<int16_t>(bits);
    case vt::kI4:
    case vt::kInt:
      return static_cast<int32_t>(bits);
    case vt::kUi1:
      return static_cast<uint8_t>(bits);
    case vt::kUi2:
      return static_cast<uint16_t>(bits);
    case vt::kUi4:
    case vt::kUint:
      return static_cast<uint32_t>(bits);
    default:
      return bits;
  }
}

class Reader {
 public:
  Reader(Namespace& ns, std::string* error) : ns_(ns), error_(error) {}

  bool Fail(const DocPlace& where, const std::string& what) {
    *error_ = where.Error(what);
    return false;
  }

  /// The optional status code `key` of a forced value into `*code`.
  bool BoundStatus(const Json& j, const DocPlace& where, const char* key, HResult* code) {
    if (!j.contains(key)) return true;
    uint32_t number = 0;
    if (!ReadStatusCode(j[key], &number) || number == 0) {
      *error_ = where.KeyError(
          key, "\"" + std::string(key) + "\" must be a failure code such as \"0x8002000B\"");
      return false;
    }
    *code = static_cast<HResult>(number);
    return true;
  }
  bool Scalar(const Json& j, uint16_t type, const std::wstring& objectClass, const DocPlace& where,
              Value* out);
  bool Typed(const Json& j, int32_t cimType, const std::wstring& objectClass, const DocPlace& where,
             Value* out);
  bool Object(const Json& j, std::wstring className, const DocPlace& where, wmi::ObjectPtr* out);

 private:
  Namespace& ns_;
  std::string* error_;
};

bool Reader::Scalar(const Json& j, uint16_t type, const std::wstring& objectClass,
                    const DocPlace& where, Value* out) {
  if (j.is_null()) {
    *out = type == vt::kUnknown ? Value::Unknown(nullptr) : Value::Null();
    return true;
  }
  switch (type) {
    case vt::kBstr:
      if (j.is_string())
        *out = Value::Bstr(Wide(j.get<std::string>()));
      else if (j.is_number_unsigned())
        *out = Value::Bstr(std::to_wstring(j.get<uint64_t>()));
      else if (j.is_number_integer())
        *out = Value::Bstr(std::to_wstring(j.get<int64_t>()));
      else
        return Fail(where, "expected text or a number");
      return true;
    case vt::kR4:
    case vt::kR8:
      if (!j.is_number()) return Fail(where, "expected a number");
      *out = Value::Real(type, j.get<double>());
      return true;
    case vt::kBool:
      if (!j.is_boolean()) return Fail(where, "expected true or false");
      *out = Value::Bool(j.get<bool>());
      return true;
    case vt::kUnknown:
    case vt::kDispatch: {
      wmi::ObjectPtr object;
      if (!Object(j, objectClass, where, &object)) return false;
      *out = Value::Unknown(object);
      out->type = type;
      return true;
    }
    case vt::kEmpty:
    case vt::kNull:
      *out = Value::Int(type, 0);
      return true;
    default:
      if (j.is_number_unsigned())
        *out = Value::Int(type, HeldIn(type, static_cast<int64_t>(j.get<uint64_t>())));
      else if (j.is_number_integer())
        *out = Value::Int(type, HeldIn(type, j.get<int64_t>()));
      else if (j.is_boolean())
        *out = Value::Int(type, HeldIn(type, j.get<bool>() ? 1 : 0));
      else
        return Fail(where, "expected an integer");
      return true;
  }
}

// A value: plain JSON converted by the CIM type, or {"$vt": ..., "$value":
// ..., "$lower": ...} to force a VARIANT type or an array's lower bound.
bool Reader::Typed(const Json& j, int32_t cimType, const std::wstring& objectClass,
                   const DocPlace& where, Value* out) {
  bool isArray = (cimType & cim::kArray) != 0;
  uint16_t type = VariantTypeOf(cimType & ~cim::kArray);
  const Json* value = &j;
  int32_t lower = 0;
  DocPlace place = where;
  HResult bounds[2] = {status::kOk, status::kOk};  // of a SAFEARRAY that cannot say them
  if (j.is_object() && (j.contains("$vt") || j.contains("$value"))) {
    if (!CheckKnownKeys(j, where, {"$vt", "$value", "$lower", "$lowerStatus", "$upperStatus"},
                        error_) ||
        !BoundStatus(j, where, "$lowerStatus", &bounds[0]) ||
        !BoundStatus(j, where, "$upperStatus", &bounds[1])) {
      return false;
    }
    if (j.contains("$vt")) {
      std::string name = j["$vt"].is_string() ? j["$vt"].get<std::string>() : "";
      bool array = name.size() > 2 && name.substr(name.size() - 2) == "[]";
      if (array) name.resize(name.size() - 2);
      bool found = false;
      for (const VtName& v : kVts) {
        if (name == v.name) {
          type = v.type;
          found = true;
        }
      }
      if (!found) return Fail(where, "unknown \"$vt\"");
      isArray = array;  // a forced type may make a scalar an array or the reverse
    }
    if (j.contains("$lower")) {
      if (!j["$lower"].is_number_integer()) return Fail(where, "\"$lower\" must be an integer");
      lower = static_cast<int32_t>(j["$lower"].get<int64_t>());
    }
    value = j.contains("$value") ? &j["$value"] : nullptr;
    if (value == nullptr) return Fail(where, "missing \"$value\"");
    place = where.Key("$value");
  }
  if (!isArray) {
    if (bounds[0] != status::kOk || bounds[1] != status::kOk) {
      return Fail(where, "\"$lowerStatus\" and \"$upperStatus\" need an array");
    }
    return Scalar(*value, type, objectClass, place, out);
  }
  if (value->is_null()) {
    *out = Value::Null();
    return true;
  }
  if (!value->is_array()) return Fail(place, "expected a list");
  std::vector<Value> elements;
  elements.reserve(value->size());
  for (size_t i = 0; i < value->size(); ++i) {
    Value element;
    if (!Scalar((*value)[i], type, objectClass, place.Index(i), &element)) {
      return false;
    }
    elements.push_back(std::move(element));
  }
  *out = Value::Array(type, std::move(elements), lower);
  if (bounds[0] != status::kOk || bounds[1] != status::kOk) {
    // Bounds that cannot be read leave nothing to read the elements by.
    out->elements.clear();
    out->lowerStatus = bounds[0];
    out->upperStatus = bounds[1];
  }
  return true;
}

bool Reader::Object(const Json& j, std::wstring className, const DocPlace& where,
                    wmi::ObjectPtr* out) {
  if (!j.is_object()) return Fail(where, "expected an object");
  if (j.contains("$class")) {
    if (!j["$class"].is_string()) {
      *error_ = where.KeyError("$class", "\"$class\" must be a class name");
      return false;
    }
    className = Wide(j["$class"].get<std::string>());
  }
  auto def = ns_.FindClass(className);
  if (!def) return Fail(where, "unknown class \"" + ToConsoleText(className) + "\"");
  auto object = std::dynamic_pointer_cast<SimObject>(ns_.NewInstance(className, {}));
  for (const auto& [name, item] : j.items()) {
    if (name == "$class") continue;
    const PropertyDef* p = def->FindProperty(Wide(name));
    if (p == nullptr) {
      *error_ = where.KeyError(name, "class has no property \"" + name + "\"");
      return false;
    }
    int32_t cimType = p->cimType;
    Value value;
    if (!Typed(item, cimType, p->objectClass, where.Key(name), &value)) return false;
    object->Set(p->name, std::move(value), cimType);
  }
  *out = object;
  return true;
}

// A member that must be text when present; `out` keeps its value otherwise.
bool OptionalText(const Json& object, const DocPlace& where, const char* name, std::string* out,
                  std::string* error) {
  auto it = object.find(name);
  if (it == object.end()) return true;
  if (!it->is_string()) {
    *error = where.KeyError(name, "\"" + std::string(name) + "\" must be text");
    return false;
  }
  *out = it->get<std::string>();
  return true;
}

// The object's "name", which must be text.
bool ReadName(const Json& j, const DocPlace& where, const char* what, std::string* name,
              std::string* error) {
  if (!j.is_object() || !j.contains("name") || !j["name"].is_string()) {
    *error = j.is_object() && j.contains("name") ? where.KeyError("name", what) : where.Error(what);
    return false;
  }
  *name = j["name"].get<std::string>();
  return true;
}

bool ReadProperty(const Json& p, const DocPlace& where, PropertyDef* def, std::string* error) {
  const char* what = "each property needs a \"name\" and a known \"type\"";
  std::string name, type = "string", objectClass;
  if (!ReadName(p, where, what, &name, error) ||
      !CheckKnownKeys(p, where, {"name", "type", "class", "key"}, error) ||
      !OptionalText(p, where, "type", &type, error) ||
      !OptionalText(p, where, "class", &objectClass, error)) {
    return false;
  }
  if (!ParseCimType(type, &def->cimType)) {
    *error = where.KeyError("type", what);
    return false;
  }
  if (p.contains("key")) {
    if (!p["key"].is_boolean()) {
      *error = where.KeyError("key", "\"key\" must be true or false");
      return false;
    }
    def->key = p["key"].get<bool>();
  }
  def->name = Wide(name);
  def->objectClass = Wide(objectClass);
  return true;
}

bool ReadProperties(const Json& list, const DocPlace& where, std::vector<PropertyDef>* out,
                    std::string* error) {
  if (!list.is_array()) {
    *error = where.Error("expected a list of properties");
    return false;
  }
  for (size_t i = 0; i < list.size(); ++i) {
    PropertyDef def;
    if (!ReadProperty(list[i], where.Index(i), &def, error)) return false;
    out->push_back(std::move(def));
  }
  return true;
}

bool ReadMethod(const Json& m, const DocPlace& where, MethodDef* method, std::string* error) {
  std::string name;
  if (!ReadName(m, where, "a method needs a \"name\"", &name, error) ||
      !CheckKnownKeys(m, where, {"name", "in", "out"}, error)) {
    return false;
  }
  method->name = Wide(name);
  if (m.contains("in") && !ReadProperties(m["in"], where.Key("in"), &method->in, error)) {
    return false;
  }
  return !m.contains("out") || ReadProperties(m["out"], where.Key("out"), &method->out, error);
}

bool ReadClass(const Json& j, const DocPlace& where, ClassDef* def, std::string* error) {
  std::string name;
  if (!ReadName(j, where, "a class needs a \"name\"", &name, error) ||
      !CheckKnownKeys(j, where, {"name", "properties", "methods"}, error)) {
    return false;
  }
  def->name = Wide(name);
  if (j.contains("properties") &&
      !ReadProperties(j["properties"], where.Key("properties"), &def->properties, error)) {
    return false;
  }
  auto methods = j.find("methods");
  if (methods == j.end()) return true;
  if (!methods->is_array()) {
    *error = where.KeyError("methods", "\"methods\" must be a list");
    return false;
  }
  for (size_t i = 0; i < methods->size(); ++i) {
    MethodDef method;
    if (!ReadMethod((*methods)[i], where.Key("methods").Index(i), &method, error)) return false;
    def->methods.push_back(std::move(method));
  }
  return true;
}

/// The longest wait between two events: an hour.
constexpr uint64_t kMaxDelay = 3600000;

/// The "$delay" of an instance (milliseconds before it is delivered as an
/// event, after the one before it); 0 when it has none.
bool ReadDelay(const Json& instance, const DocPlace& where, uint32_t* delay, std::string* error) {
  if (!instance.is_object() || !instance.contains("$delay")) return true;
  const Json& value = instance["$delay"];
  if (!value.is_number_unsigned() || value.get<uint64_t>() > kMaxDelay) {
    *error = where.KeyError(
        "$delay", "\"$delay\" must be milliseconds from 0 to " + std::to_string(kMaxDelay));
    return false;
  }
  *delay = static_cast<uint32_t>(value.get<uint64_t>());
  return true;
}

bool LoadInstances(const Json& j, const DocPlace& where, Namespace& ns, std::string* error) {
  Reader reader(ns, error);
  auto byClass = j.find("instances");
  if (byClass == j.end()) return true;
  if (!byClass->is_object()) {
    *error = where.KeyError("instances", "\"instances\" must be an object");
    return false;
  }
  for (const auto& [className, list] : byClass->items()) {
    const DocPlace at = where.Key("instances").Key(className);
    if (!ns.FindClass(Wide(className))) return reader.Fail(at, "unknown class");
    if (!list.is_array()) return reader.Fail(at, "expected a list of instances");
    std::vector<wmi::ObjectPtr> instances;
    std::vector<uint32_t> delays;
    for (size_t i = 0; i < list.size(); ++i) {
      wmi::ObjectPtr object;
      uint32_t delay = 0;
      if (!ReadDelay(list[i], at.Index(i), &delay, error)) return false;
      if (!list[i].is_object() || !list[i].contains("$delay")) {
        if (!reader.Object(list[i], Wide(className), at.Index(i), &object)) return false;
      } else {
        Json properties = list[i];  // an event: small, so the copy costs nothing
        properties.erase("$delay");
        if (!reader.Object(properties, Wide(className), at.Index(i), &object)) return false;
      }
      instances.push_back(object);
      delays.push_back(delay);
    }
    ns.SetInstances(Wide(className), std::move(instances), std::move(delays));
  }
  return true;
}

bool LoadNamespace(const Json& j, const DocPlace& where, Namespace& ns, std::string* error) {
  if (!j.is_object()) {
    *error = where.Error("expected an object with \"classes\" and \"instances\"");
    return false;
  }
  if (!CheckKnownKeys(j, where, {"classes", "instances"}, error)) return false;
  auto classes = j.find("classes");
  if (classes != j.end()) {
    if (!classes->is_array()) {
      *error = where.KeyError("classes", "\"classes\" must be a list");
      return false;
    }
    for (size_t i = 0; i < classes->size(); ++i) {
      ClassDef def;
      if (!ReadClass((*classes)[i], where.Key("classes").Index(i), &def, error)) return false;
      ns.DefineClass(std::move(def));
    }
  }
  return LoadInstances(j, where, ns, error);
}

}  // namespace

uint16_t VariantTypeOf(int32_t cimType) {
  // One table for the raw data and for Put: the type real WMI hands out.
  const uint16_t type = StandardVariantType(cimType & ~cim::kArray);
  return type == vt::kEmpty ? vt::kBstr : type;
}

bool ParseCimType(const std::string& name, int32_t* cimType) {
  std::string base = name;
  bool array = base.size() > 2 && base.substr(base.size() - 2) == "[]";
  if (array) base.resize(base.size() - 2);
  for (const TypeName& t : kTypes) {
    if (base == t.name) {
      *cimType = t.cimType | (array ? cim::kArray : 0);
      return true;
    }
  }
  return false;
}

bool LoadWmiData(const Json& section, Repository& repository, std::string* error) {
  return LoadWmiData(section, DocPlace("wmi"), repository, error);
}

bool LoadWmiData(const Json& section, const DocPlace& wmi, Repository& repository,
                 std::string* error) {
  if (section.is_null()) return true;
  if (!section.is_object()) {
    *error = wmi.Error("expected an object of namespaces");
    return false;
  }
  for (const auto& [name, ns] : section.items()) {
    if (!LoadNamespace(ns, wmi.Key(name), repository.Add(Wide(name)), error)) return false;
  }
  return true;
}

}  // namespace platform::sim
