#include "platform/sim/wmi/sim_object.h"

#include <utility>

#include "platform/sim/wmi/cim_values.h"

namespace platform::sim {
namespace {

using wmi::Value;
namespace vt = wmi::vt;
namespace cim = wmi::cim;

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) { return SameName(a, b); }

constexpr const wchar_t* kSystemNames[] = {
    L"__GENUS",          L"__CLASS",      L"__SUPERCLASS", L"__DYNASTY",   L"__RELPATH",
    L"__PROPERTY_COUNT", L"__DERIVATION", L"__SERVER",     L"__NAMESPACE", L"__PATH"};

const wchar_t* CimTypeName(int32_t type) {
  switch (type & ~cim::kArray) {
    case cim::kSint8:
      return L"sint8";
    case cim::kUint8:
      return L"uint8";
    case cim::kSint16:
      return L"sint16";
    case cim::kUint16:
      return L"uint16";
    case cim::kSint32:
      return L"sint32";
    case cim::kUint32:
      return L"uint32";
    case cim::kSint64:
      return L"sint64";
    case cim::kUint64:
      return L"uint64";
    case cim::kReal32:
      return L"real32";
    case cim::kReal64:
      return L"real64";
    case cim::kBoolean:
      return L"boolean";
    case cim::kString:
      return L"string";
    case cim::kDatetime:
      return L"datetime";
    case cim::kReference:
      return L"ref";
    case cim::kChar16:
      return L"char16";
    case cim::kObject:
      return L"object";
    default:
      return L"";
  }
}

}  // namespace

SimObject::SimObject(Kind kind, std::shared_ptr<const ClassDef> def, std::wstring namespaceName,
                     std::shared_ptr<Faults> faults)
    : SimObject(kind, std::move(def),
                std::make_shared<const NamespaceId>(NamespaceId{std::move(namespaceName)}),
                std::move(faults)) {}

SimObject::SimObject(Kind kind, std::shared_ptr<const ClassDef> def,
                     std::shared_ptr<const NamespaceId> namespaceId, std::shared_ptr<Faults> faults)
    : kind_(kind),
      def_(std::move(def)),
      namespace_(std::move(namespaceId)),
      faults_(std::move(faults)) {}

bool SimObject::Computed(std::wstring_view, Value*) const { return false; }

bool SimObject::Lookup(std::wstring_view name, Value* value, int32_t* cimType) const {
  if (const Slot* slot = FindSlot(name)) {
    *value = slot->value;
    if (cimType != nullptr) *cimType = slot->cimType;
    return true;
  }
  if (!Computed(name, value)) return false;
  if (cimType != nullptr) {
    const PropertyDef* def = def_->FindProperty(name);
    *cimType = def != nullptr ? def->cimType : cim::kString;
  }
  return true;
}

HResult SimObject::Injected(std::string_view call, std::wstring_view detail) const {
  if (!faults_ || !faults_->Names(call)) return status::kOk;  // spares the narrow copies
  return faults_->Status(call, Narrow(def_->name), Narrow(detail));
}

const SimObject::Slot* SimObject::FindSlot(std::wstring_view name) const {
  for (const Slot& slot : slots_) {
    if (EqualsNoCase(slot.name, name)) return &slot;
  }
  return nullptr;
}

SimObject::Slot* SimObject::FindSlot(std::wstring_view name) {
  for (Slot& slot : slots_) {
    if (EqualsNoCase(slot.name, name)) return &slot;
  }
  return nullptr;
}

void SimObject::Set(std::wstring name, Value value, int32_t cimType) {
  if (Slot* slot = FindSlot(name)) {
    slot->value = std::move(value);
    slot->cimType = cimType;
    return;
  }
  // Room for every property at once: objects are filled one property at
  // a time, and regrowing moves every slot.
  if (slots_.empty()) slots_.reserve(def_->properties.size());
  slots_.push_back(Slot{std::move(name), std::move(value), cimType});
}

std::wstring SimObject::RelativePath() const {
  if (kind_ != Kind::kInstance) return def_->name;
  std::wstring keys;
  for (const PropertyDef& p : def_->properties) {
    if (!p.key) continue;
    Value value;
    const bool found = Lookup(p.name, &value, nullptr);
    if (!keys.empty()) keys += L',';
    keys += p.name + L"=\"";
    if (found) {
      for (wchar_t c : KeyText(value)) {
        if (c == L'\\' || c == L'"') keys += L'\\';
        keys += c;
      }
    }
    keys += L'"';
  }
  if (keys.empty()) return def_->name + L"=@";
  return def_->name + L"." + keys;
}

bool SimObject::SystemProperty(std::wstring_view name, Value* value, int32_t* cimType) const {
  int32_t type = cim::kString;
  if (EqualsNoCase(name, L"__GENUS")) {
    *value = Value::I4(kind_ == Kind::kClass ? 1 : 2);
    type = cim::kSint32;
  } else if (EqualsNoCase(name, L"__CLASS")) {
    *value = Value::Bstr(def_->name);
  } else if (EqualsNoCase(name, L"__DYNASTY")) {
    *value = Value::Bstr(def_->derivation.empty() ? def_->name : def_->derivation.back());
  } else if (EqualsNoCase(name, L"__SUPERCLASS")) {
    *value = def_->derivation.empty() ? Value::Null() : Value::Bstr(def_->derivation.front());
  } else if (EqualsNoCase(name, L"__RELPATH")) {
    *value = kind_ == Kind::kParameters ? Value::Null() : Value::Bstr(RelativePath());
  } else if (EqualsNoCase(name, L"__PROPERTY_COUNT")) {
    *value = Value::I4(static_cast<int32_t>(def_->properties.size()));
    type = cim::kSint32;
  } else if (EqualsNoCase(name, L"__DERIVATION")) {
    std::vector<Value> names;
    for (const std::wstring& ancestor : def_->derivation) names.push_back(Value::Bstr(ancestor));
    *value = Value::Array(vt::kBstr, std::move(names));
    type = cim::kString | cim::kArray;
  } else if (EqualsNoCase(name, L"__SERVER")) {
    *value = kind_ == Kind::kParameters ? Value::Null() : Value::Bstr(namespace_->server);
  } else if (EqualsNoCase(name, L"__NAMESPACE")) {
    *value = kind_ == Kind::kParameters ? Value::Null() : Value::Bstr(namespace_->name);
  } else if (EqualsNoCase(name, L"__PATH")) {
    *value = kind_ == Kind::kParameters ? Value::Null()
                                        : Value::Bstr(L"\\\\" + namespace_->server + L"\\" +
                                                      namespace_->name + L":" + RelativePath());
  } else {
    return false;
  }
  if (cimType != nullptr) *cimType = type;
  return true;
}

HResult SimObject::Get(std::wstring_view name, Value* value, int32_t* cimType) const {
  if (HResult hr = Injected("Get", name); hr != status::kOk) return hr;
  return Read(name, value, cimType);
}

HResult ReadOwn(const wmi::Object& object, std::wstring_view name, Value* value) {
  const auto* own = dynamic_cast<const SimObject*>(&object);
  return own != nullptr ? own->Read(name, value, nullptr) : object.Get(name, value, nullptr);
}

HResult SimObject::Read(std::wstring_view name, Value* value, int32_t* cimType) const {
  if (name.size() >= 2 && name[0] == L'_' && name[1] == L'_') {
    return SystemProperty(name, value, cimType) ? status::kOk : status::kWbemNotFound;
  }
  if (Lookup(name, value, cimType)) return status::kOk;
  const PropertyDef* def = def_->FindProperty(name);
  if (def == nullptr) return status::kWbemNotFound;
  *value = Value::Null();
  if (cimType != nullptr) *cimType = def->cimType;
  return status::kOk;
}

HResult SimObject::Put(std::wstring_view name, const Value& value, int32_t cimType) {
  if (HResult hr = Injected("Put", name); hr != status::kOk) return hr;
  if (name.size() >= 2 && name[0] == L'_' && name[1] == L'_') return status::kWbemSystemProperty;
  const PropertyDef* def = def_->FindProperty(name);
  if (def == nullptr) return status::kWbemNotFound;
  if (cimType != 0 && cimType != def->cimType) return status::kWbemTypeMismatch;
  // Stored as WMI holds it, so a Get hands out the type's standard VARIANT.
  Value stored;
  if (HResult hr = CoerceForPut(value, def->cimType, &stored); hr != status::kOk) return hr;
  Set(def->name, std::move(stored), def->cimType);
  return status::kOk;
}

HResult SimObject::GetNames(int32_t flags, std::vector<std::wstring>* names) const {
  names->clear();
  if (HResult hr = Injected("GetNames", {}); hr != status::kOk) return hr;
  if ((flags & wmi::kFlagNonSystemOnly) == 0) {
    for (const wchar_t* n : kSystemNames) names->emplace_back(n);
  }
  for (const PropertyDef& p : def_->properties) names->push_back(p.name);
  return status::kOk;
}

HResult SimObject::GetPropertyQualifierSet(std::wstring_view property) const {
  if (HResult hr = Injected("GetPropertyQualifierSet", property); hr != status::kOk) return hr;
  if (property.size() >= 2 && property[0] == L'_' && property[1] == L'_') {
    Value ignored;
    return SystemProperty(property, &ignored, nullptr) ? status::kWbemSystemProperty
                                                       : status::kWbemNotFound;
  }
  return def_->FindProperty(property) != nullptr ? status::kOk : status::kWbemNotFound;
}

// As on Windows: the property's qualifier set first, then the qualifier
// from it, each of which can fail.
HResult SimObject::GetPropertyQualifier(std::wstring_view property, std::wstring_view qualifier,
                                        Value* value) const {
  if (HResult hr = GetPropertyQualifierSet(property); hr != status::kOk) return hr;
  if (HResult hr = Injected("GetQualifier", qualifier); hr != status::kOk) return hr;
  const PropertyDef* def = def_->FindProperty(property);
  if (EqualsNoCase(qualifier, L"CIMTYPE")) {
    std::wstring text = CimTypeName(def->cimType);
    if ((def->cimType & ~cim::kArray) == cim::kObject && !def->objectClass.empty()) {
      text += L":" + def->objectClass;
    }
    *value = Value::Bstr(text);
    return status::kOk;
  }
  if (EqualsNoCase(qualifier, L"key") && def->key) {
    *value = Value::Bool(true);
    return status::kOk;
  }
  return status::kWbemNotFound;
}

HResult SimObject::GetMethod(std::wstring_view name, wmi::ObjectPtr* inSignature) const {
  if (HResult hr = Injected("GetMethod", name); hr != status::kOk) return hr;
  const MethodDef* method = def_->FindMethod(name);
  if (method == nullptr) return status::kWbemNotFound;
  inSignature->reset();
  if (!method->in.empty()) {
    *inSignature = std::make_shared<SimObject>(
        Kind::kParameters, ParameterClass(L"__PARAMETERS", method->in), namespace_, faults_);
  }
  return status::kOk;
}

HResult SimObject::SpawnInstance(wmi::ObjectPtr* instance) const {
  if (HResult hr = Injected("SpawnInstance", {}); hr != status::kOk) return hr;
  Kind kind = kind_ == Kind::kParameters ? Kind::kParameters : Kind::kInstance;
  *instance = std::make_shared<SimObject>(kind, def_, namespace_, faults_);
  return status::kOk;
}

HResult SimObject::InheritsFrom(std::wstring_view ancestor) const {
  if (HResult hr = Injected("InheritsFrom", ancestor); hr != status::kOk) return hr;
  if (EqualsNoCase(def_->name, ancestor)) return status::kOk;
  for (const std::wstring& name : def_->derivation) {
    if (EqualsNoCase(name, ancestor)) return status::kOk;
  }
  return status::kWbemSFalse;
}

std::string Narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::shared_ptr<const ClassDef> ParameterClass(std::wstring_view name,
                                               const std::vector<PropertyDef>& params) {
  auto def = std::make_shared<ClassDef>();
  def->name = std::wstring(name);
  def->properties = params;
  return def;
}

std::wstring KeyText(const Value& value) {
  switch (value.type) {
    case vt::kBstr:
      return value.text;
    case vt::kI1:
    case vt::kI2:
    case vt::kI4:
    case vt::kI8:
    case vt::kInt:
      return std::to_wstring(value.integer);
    case vt::kUi1:
    case vt::kUi2:
    case vt::kUi4:
    case vt::kUi8:
    case vt::kUint:
      return std::to_wstring(static_cast<uint64_t>(value.integer));
    case vt::kBool:
      return value.integer != 0 ? L"TRUE" : L"FALSE";
    default:
      return {};
  }
}

}  // namespace platform::sim
