// Windows only: VARIANT <-> wmi::Value.
#include "platform/win32/variant.h"

#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/win32/com_wmi.h"
#include "platform/win32/holders.h"

namespace platform::win32 {
namespace {

using wmi::Value;
namespace vt = wmi::vt;

// Where a value of one VARIANT type lives inside a VARIANT, and its size.
// SafeArrayGetElement writes an element straight into that place, so the
// reading and the writing of arrays share the scalar conversions.
struct Slot {
  void* place = nullptr;
  size_t size = 0;
};

Slot SlotOf(uint16_t type, VARIANT* v) {
  switch (type) {
    case vt::kI1:
      return {&v->cVal, sizeof v->cVal};
    case vt::kUi1:
      return {&v->bVal, sizeof v->bVal};
    case vt::kI2:
      return {&v->iVal, sizeof v->iVal};
    case vt::kUi2:
      return {&v->uiVal, sizeof v->uiVal};
    case vt::kI4:
      return {&v->lVal, sizeof v->lVal};
    case vt::kUi4:
      return {&v->ulVal, sizeof v->ulVal};
    case vt::kInt:
      return {&v->intVal, sizeof v->intVal};
    case vt::kUint:
      return {&v->uintVal, sizeof v->uintVal};
    case vt::kI8:
      return {&v->llVal, sizeof v->llVal};
    case vt::kUi8:
      return {&v->ullVal, sizeof v->ullVal};
    case vt::kR4:
      return {&v->fltVal, sizeof v->fltVal};
    case vt::kR8:
      return {&v->dblVal, sizeof v->dblVal};
    case vt::kDate:
      return {&v->date, sizeof v->date};
    case vt::kBool:
      return {&v->boolVal, sizeof v->boolVal};
    case vt::kError:
      return {&v->scode, sizeof v->scode};
    case vt::kBstr:
      return {&v->bstrVal, sizeof v->bstrVal};
    case vt::kUnknown:
      return {&v->punkVal, sizeof v->punkVal};
    case vt::kDispatch:
      return {&v->pdispVal, sizeof v->pdispVal};
    case vt::kVariant:
      return {v, sizeof *v};
    default:
      return {};
  }
}

Value TypeOnly(uint16_t type) {
  Value value;
  value.type = type;
  return value;
}

Value ScalarValue(const VARIANT& v) {
  const uint16_t type = v.vt;
  switch (type) {
    case vt::kEmpty:
    case vt::kNull:
      return TypeOnly(type);
    case vt::kI1:
      return Value::Int(type, static_cast<signed char>(v.cVal));
    case vt::kUi1:
      return Value::Int(type, v.bVal);
    case vt::kI2:
      return Value::Int(type, v.iVal);
    case vt::kUi2:
      return Value::Int(type, v.uiVal);
    case vt::kI4:
      return Value::Int(type, v.lVal);
    case vt::kUi4:
      return Value::Int(type, v.ulVal);
    case vt::kInt:
      return Value::Int(type, v.intVal);
    case vt::kUint:
      return Value::Int(type, v.uintVal);
    case vt::kI8:
      return Value::Int(type, v.llVal);
    case vt::kUi8:
      return Value::Int(type, static_cast<int64_t>(v.ullVal));
    case vt::kError:
      return Value::Int(type, v.scode);
    case vt::kBool:
      return Value::Bool(v.boolVal != VARIANT_FALSE);
    case vt::kR4:
      return Value::Real(type, v.fltVal);
    case vt::kR8:
      return Value::Real(type, v.dblVal);
    case vt::kDate:
      return Value::Real(type, v.date);
    case vt::kBstr:
      return Value::Bstr(Bstr::ToText(v.bstrVal));
    case vt::kUnknown:
      return Value::Unknown(WrapUnknown(v.punkVal));
    case vt::kDispatch: {
      Value value = TypeOnly(type);
      value.object = WrapUnknown(v.pdispVal);
      return value;
    }
    default:
      return TypeOnly(type);
  }
}

// The ownership flag SafeArrayGetElement/PutElement act on for an element
// type: a copy is made of BSTRs and VARIANTs, a reference added to
// interfaces, everything else is copied as bytes.
USHORT OwnershipFeature(uint16_t elementType) {
  switch (elementType) {
    case vt::kBstr:
      return FADF_BSTR;
    case vt::kUnknown:
    case vt::kDispatch:
      return FADF_UNKNOWN | FADF_DISPATCH;
    case vt::kVariant:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

// Whether the array's layout is what its VARIANT type claims: one
// dimension, elements of the type's size, and the ownership flag of the
// type. A mismatch would make SafeArrayGetElement overrun the element or
// hand over a pointer it did not copy.
bool ArrayMatches(SAFEARRAY* array, uint16_t elementType) {
  if (array == nullptr || SafeArrayGetDim(array) != 1) return false;
  VARIANT probe;
  const Slot slot = SlotOf(elementType, &probe);
  if (slot.size == 0 || SafeArrayGetElemsize(array) != slot.size) return false;
  const USHORT owned = array->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT);
  const USHORT expected = OwnershipFeature(elementType);
  return expected == 0 ? owned == 0 : (owned != 0 && (owned & ~expected) == 0);
}

Value ArrayValue(const VARIANT& v) {
  const auto elementType = static_cast<uint16_t>(v.vt & ~VT_ARRAY);
  if (!ArrayMatches(v.parray, elementType)) return TypeOnly(v.vt);
  LONG lower = 0;
  LONG upper = 0;
  const HRESULT lowerStatus = SafeArrayGetLBound(v.parray, 1, &lower);
  const HRESULT upperStatus = SafeArrayGetUBound(v.parray, 1, &upper);
  if (FAILED(lowerStatus) || FAILED(upperStatus)) {
    // The reader reports which bound failed, with the code it failed with.
    Value value = TypeOnly(v.vt);
    value.lowerStatus = FAILED(lowerStatus) ? lowerStatus : S_OK;
    value.upperStatus = FAILED(upperStatus) ? upperStatus : S_OK;
    return value;
  }
  std::vector<Value> elements;
  for (int64_t i = lower; i <= upper; ++i) {
    Variant element;
    LONG index = static_cast<LONG>(i);
    if (FAILED(SafeArrayGetElement(v.parray, &index, SlotOf(elementType, element.Get()).place))) {
      return TypeOnly(v.vt);
    }
    if (elementType != vt::kVariant) element.Get()->vt = elementType;
    elements.push_back(ToValue(element.Ref()));
  }
  return Value::Array(elementType, std::move(elements), lower);
}

// The interface `iid` of a backend object, AddRef'd, into *out; null
// objects give a null interface.
HResult InterfaceOf(const wmi::ObjectPtr& object, REFIID iid, void** out) {
  *out = nullptr;
  if (object == nullptr) return status::kOk;
  IWbemClassObject* raw = RawObject(object);
  if (raw == nullptr) return status::kWbemInvalidParameter;
  return raw->QueryInterface(iid, out);
}

HResult ScalarToVariant(uint16_t type, const Value& value, VARIANT* out) {
  const int64_t n = value.integer;
  switch (type) {
    case vt::kEmpty:
    case vt::kNull:
      break;
    case vt::kI1:
      out->cVal = static_cast<CHAR>(n);
      break;
    case vt::kUi1:
      out->bVal = static_cast<BYTE>(n);
      break;
    case vt::kI2:
      out->iVal = static_cast<SHORT>(n);
      break;
    case vt::kUi2:
      out->uiVal = static_cast<USHORT>(n);
      break;
    case vt::kI4:
      out->lVal = static_cast<LONG>(n);
      break;
    case vt::kUi4:
      out->ulVal = static_cast<ULONG>(n);
      break;
    case vt::kInt:
      out->intVal = static_cast<INT>(n);
      break;
    case vt::kUint:
      out->uintVal = static_cast<UINT>(n);
      break;
    case vt::kI8:
      out->llVal = n;
      break;
    case vt::kUi8:
      out->ullVal = static_cast<ULONGLONG>(n);
      break;
    case vt::kError:
      out->scode = static_cast<SCODE>(n);
      break;
    case vt::kBool:
      out->boolVal = n != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case vt::kR4:
      out->fltVal = static_cast<float>(value.real);
      break;
    case vt::kR8:
      out->dblVal = value.real;
      break;
    case vt::kDate:
      out->date = value.real;
      break;
    case vt::kBstr:
      out->bstrVal = Bstr(value.text).Detach();
      break;
    case vt::kUnknown:
    case vt::kDispatch: {
      void* itf = nullptr;
      HResult hr =
          InterfaceOf(value.object, type == vt::kUnknown ? IID_IUnknown : IID_IDispatch, &itf);
      if (FAILED(hr)) return hr;
      out->punkVal = static_cast<IUnknown*>(itf);
      break;
    }
    default:
      return status::kWbemTypeMismatch;
  }
  out->vt = type;
  return status::kOk;
}

// What SafeArrayPutElement takes for an element held in `item`: the
// pointer itself for BSTRs and interfaces, the VARIANT for VT_VARIANT, the
// address of the value otherwise.
void* PutArgument(uint16_t elementType, VARIANT* item) {
  switch (elementType) {
    case vt::kBstr:
      return item->bstrVal;
    case vt::kUnknown:
      return item->punkVal;
    case vt::kDispatch:
      return item->pdispVal;
    default:
      return SlotOf(elementType, item).place;
  }
}

HResult ArrayToVariant(const Value& value, VARIANT* out) {
  const uint16_t elementType = value.ElementType();
  VARIANT probe;
  if (SlotOf(elementType, &probe).size == 0) return status::kWbemTypeMismatch;
  const int64_t count = static_cast<int64_t>(value.elements.size());
  if (count > static_cast<int64_t>(LONG_MAX) - value.lower + 1) {
    return status::kWbemInvalidParameter;
  }
  SAFEARRAYBOUND bound{static_cast<ULONG>(count), value.lower};
  SafeArray array(SafeArrayCreate(elementType, 1, &bound));
  if (array.Get() == nullptr) FatalOutOfMemory();
  LONG index = value.lower;
  for (const Value& element : value.elements) {
    Variant item;
    HResult hr = elementType == vt::kVariant ? ToVariant(element, item.Get())
                                             : ScalarToVariant(elementType, element, item.Get());
    if (FAILED(hr)) return hr;
    void* argument = PutArgument(elementType, item.Get());
    // New arrays hold zeros: a null interface needs no store.
    if (argument != nullptr) hr = SafeArrayPutElement(array.Get(), &index, argument);
    if (hr == E_OUTOFMEMORY) FatalOutOfMemory();
    if (FAILED(hr)) return hr;
    ++index;
  }
  out->parray = array.Detach();
  out->vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
  return status::kOk;
}

}  // namespace

Value ToValue(const VARIANT& variant) {
  if ((variant.vt & VT_BYREF) != 0) return TypeOnly(variant.vt);
  if ((variant.vt & VT_ARRAY) != 0) return ArrayValue(variant);
  return ScalarValue(variant);
}

HResult ToVariant(const Value& value, VARIANT* out) {
  if ((value.type & vt::kByRef) != 0) return status::kWbemTypeMismatch;
  if (value.IsArray()) return ArrayToVariant(value, out);
  return ScalarToVariant(value.type, value, out);
}

}  // namespace platform::win32
