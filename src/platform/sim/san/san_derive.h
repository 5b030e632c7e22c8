// Helpers shared by the SAN's instance providers: the VARIANT forms of
// values as WMI hands them out (uint64 and sint64 as decimal text, uint8 as
// VT_UI1, other integers as VT_I4) and instances made per LUN.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/san/san_model.h"
#include "platform/sim/wmi/repository.h"
#include "platform/wmi.h"

namespace platform::sim::san_derive {

inline wmi::Value U8(uint8_t v) { return wmi::Value::Int(wmi::vt::kUi1, v); }
inline wmi::Value U32(uint32_t v) { return wmi::Value::I4(static_cast<int32_t>(v)); }
/// Decimal text, made without the locale-aware formatting of to_wstring,
/// which cost more than the rest of a path's performance record.
inline wmi::Value U64(uint64_t v) {
  wchar_t digits[20];
  size_t start = std::size(digits);
  do {
    digits[--start] = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
  } while (v != 0);
  return wmi::Value::Bstr(std::wstring(digits + start, std::size(digits) - start));
}
inline wmi::Value Text(std::wstring v) { return wmi::Value::Bstr(std::move(v)); }
inline wmi::Value Text(const std::string& v) { return wmi::Value::Bstr({v.begin(), v.end()}); }
inline wmi::Value Object(wmi::ObjectPtr v) { return wmi::Value::Unknown(std::move(v)); }

/// Arrays of integers. The elements are filled in place: moving a Value
/// into a vector costs more than the byte it holds.
template <typename Container>
wmi::Value Bytes(const Container& bytes) {
  std::vector<wmi::Value> elements(std::size(bytes));
  for (size_t i = 0; i < elements.size(); ++i) {
    elements[i].type = wmi::vt::kUi1;
    elements[i].integer = static_cast<uint8_t>(bytes[i]);
  }
  return wmi::Value::Array(wmi::vt::kUi1, std::move(elements));
}

inline wmi::Value U32s(const std::vector<uint32_t>& values) {
  std::vector<wmi::Value> elements(values.size());
  for (size_t i = 0; i < elements.size(); ++i) {
    elements[i].type = wmi::vt::kI4;
    elements[i].integer = static_cast<int32_t>(values[i]);
  }
  return wmi::Value::Array(wmi::vt::kI4, std::move(elements));
}

inline wmi::Value Objects(std::vector<wmi::ObjectPtr> objects) {
  std::vector<wmi::Value> elements;
  elements.reserve(objects.size());
  for (wmi::ObjectPtr& o : objects) elements.push_back(Object(std::move(o)));
  return wmi::Value::Array(wmi::vt::kUnknown, std::move(elements));
}

/// The instance name of MPIO's control device, which also carries the
/// DSM's machine-wide data blocks.
inline constexpr const wchar_t* kMpioInstance = L"Root\\MPIO\\0000_0";

/// One property of a derived instance. Values are moved, never copied, out
/// of the braced lists that make instances: with thousands of paths the
/// copies of byte arrays would cost more than everything else.
struct Item {
  const wchar_t* name;
  mutable wmi::Value value;
};

inline PropertyValues Props(std::initializer_list<Item> items, size_t room = 0) {
  PropertyValues values;
  values.reserve(items.size() + room);
  for (const Item& item : items) values.emplace_back(item.name, std::move(item.value));
  return values;
}

inline wmi::ObjectPtr Instance(const Namespace& ns, const wchar_t* className,
                               std::initializer_list<Item> items) {
  return ns.NewInstance(className, Props(items));
}

/// An instance of a WMI data block: InstanceName and Active, then `items`.
inline wmi::ObjectPtr DataBlock(const Namespace& ns, const wchar_t* className,
                                std::wstring instanceName, std::initializer_list<Item> items) {
  PropertyValues values;
  values.reserve(items.size() + 2);
  values.emplace_back(L"InstanceName", Text(std::move(instanceName)));
  values.emplace_back(L"Active", wmi::Value::Bool(true));
  for (const Item& item : items) values.emplace_back(item.name, std::move(item.value));
  return ns.NewInstance(className, std::move(values));
}

/// Registers a provider that makes one instance per LUN with
/// `perLun(ns, model, lun)` when it is fetched; without a LUN the block
/// has no instance and its enumeration is refused (WBEM_E_NOT_SUPPORTED).
template <typename PerLun>
void PerLunProvider(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
                    PerLun perLun) {
  const Namespace* space = &ns;
  ns.SetProvider(className, [space, model, perLun]() {
    if (model->luns.empty()) return InstanceList::Refused();  // a data block without instance
    return InstanceList(model->luns.size(), [space, model, perLun](size_t index) {
      return perLun(*space, *model, model->luns[index]);
    });
  });
}

/// Registers a provider of one machine-wide instance made by `make(ns, model)`.
template <typename Make>
void SingleProvider(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
                    Make make) {
  const Namespace* space = &ns;
  ns.SetProvider(className, [space, model, make]() {
    return InstanceList(1, [space, model, make](size_t) { return make(*space, *model); });
  });
}

/// The providers of the DSM's own classes and of the listing classes.
void InstallDsmProviders(Namespace& ns, std::shared_ptr<SanModel> model);
void InstallListingProviders(Namespace& ns, std::shared_ptr<SanModel> model);

}  // namespace platform::sim::san_derive
