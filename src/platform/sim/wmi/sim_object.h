// Objects of the simulated repository: class objects, instances and
// method-parameter objects, all behind the seam's wmi::Object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/faults/faults.h"
#include "platform/sim/wmi/repository.h"

namespace platform::sim {

class SimObject : public wmi::Object {
 public:
  enum class Kind { kClass, kInstance, kParameters };

  /// `faults` may be null (no injection on this object).
  SimObject(Kind kind, std::shared_ptr<const ClassDef> def, std::wstring namespaceName,
            std::shared_ptr<Faults> faults = nullptr);
  /// As above, in a namespace (of a machine) shared by the objects of a
  /// namespace.
  SimObject(Kind kind, std::shared_ptr<const ClassDef> def,
            std::shared_ptr<const NamespaceId> namespaceId, std::shared_ptr<Faults> faults);

  HResult Get(std::wstring_view name, wmi::Value* value, int32_t* cimType) const override;
  HResult Put(std::wstring_view name, const wmi::Value& value, int32_t cimType) override;
  HResult GetNames(int32_t flags, std::vector<std::wstring>* names) const override;
  HResult GetPropertyQualifier(std::wstring_view property, std::wstring_view qualifier,
                               wmi::Value* value) const override;
  HResult GetPropertyQualifierSet(std::wstring_view property) const override;
  HResult GetMethod(std::wstring_view name, wmi::ObjectPtr* inSignature) const override;
  HResult SpawnInstance(wmi::ObjectPtr* instance) const override;
  HResult InheritsFrom(std::wstring_view ancestor) const override;

  /// Get without the faults injected on it: how the machine itself (a
  /// provider reading a method's input, a lookup by key) reads an object,
  /// which a fault on the program's reads must not change.
  HResult Read(std::wstring_view name, wmi::Value* value, int32_t* cimType) const;
  /// Stores a value without the checks of Put (raw data, derived classes).
  void Set(std::wstring name, wmi::Value value, int32_t cimType);
  void Reserve(size_t count) { slots_.reserve(count); }
  const ClassDef& Def() const { return *def_; }
  Kind ObjectKind() const { return kind_; }

 protected:
  /// The value of a property that was never set or put, for objects that
  /// compute their values when they are read. False when the object holds
  /// no value of that name (it then reads as VT_NULL, or not at all when
  /// the class lacks the property).
  virtual bool Computed(std::wstring_view name, wmi::Value* value) const;

 private:
  struct Slot {
    std::wstring name;
    wmi::Value value;
    int32_t cimType;
  };
  const Slot* FindSlot(std::wstring_view name) const;
  Slot* FindSlot(std::wstring_view name);
  /// The value of `name`, set or computed; false when there is none.
  bool Lookup(std::wstring_view name, wmi::Value* value, int32_t* cimType) const;
  std::wstring RelativePath() const;
  /// The injected failure of `call` on this object's class, or kOk.
  HResult Injected(std::string_view call, std::wstring_view detail) const;
  bool SystemProperty(std::wstring_view name, wmi::Value* value, int32_t* cimType) const;

  Kind kind_;
  std::shared_ptr<const ClassDef> def_;
  std::shared_ptr<const NamespaceId> namespace_;
  std::vector<Slot> slots_;
  std::shared_ptr<Faults> faults_;
};

template <typename T, typename... Args>
std::shared_ptr<T> Namespace::MakeInstance(std::shared_ptr<const ClassDef> def,
                                           Args&&... args) const {
  if (!def) return nullptr;
  return std::make_shared<T>(SimObject::Kind::kInstance, std::move(def), id_, faults_,
                             std::forward<Args>(args)...);
}

/// Object::Get as the machine itself reads: SimObject::Read for objects
/// of the simulated machine, Get for any other.
HResult ReadOwn(const wmi::Object& object, std::wstring_view name, wmi::Value* value);

/// The class definition of a method's input or output parameters.
std::shared_ptr<const ClassDef> ParameterClass(std::wstring_view name,
                                               const std::vector<PropertyDef>& params);

/// ASCII text of a wide name (for fault selectors); other characters become '?'.
std::string Narrow(std::wstring_view text);

/// Text of a value for an object path key (strings as they are, numbers
/// in decimal).
std::wstring KeyText(const wmi::Value& value);

}  // namespace platform::sim
