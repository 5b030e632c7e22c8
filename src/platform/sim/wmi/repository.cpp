#include "platform/sim/wmi/repository.h"

#include <algorithm>

#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {

std::wstring FoldName(std::wstring_view name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return folded;
}

namespace {

wchar_t FoldChar(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace

bool NameLess::operator()(std::wstring_view a, std::wstring_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const wchar_t x = FoldChar(a[i]), y = FoldChar(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

size_t NameHash::operator()(std::wstring_view name) const {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : name) hash = (hash ^ static_cast<uint64_t>(FoldChar(c))) * 1099511628211ull;
  return static_cast<size_t>(hash);
}

bool NameEqual::operator()(std::wstring_view a, std::wstring_view b) const {
  return SameName(a, b);
}

InstanceList::InstanceList(std::shared_ptr<const std::vector<wmi::ObjectPtr>> objects)
    : count_(objects->size()),
      make_([objects = std::move(objects)](size_t index) { return (*objects)[index]; }) {}

InstanceList InstanceList::Refused() {
  InstanceList list;
  list.refused_ = true;
  return list;
}

std::vector<wmi::ObjectPtr> InstanceList::All() const {
  std::vector<wmi::ObjectPtr> objects;
  objects.reserve(count_);
  for (size_t i = 0; i < count_; ++i) objects.push_back(make_(i));
  return objects;
}

namespace {

template <typename Char>
bool SameAsciiName(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    Char x = a[i], y = b[i];
    if (x == y) continue;
    if (x >= 'A' && x <= 'Z') x = static_cast<Char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<Char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool SameName(std::wstring_view a, std::wstring_view b) { return SameAsciiName(a, b); }
bool SameName(std::string_view a, std::string_view b) { return SameAsciiName(a, b); }

const PropertyDef* ClassDef::FindProperty(std::wstring_view property) const {
  for (const PropertyDef& p : properties) {
    if (SameName(p.name, property)) return &p;
  }
  return nullptr;
}

const MethodDef* ClassDef::FindMethod(std::wstring_view method) const {
  for (const MethodDef& m : methods) {
    if (SameName(m.name, method)) return &m;
  }
  return nullptr;
}

std::vector<ClassDef> SystemClasses() {
  namespace cim = wmi::cim;
  ClassDef root;
  root.name = L"__SystemClass";
  ClassDef notify;
  notify.name = L"__NotifyStatus";
  notify.derivation = {root.name};
  notify.properties = {{L"StatusCode", cim::kUint32, {}, false}};
  ClassDef extended;
  extended.name = L"__ExtendedStatus";
  extended.derivation = {notify.name, root.name};
  extended.properties = {{L"Description", cim::kString, {}, false},
                         {L"Operation", cim::kString, {}, false},
                         {L"ParameterInfo", cim::kString, {}, false},
                         {L"ProviderName", cim::kString, {}, false},
                         {L"StatusCode", cim::kUint32, {}, false}};
  return {std::move(root), std::move(notify), std::move(extended)};
}

Namespace::Namespace(std::wstring name)
    : id_(std::make_shared<const NamespaceId>(NamespaceId{std::move(name)})) {
  Clear();
}

void Namespace::SetServer(std::wstring server) {
  id_ = std::make_shared<const NamespaceId>(NamespaceId{id_->name, std::move(server)});
}

void Namespace::Clear() {
  classes_.clear();
  for (ClassDef& def : SystemClasses()) DefineClass(std::move(def));
}

void Namespace::DefineClass(ClassDef def) {
  std::wstring key = def.name;
  classes_[std::move(key)].def = std::make_shared<const ClassDef>(std::move(def));
}

const Namespace::ClassEntry* Namespace::Find(std::wstring_view name) const {
  auto it = classes_.find(name);
  return it == classes_.end() ? nullptr : &it->second;
}

Namespace::ClassEntry* Namespace::Find(std::wstring_view name) {
  auto it = classes_.find(name);
  return it == classes_.end() ? nullptr : &it->second;
}

std::shared_ptr<const ClassDef> Namespace::FindClass(std::wstring_view name) const {
  const ClassEntry* entry = Find(name);
  return entry == nullptr ? nullptr : entry->def;
}

std::vector<std::wstring> Namespace::ClassNames() const {
  std::vector<std::wstring> names;
  names.reserve(classes_.size());
  for (const auto& [name, entry] : classes_) names.push_back(entry.def->name);
  return names;
}

wmi::ObjectPtr Namespace::ClassObject(std::wstring_view name) const {
  auto def = FindClass(name);
  if (!def) return nullptr;
  return std::make_shared<SimObject>(SimObject::Kind::kClass, def, id_, faults_);
}

wmi::ObjectPtr Namespace::NewInstance(std::wstring_view className, PropertyValues values) const {
  auto object = MakeInstance<SimObject>(FindClass(className));
  if (!object) return nullptr;
  object->Reserve(values.size());
  for (auto& [name, value] : values) {
    const PropertyDef* p = object->Def().FindProperty(name);
    int32_t type = p != nullptr ? p->cimType : wmi::cim::kString;
    object->Set(std::move(name), std::move(value), type);
  }
  return object;
}

void Namespace::SetInstances(std::wstring_view className, std::vector<wmi::ObjectPtr> instances,
                             std::vector<uint32_t> delays) {
  if (ClassEntry* entry = Find(className)) {
    delays.resize(instances.size());
    entry->delays = std::move(delays);
    entry->fixed = std::make_shared<const std::vector<wmi::ObjectPtr>>(std::move(instances));
    entry->provider = nullptr;
  }
}

std::vector<uint32_t> Namespace::EventDelays(std::wstring_view className) const {
  const ClassEntry* entry = Find(className);
  if (entry == nullptr || !entry->fixed) return {};
  return entry->delays;
}

void Namespace::SetProvider(std::wstring_view className, InstanceProvider provider) {
  if (ClassEntry* entry = Find(className)) {
    entry->provider = std::move(provider);
    entry->fixed.reset();
    entry->delays.clear();
  }
}

std::optional<InstanceList> Namespace::Instances(std::wstring_view className) const {
  const ClassEntry* entry = Find(className);
  if (entry == nullptr) return std::nullopt;
  if (entry->fixed) return InstanceList(entry->fixed);
  if (entry->provider) return entry->provider();
  return InstanceList();
}

void Namespace::SetMethodHandler(std::wstring_view className, std::wstring_view method,
                                 MethodHandler handler) {
  if (ClassEntry* entry = Find(className)) {
    entry->handlers[std::wstring(method)] = std::move(handler);
  }
}

const MethodHandler* Namespace::FindMethodHandler(std::wstring_view className,
                                                  std::wstring_view method) const {
  const ClassEntry* entry = Find(className);
  if (entry == nullptr) return nullptr;
  auto it = entry->handlers.find(method);
  return it == entry->handlers.end() ? nullptr : &it->second;
}

Namespace& Repository::Add(std::wstring_view name) {
  auto it = namespaces_.find(name);
  if (it == namespaces_.end()) {
    auto ns = std::make_unique<Namespace>(std::wstring(name));
    ns->SetFaults(faults_);
    ns->SetServer(server_);
    it = namespaces_.emplace(std::wstring(name), std::move(ns)).first;
  }
  return *it->second;
}

void Repository::SetFaults(std::shared_ptr<Faults> faults) {
  faults_ = std::move(faults);
  for (auto& [name, ns] : namespaces_) ns->SetFaults(faults_);
}

void Repository::SetServer(std::wstring server) {
  server_ = std::move(server);
  for (auto& [name, ns] : namespaces_) ns->SetServer(server_);
}

Namespace* Repository::Find(std::wstring_view name) {
  auto it = namespaces_.find(name);
  return it == namespaces_.end() ? nullptr : it->second.get();
}

void Repository::Clear() {
  for (auto& [name, ns] : namespaces_) ns->Clear();
}

void Repository::ForEach(const std::function<void(Namespace&)>& visit) {
  for (auto& [name, ns] : namespaces_) visit(*ns);
}

}  // namespace platform::sim
