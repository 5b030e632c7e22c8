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

#include "platform/sim/repository.h"
#include "platform/sim/san_model.h"
#include "platform/wmi.h"

namespace platform::sim::san_derive {

inline wmi::Value U8(uint8_t v) { return wmi::Value::Int(wmi::vt::kUi1, v); }
inline wmi::Value U32(uint32_t v) { return wmi::Value::I4(static_cast<int32_t>(v)); }
inline wmi::Value U64(uint64_t v) { return wmi::Value::Bstr(std::to_wstring(v)); }
inline wmi::Value Text(std::wstring v) { return wmi::Value::Bstr(std::move(v)); }
inline wmi::Value Text(const std::string& v) { return wmi::Value::Bstr({v.begin(), v.end()}); }
inline wmi::Value Object(wmi::ObjectPtr v) { return wmi::Value::Unknown(std::move(v)); }

template <typename Container>
wmi::Value Bytes(const Container& bytes) {
  std::vector<wmi::Value> elements;
  elements.reserve(bytes.size());
  for (uint8_t b : bytes) elements.push_back(U8(b));
  return wmi::Value::Array(wmi::vt::kUi1, std::move(elements));
}

inline wmi::Value U32s(const std::vector<uint32_t>& values) {
  std::vector<wmi::Value> elements;
  elements.reserve(values.size());
  for (uint32_t v : values) elements.push_back(U32(v));
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
/// `perLun(ns, model, lun)`.
template <typename PerLun>
void PerLunProvider(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
                    PerLun perLun) {
  const Namespace* space = &ns;
  ns.SetProvider(className, [space, model, perLun]() {
    std::vector<wmi::ObjectPtr> instances;
    instances.reserve(model->luns.size());
    for (const SanLun& lun : model->luns) instances.push_back(perLun(*space, *model, lun));
    return instances;
  });
}

/// Registers a provider of one machine-wide instance made by `make(ns, model)`.
template <typename Make>
void SingleProvider(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
                    Make make) {
  const Namespace* space = &ns;
  ns.SetProvider(className, [space, model, make]() {
    return std::vector<wmi::ObjectPtr>{make(*space, *model)};
  });
}

/// The providers of the DSM's own classes and of the listing classes.
void InstallDsmProviders(Namespace& ns, std::shared_ptr<SanModel> model);
void InstallListingProviders(Namespace& ns, std::shared_ptr<SanModel> model);

}  // namespace platform::sim::san_derive
