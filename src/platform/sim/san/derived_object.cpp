#include "platform/sim/san/derived_object.h"

#include <utility>
#include <vector>

namespace platform::sim::san_derive {

DerivedObject::DerivedObject(Kind kind, std::shared_ptr<const ClassDef> def,
                             std::shared_ptr<const NamespaceId> namespaceId,
                             std::shared_ptr<Faults> faults, std::span<const Field> fields,
                             LunPart part)
    : SimObject(kind, std::move(def), std::move(namespaceId), std::move(faults)),
      fields_(fields),
      part_(std::move(part)) {}

bool DerivedObject::Computed(std::wstring_view name, wmi::Value* value) const {
  for (const Field& field : fields_) {
    // The length first: most fields differ in it. Callers mostly spell a
    // name as defined, so an exact match is tried before the letter case.
    if (field.name.size() == name.size() && (field.name == name || SameName(field.name, name))) {
      *value = field.value(part_);
      return true;
    }
  }
  return false;
}

wmi::ObjectPtr Derive(std::wstring_view className, std::span<const Field> fields,
                      const LunPart& part) {
  const Namespace& ns = *part.view->ns;
  return ns.MakeInstance<DerivedObject>(ns.FindClass(className), fields, part);
}

wmi::Value DerivePerPath(std::wstring_view className, std::span<const Field> fields,
                         const LunPart& part) {
  const Namespace& ns = *part.view->ns;
  const auto def = ns.FindClass(className);  // once for all the paths
  const size_t count = part.Lun().paths.size();
  std::vector<wmi::Value> elements;
  elements.reserve(count);
  for (size_t p = 0; p < count; ++p) {
    elements.push_back(
        wmi::Value::Unknown(ns.MakeInstance<DerivedObject>(def, fields, LunPart{part.view, p})));
  }
  return wmi::Value::Array(wmi::vt::kUnknown, std::move(elements));
}

void DerivedPerLun(Namespace& ns, const wchar_t* className, std::shared_ptr<SanModel> model,
                   std::span<const Field> fields) {
  const Namespace* space = &ns;
  ns.SetProvider(className, [space, className, model, fields] {
    if (model->luns.empty()) return InstanceList::Refused();  // a data block without instance
    return InstanceList(model->luns.size(), [space, className, model, fields](size_t index) {
      auto view = std::make_shared<const LunView>(LunView{space, model, model->luns[index]});
      return Derive(className, fields, LunPart{std::move(view), 0});
    });
  });
}

}  // namespace platform::sim::san_derive
