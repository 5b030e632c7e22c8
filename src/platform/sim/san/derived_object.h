// Instances of the SAN's classes that compute their values from one LUN
// when a property is read. The commands read a few properties of thousands
// of instances; building every property of each up front cost more than
// everything else they do.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "platform/sim/san/san_model.h"
#include "platform/sim/wmi/sim_object.h"

namespace platform::sim::san_derive {

/// A LUN as it was when an instance was made. WMI hands out copies, so a
/// later change by a method does not show in objects already handed out.
struct LunView {
  const Namespace* ns = nullptr;
  std::shared_ptr<const SanModel> model;  // for adapters and controllers, which no method changes
  SanLun lun;
};

/// What one derived object describes: a LUN, or one of its paths.
struct LunPart {
  std::shared_ptr<const LunView> view;
  size_t path = 0;

  const SanModel& Model() const { return *view->model; }
  const SanLun& Lun() const { return view->lun; }
  const SanPath& Path() const { return view->lun.paths[path]; }
};

/// One property of a derived class and how its value is computed.
struct Field {
  std::wstring_view name;
  wmi::Value (*value)(const LunPart& part);
};

/// An instance whose properties are computed by `fields` from `part` when
/// read. It behaves as an instance made with every field set: Put and Set
/// replace a field's value, SpawnInstance gives an empty instance.
class DerivedObject final : public SimObject {
 public:
  /// `fields` must outlive the object (they are static tables).
  DerivedObject(Kind kind, std::shared_ptr<const ClassDef> def,
                std::shared_ptr<const NamespaceId> namespaceId, std::shared_ptr<Faults> faults,
                std::span<const Field> fields, LunPart part);

 protected:
  bool Computed(std::wstring_view name, wmi::Value* value) const override;

 private:
  std::span<const Field> fields_;
  LunPart part_;
};

/// An instance of `className` (in the namespace of `part`'s view) computed
/// from `part`; null when the namespace lacks the class.
wmi::ObjectPtr Derive(std::wstring_view className, std::span<const Field> fields,
                      const LunPart& part);

/// One derived `className` object per path of `part`'s LUN, as an array
/// of objects (null ones when the namespace lacks the class).
wmi::Value DerivePerPath(std::wstring_view className, std::span<const Field> fields,
                         const LunPart& part);

/// Registers a provider of one `className` instance per LUN, computed by
/// `fields` from a view of the LUN taken when the instance is fetched.
/// Without a LUN its enumeration is refused with WBEM_E_NOT_SUPPORTED.
void DerivedPerLun(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
                   std::span<const Field> fields);

}  // namespace platform::sim::san_derive
