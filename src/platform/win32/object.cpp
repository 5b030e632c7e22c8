// Windows only: wmi::Object over IWbemClassObject.
#include <memory>
#include <string>
#include <utility>

#include "platform/win32/com_wmi.h"
#include "platform/win32/variant.h"

namespace platform::win32 {
namespace {

class ComObject final : public wmi::Object {
 public:
  explicit ComObject(ComPtr<IWbemClassObject> object) : object_(std::move(object)) {}

  IWbemClassObject* Raw() const { return object_.Get(); }

  HResult Get(std::wstring_view name, wmi::Value* value, int32_t* cimType) const override {
    Variant variant;
    CIMTYPE type = 0;
    HRESULT hr = object_->Get(std::wstring(name).c_str(), 0, variant.Get(), &type, nullptr);
    if (SUCCEEDED(hr)) {
      if (value != nullptr) *value = ToValue(variant.Ref());
      if (cimType != nullptr) *cimType = type;
    }
    return hr;
  }

  HResult Put(std::wstring_view name, const wmi::Value& value, int32_t cimType) override {
    Variant variant;
    HResult hr = ToVariant(value, variant.Get());
    if (FAILED(hr)) return hr;
    return object_->Put(std::wstring(name).c_str(), 0, variant.Get(), cimType);
  }

  HResult GetNames(int32_t flags, std::vector<std::wstring>* names) const override {
    if (names == nullptr) return status::kWbemInvalidParameter;
    SafeArray array;
    HRESULT hr = object_->GetNames(nullptr, flags, nullptr, array.Put());
    if (FAILED(hr)) return hr;
    names->clear();
    VARIANT view;
    view.vt = VT_ARRAY | VT_BSTR;
    view.parray = array.Get();
    // The array stays owned by `array`; ToValue only copies out of it.
    wmi::Value list = ToValue(view);
    if (list.type != (wmi::vt::kArray | wmi::vt::kBstr)) return status::kWbemFailed;
    for (wmi::Value& name : list.elements) names->push_back(std::move(name.text));
    return hr;
  }

  HResult GetPropertyQualifier(std::wstring_view property, std::wstring_view qualifier,
                               wmi::Value* value) const override {
    ComPtr<IWbemQualifierSet> set;
    HRESULT hr = object_->GetPropertyQualifierSet(std::wstring(property).c_str(), set.Put());
    if (FAILED(hr)) return hr;
    Variant variant;
    hr = set->Get(std::wstring(qualifier).c_str(), 0, variant.Get(), nullptr);
    if (SUCCEEDED(hr) && value != nullptr) *value = ToValue(variant.Ref());
    return hr;
  }

  HResult GetPropertyQualifierSet(std::wstring_view property) const override {
    ComPtr<IWbemQualifierSet> set;
    return object_->GetPropertyQualifierSet(std::wstring(property).c_str(), set.Put());
  }

  HResult GetMethod(std::wstring_view name, wmi::ObjectPtr* inSignature) const override {
    ComPtr<IWbemClassObject> in;
    HRESULT hr = object_->GetMethod(std::wstring(name).c_str(), 0, in.Put(), nullptr);
    if (inSignature != nullptr) *inSignature = SUCCEEDED(hr) ? WrapObject(in.Get()) : nullptr;
    return hr;
  }

  HResult InheritsFrom(std::wstring_view ancestor) const override {
    return object_->InheritsFrom(std::wstring(ancestor).c_str());
  }

  HResult SpawnInstance(wmi::ObjectPtr* instance) const override {
    ComPtr<IWbemClassObject> spawned;
    HRESULT hr = object_->SpawnInstance(0, spawned.Put());
    if (instance != nullptr) *instance = SUCCEEDED(hr) ? WrapObject(spawned.Get()) : nullptr;
    return hr;
  }

 private:
  ComPtr<IWbemClassObject> object_;
};

}  // namespace

wmi::ObjectPtr WrapObject(IWbemClassObject* borrowed) {
  if (borrowed == nullptr) return nullptr;
  return std::make_shared<ComObject>(ComPtr<IWbemClassObject>::Share(borrowed));
}

wmi::ObjectPtr WrapUnknown(IUnknown* borrowed) {
  if (borrowed == nullptr) return nullptr;
  ComPtr<IWbemClassObject> object;
  if (FAILED(borrowed->QueryInterface(IID_IWbemClassObject, object.PutVoid()))) return nullptr;
  return std::make_shared<ComObject>(std::move(object));
}

IWbemClassObject* RawObject(const wmi::ObjectPtr& object) {
  const auto* com = dynamic_cast<const ComObject*>(object.get());
  return com == nullptr ? nullptr : com->Raw();
}

}  // namespace platform::win32
