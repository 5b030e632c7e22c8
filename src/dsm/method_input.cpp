#include "dsm/method_input.h"

#include <utility>

#include "dsm/wmi_connection.h"

namespace dsm {

using platform::wmi::Value;

FirstMethodObject TakeFirstMethodObject() {
  FirstMethodObject first;
  EnumeratorPtr enumerator;
  first.OpenStatus = OpenEnumeration(L"ORNDSM_WMI_METHODS", &enumerator);
  if (first.OpenStatus != platform::status::kOk) return first;
  if (!enumerator) {
    first.OpenStatus = platform::status::kFail;
    return first;
  }
  uint32_t returned = 0;
  first.NextStatus = enumerator->Next(platform::wmi::kInfinite, &first.Object, &returned);
  if (returned == 0) first.Object.reset();
  return first;
}

HResult GetClassObject(std::wstring_view className, ObjectPtr* object) {
  const platform::wmi::ServicesPtr& services = WmiServices();
  if (!services) return platform::status::kFail;
  HResult hr = services->GetObject(className, 0, object);
  if (platform::Failed(hr)) return hr;
  return *object ? platform::status::kOk : platform::status::kFail;
}

HResult SpawnFrom(const platform::wmi::Object& classObject, ObjectPtr* instance) {
  HResult hr = classObject.SpawnInstance(instance);
  if (platform::Failed(hr)) return hr;
  return *instance ? platform::status::kOk : platform::status::kFail;
}

HResult SpawnClassInstance(std::wstring_view className, ObjectPtr* instance) {
  ObjectPtr classObject;
  HResult hr = GetClassObject(className, &classObject);
  return platform::Failed(hr) ? hr : SpawnFrom(*classObject, instance);
}

HResult PutFields(platform::wmi::Object& object, std::initializer_list<Field> fields) {
  for (const Field& field : fields) {
    HResult hr = object.Put(field.Name, field.Value, field.CimType);
    if (platform::Failed(hr)) return hr;
  }
  return platform::status::kOk;
}

Value ObjectArrayValue(std::vector<ObjectPtr> objects) {
  std::vector<Value> elements;
  elements.reserve(objects.size());
  for (ObjectPtr& object : objects) elements.push_back(Value::Unknown(std::move(object)));
  return Value::Array(platform::wmi::vt::kUnknown, std::move(elements));
}

}  // namespace dsm
