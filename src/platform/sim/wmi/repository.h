// The simulated WMI repository: namespaces, classes with typed properties,
// qualifiers and methods, instances (fixed or computed from the machine's
// state on each enumeration) and the handlers that carry out methods.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sim/faults/faults.h"
#include "platform/wmi.h"

namespace platform::sim {

/// A property or method parameter of a class.
struct PropertyDef {
  std::wstring name;
  int32_t cimType = wmi::cim::kString;
  std::wstring objectClass;  // class of embedded objects (object, object[])
  bool key = false;
};

struct MethodDef {
  std::wstring name;
  /// Input parameters; a method without any takes no input object.
  std::vector<PropertyDef> in;
  std::vector<PropertyDef> out;
};

struct ClassDef {
  std::wstring name;
  /// The classes it derives from, nearest first (empty for a root class).
  std::vector<std::wstring> derivation;
  std::vector<PropertyDef> properties;
  std::vector<MethodDef> methods;

  const PropertyDef* FindProperty(std::wstring_view property) const;
  const MethodDef* FindMethod(std::wstring_view method) const;
};

/// What a method handler is given.
struct MethodCall {
  std::wstring objectPath;  // as the caller wrote it
  std::wstring className;
  std::wstring keyName;   // empty for a call on the class itself
  std::wstring keyValue;  // quotes removed, doubled backslashes undone
  wmi::ObjectPtr in;      // null when the caller passed none
};

/// Carries out one method; may set *out (the output-parameter object).
using MethodHandler = std::function<HResult(const MethodCall& call, wmi::ObjectPtr* out)>;

/// The instances of one enumeration. Each is made when it is fetched, so
/// an enumeration of thousands of instances that is read only in part, or
/// one object at a time, costs only what is read.
class InstanceList {
 public:
  InstanceList() = default;
  /// `count` instances; the one at index i is `make(i)`.
  InstanceList(size_t count, std::function<wmi::ObjectPtr(size_t)> make)
      : count_(count), make_(std::move(make)) {}
  /// Fixed objects, handed out as they are.
  explicit InstanceList(std::shared_ptr<const std::vector<wmi::ObjectPtr>> objects);
  /// No instance, and an enumeration that is refused with
  /// WBEM_E_NOT_SUPPORTED, as Windows answers for a driver's data block
  /// that has no instance.
  static InstanceList Refused();

  size_t Size() const { return count_; }
  /// True for a Refused() list.
  bool IsRefused() const { return refused_; }
  /// The instance at `index` (below Size()).
  wmi::ObjectPtr At(size_t index) const { return make_(index); }
  /// Every instance, made now.
  std::vector<wmi::ObjectPtr> All() const;

 private:
  size_t count_ = 0;
  std::function<wmi::ObjectPtr(size_t)> make_;
  bool refused_ = false;
};

/// Gives the instances of a class as the machine's state has them when
/// they are fetched.
using InstanceProvider = std::function<InstanceList()>;
/// A property value as stored in an object, with its CIM type.
using PropertyValues = std::vector<std::pair<std::wstring, wmi::Value>>;

/// Orders, hashes and compares ASCII names without letter case, so that
/// maps keyed by names are searched without making lower-case copies.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const;
};
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::wstring_view name) const;
};
struct NameEqual {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const;
};

/// The name the simulated machine answers to, as __SERVER gives it.
inline constexpr const wchar_t* kLocalServer = L"TOLLARD-SIM";

/// Where a namespace stands: its name as the repository spells it and the
/// machine that holds it (for __NAMESPACE, __SERVER and __PATH).
struct NamespaceId {
  std::wstring name;
  std::wstring server = kLocalServer;
};

/// The system classes every namespace has: __SystemClass, the root of
/// them, __NotifyStatus (StatusCode) and __ExtendedStatus, the class of
/// the error objects WMI leaves after a failed call (Description,
/// Operation, ParameterInfo, ProviderName, StatusCode).
std::vector<ClassDef> SystemClasses();

class Namespace {
 public:
  /// A namespace holding the system classes only.
  explicit Namespace(std::wstring name);
  const std::wstring& Name() const { return id_->name; }
  /// The machine holding the namespace, for objects made from now on.
  void SetServer(std::wstring server);
  /// Objects made from now on check these faults (SpawnInstance, Put, GetMethod).
  void SetFaults(std::shared_ptr<Faults> faults) { faults_ = std::move(faults); }
  /// Drops every class but the system classes.
  void Clear();

  /// Defines a class, replacing an earlier definition of the same name.
  void DefineClass(ClassDef def);
  /// The definition of a class (class names compare without letter case).
  std::shared_ptr<const ClassDef> FindClass(std::wstring_view name) const;
  /// The names of every class defined here, in no particular order.
  std::vector<std::wstring> ClassNames() const;
  /// The class object that GetObject returns for a class name.
  wmi::ObjectPtr ClassObject(std::wstring_view name) const;
  /// A new instance of a defined class with the given values; properties
  /// not given are VT_NULL. Values are stored as given, so a value of the
  /// wrong VARIANT type can be made on purpose. Null for an unknown class.
  wmi::ObjectPtr NewInstance(std::wstring_view className, PropertyValues values) const;
  /// A new instance of the class `def` (found here) as an object of type T
  /// (a SimObject or a class derived from it), made with `args` after the
  /// instance's own constructor arguments. Null when `def` is.
  template <typename T, typename... Args>
  std::shared_ptr<T> MakeInstance(std::shared_ptr<const ClassDef> def, Args&&... args) const;

  /// Fixed instances (raw data from the machine file); they take the place
  /// of a provider. `delays` (milliseconds, one per instance or none) say
  /// when each is delivered as an event after the one before it.
  void SetInstances(std::wstring_view className, std::vector<wmi::ObjectPtr> instances,
                    std::vector<uint32_t> delays = {});
  /// The delays of the fixed instances of a class: one per instance, 0
  /// where none was given.
  std::vector<uint32_t> EventDelays(std::wstring_view className) const;
  void SetProvider(std::wstring_view className, InstanceProvider provider);
  /// The instances of a class, or nothing for an unknown class.
  std::optional<InstanceList> Instances(std::wstring_view className) const;

  void SetMethodHandler(std::wstring_view className, std::wstring_view method,
                        MethodHandler handler);
  const MethodHandler* FindMethodHandler(std::wstring_view className,
                                         std::wstring_view method) const;

 private:
  struct ClassEntry {
    std::shared_ptr<const ClassDef> def;
    std::shared_ptr<const std::vector<wmi::ObjectPtr>> fixed;
    std::vector<uint32_t> delays;
    InstanceProvider provider;
    std::map<std::wstring, MethodHandler, NameLess> handlers;
  };
  const ClassEntry* Find(std::wstring_view name) const;
  ClassEntry* Find(std::wstring_view name);

  // Shared with every object made here, which reports it as __NAMESPACE.
  std::shared_ptr<const NamespaceId> id_;
  std::shared_ptr<Faults> faults_;
  std::unordered_map<std::wstring, ClassEntry, NameHash, NameEqual> classes_;
};

class Repository {
 public:
  /// The namespace of that name, created when missing.
  Namespace& Add(std::wstring_view name);
  /// The faults every namespace's objects check, those made from now on
  /// in namespaces added later included.
  void SetFaults(std::shared_ptr<Faults> faults);
  /// The machine that holds every namespace, those added later included.
  void SetServer(std::wstring server);
  /// Namespace names compare without letter case ("root\wmi" = "ROOT\WMI").
  Namespace* Find(std::wstring_view name);
  void ForEach(const std::function<void(Namespace&)>& visit);
  /// Drops every class of every namespace; the namespaces stay, so open
  /// connections to them stay valid.
  void Clear();

 private:
  std::map<std::wstring, std::unique_ptr<Namespace>, NameLess> namespaces_;
  std::shared_ptr<Faults> faults_;
  std::wstring server_ = kLocalServer;
};

/// Compares ASCII names without letter case, as WMI compares names.
bool SameName(std::wstring_view a, std::wstring_view b);
/// The same for narrow names (registry value and device names).
bool SameName(std::string_view a, std::string_view b);

/// Lower-case form of an ASCII name (class, namespace, method names).
std::wstring FoldName(std::wstring_view name);

}  // namespace platform::sim
