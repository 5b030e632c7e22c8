#include "platform/wmi.h"

#include <utility>

namespace platform::wmi {

Value Value::Null() {
  Value v;
  v.type = vt::kNull;
  return v;
}

Value Value::Int(uint16_t type, int64_t v) {
  Value value;
  value.type = type;
  value.integer = v;
  return value;
}

Value Value::Real(uint16_t type, double v) {
  Value value;
  value.type = type;
  value.real = v;
  return value;
}

Value Value::Bstr(std::wstring v) {
  Value value;
  value.type = vt::kBstr;
  value.text = std::move(v);
  return value;
}

Value Value::Unknown(ObjectPtr v) {
  Value value;
  value.type = vt::kUnknown;
  value.object = std::move(v);
  return value;
}

Value Value::Array(uint16_t elementType, std::vector<Value> elements, int32_t lower) {
  Value value;
  value.type = static_cast<uint16_t>(vt::kArray | elementType);
  value.elements = std::move(elements);
  value.lower = lower;
  return value;
}

HResult Object::GetPropertyQualifierSet(std::wstring_view property) const {
  Value ignored;
  const HResult hr = GetPropertyQualifier(property, L"CIMTYPE", &ignored);
  return hr == status::kWbemSystemProperty ? hr : status::kOk;
}

}  // namespace platform::wmi
