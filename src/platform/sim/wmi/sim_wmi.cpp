#include "platform/sim/wmi/sim_wmi.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <optional>
#include <thread>
#include <utility>

#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {
namespace {

using wmi::ObjectPtr;
using wmi::Value;

constexpr uint32_t kDefaultAuthnLevel = 6;  // what a new WMI proxy has (packet privacy)
constexpr uint32_t kImpersonate = 3;        // RPC_C_IMP_LEVEL_IMPERSONATE

// Leaves an __ExtendedStatus error object behind, as WMI does after a
// failed call.
void LeaveError(WmiWorld& world, std::wstring_view operation, std::wstring_view parameter,
                HResult hr) {
  static const auto def = std::make_shared<const ClassDef>(SystemClasses().back());
  // Its reads can be made to fail too, as any object's.
  auto error =
      std::make_shared<SimObject>(SimObject::Kind::kInstance, def, L"ROOT\\WMI", world.faults);
  error->Set(L"Operation", Value::Bstr(std::wstring(operation)), wmi::cim::kString);
  error->Set(L"ParameterInfo", Value::Bstr(std::wstring(parameter)), wmi::cim::kString);
  error->Set(L"ProviderName", Value::Bstr(L"WinMgmt"), wmi::cim::kString);
  error->Set(L"StatusCode", Value::I4(hr), wmi::cim::kUint32);
  std::lock_guard<std::mutex> lock(world.errorMutex);
  world.lastError = error;
}

// A proxy starts with the process's blanket, as COM gives it.
class SimProxy {
 public:
  explicit SimProxy(const WmiWorld& world) : impLevel_(world.processImpLevel) {}
  HResult Query(WmiWorld& world, uint32_t* authn, uint32_t* imp) const {
    if (HResult hr = world.faults->Status("QueryBlanket"); hr != status::kOk) return hr;
    *authn = authnLevel_;
    *imp = impLevel_;
    return status::kOk;
  }
  HResult Set(WmiWorld& world, const wmi::Blanket& blanket) {
    if (HResult hr = world.faults->Status("CoSetProxyBlanket"); hr != status::kOk) return hr;
    authnLevel_ = blanket.authnLevel;
    impLevel_ = blanket.impLevel;
    return status::kOk;
  }

 private:
  uint32_t authnLevel_ = kDefaultAuthnLevel;
  uint32_t impLevel_;
};

class SimEnumerator : public wmi::Enumerator {
 public:
  SimEnumerator(std::shared_ptr<WmiWorld> world, std::wstring className, InstanceList objects)
      : world_(std::move(world)),
        class_(std::move(className)),
        objects_(std::move(objects)),
        proxy_(*world_) {}

  HResult Next(int32_t, ObjectPtr* object, uint32_t* returned) override {
    *returned = 0;
    object->reset();
    if (HResult hr = world_->faults->Status("Next", Narrow(class_)); hr != status::kOk) {
      if (hr < 0) LeaveError(*world_, L"Next", class_, hr);
      return hr;
    }
    if (next_ >= objects_.Size()) return status::kWbemSFalse;
    *object = objects_.At(next_++);
    *returned = 1;
    return status::kOk;
  }
  HResult QueryBlanket(uint32_t* authn, uint32_t* imp) override {
    return proxy_.Query(*world_, authn, imp);
  }
  HResult SetBlanket(const wmi::Blanket& blanket) override { return proxy_.Set(*world_, blanket); }

 private:
  std::shared_ptr<WmiWorld> world_;
  std::wstring class_;
  InstanceList objects_;
  size_t next_ = 0;
  SimProxy proxy_;
};

class SimServices : public wmi::Services {
 public:
  /// `machine` keeps a remote machine's repository, which holds `ns`,
  /// alive while the connection is (null for the local machine).
  SimServices(std::shared_ptr<WmiWorld> world, Namespace* ns, std::shared_ptr<Repository> machine)
      : world_(std::move(world)), machine_(std::move(machine)), ns_(ns), proxy_(*world_) {}
  ~SimServices() override { StopEvents(); }

  HResult CreateInstanceEnum(std::wstring_view className, int32_t,
                             wmi::EnumeratorPtr* enumerator) override {
    enumerator->reset();
    HResult hr = world_->faults->Status("CreateInstanceEnum", Narrow(className));
    if (hr == status::kOk) {
      auto instances = ns_->Instances(className);
      if (!instances) {
        hr = status::kWbemInvalidClass;
      } else if (instances->IsRefused()) {
        hr = status::kWbemNotSupported;
      } else {
        *enumerator =
            std::make_shared<SimEnumerator>(world_, std::wstring(className), std::move(*instances));
        return status::kOk;
      }
    }
    LeaveError(*world_, L"CreateInstanceEnum", className, hr);
    return hr;
  }

  HResult GetObject(std::wstring_view path, int32_t, ObjectPtr* object) override {
    object->reset();
    HResult hr = world_->faults->Status("GetObject", Narrow(path));
    if (hr == status::kOk) hr = Lookup(path, object);
    if (hr < 0) LeaveError(*world_, L"GetObject", path, hr);
    return hr;
  }

  HResult ExecMethod(std::wstring_view objectPath, std::wstring_view method,
                     const ObjectPtr& inParams, ObjectPtr* outParams) override {
    if (outParams != nullptr) outParams->reset();
    MethodCall call;
    call.objectPath = std::wstring(objectPath);
    call.in = inParams;
    HResult hr = status::kOk;
    if (!ParseObjectPath(objectPath, &call.className, &call.keyName, &call.keyValue)) {
      hr = status::kWbemInvalidObject;
    } else {
      hr = world_->faults->Status("ExecMethod",
                                  Narrow(call.keyValue.empty() ? call.className : call.keyValue),
                                  Narrow(method));
    }
    if (hr == status::kOk) hr = Dispatch(call, method, outParams);
    if (hr < 0) LeaveError(*world_, L"ExecMethod", method, hr);
    return hr;
  }

  HResult ExecNotificationQueryAsync(std::wstring_view language, std::wstring_view query, int32_t,
                                     const wmi::EventSinkPtr& sink) override;
  HResult CancelAsyncCall(const wmi::EventSinkPtr& sink) override;

  HResult QueryBlanket(uint32_t* authn, uint32_t* imp) override {
    return proxy_.Query(*world_, authn, imp);
  }
  HResult SetBlanket(const wmi::Blanket& blanket) override { return proxy_.Set(*world_, blanket); }

 private:
  HResult Lookup(std::wstring_view path, ObjectPtr* object);
  HResult Dispatch(const MethodCall& call, std::wstring_view method, ObjectPtr* outParams);
  void StopEvents();

  std::shared_ptr<WmiWorld> world_;
  std::shared_ptr<Repository> machine_;
  Namespace* ns_;
  SimProxy proxy_;
  struct Delivery {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopped = false;
  };
  struct Subscription {
    std::thread thread;
    std::shared_ptr<Delivery> delivery;
  };
  static void Stop(Subscription& subscription);
  std::mutex subscriptionsMutex_;
  std::map<wmi::EventSink*, Subscription> subscriptions_;
};

HResult SimServices::Lookup(std::wstring_view path, ObjectPtr* object) {
  std::wstring className, keyName, keyValue;
  if (!ParseObjectPath(path, &className, &keyName, &keyValue)) return status::kWbemInvalidObject;
  if (keyName.empty() && path.find(L'=') == std::wstring_view::npos) {
    *object = ns_->ClassObject(className);
    return *object ? status::kOk : status::kWbemNotFound;
  }
  auto instances = ns_->Instances(className);
  if (!instances) return status::kWbemInvalidClass;
  for (size_t i = 0; i < instances->Size(); ++i) {
    ObjectPtr instance = instances->At(i);
    Value value;
    if (keyName.empty() ||
        (ReadOwn(*instance, keyName, &value) == status::kOk && KeyText(value) == keyValue)) {
      *object = instance;
      return status::kOk;
    }
  }
  return status::kWbemNotFound;
}

HResult SimServices::Dispatch(const MethodCall& call, std::wstring_view method,
                              ObjectPtr* outParams) {
  auto def = ns_->FindClass(call.className);
  if (!def) return status::kWbemInvalidClass;
  const MethodDef* methodDef = def->FindMethod(method);
  if (methodDef == nullptr) return status::kWbemInvalidMethod;
  const MethodHandler* handler = ns_->FindMethodHandler(call.className, method);
  if (handler == nullptr) return status::kWbemNotSupported;
  ObjectPtr out;
  HResult hr = (*handler)(call, &out);
  if (outParams != nullptr) *outParams = std::move(out);
  return hr;
}

// Delivers the machine's instances of the queried class to the sink on a
// thread of its own, as WMI calls sinks on its threads, each after its
// delay. The thread waits on a condition, so a cancellation ends the wait
// at once.
HResult SimServices::ExecNotificationQueryAsync(std::wstring_view language, std::wstring_view query,
                                                int32_t, const wmi::EventSinkPtr& sink) {
  HResult hr = world_->faults->Status("ExecNotificationQueryAsync");
  std::optional<InstanceList> events;
  std::wstring className;
  if (hr == status::kOk && (language != L"WQL" || !sink)) hr = status::kWbemInvalidParameter;
  if (hr == status::kOk) {
    auto from = query.find(L"FROM ");
    if (from == std::wstring_view::npos) {
      hr = status::kWbemInvalidQuery;
    } else {
      className = std::wstring(query.substr(from + 5));
      while (!className.empty() && className.back() == L' ') className.pop_back();
      events = ns_->Instances(className);
      if (!events) hr = status::kWbemInvalidClass;
    }
  }
  if (hr != status::kOk) {
    if (hr < 0) LeaveError(*world_, L"ExecNotificationQueryAsync", query, hr);
    return hr;
  }
  auto delivery = std::make_shared<Delivery>();
  std::thread thread([sink, delivery, list = events->All(), delays = ns_->EventDelays(className)] {
    for (size_t i = 0; i < list.size(); ++i) {
      const auto delay = std::chrono::milliseconds(i < delays.size() ? delays[i] : 0);
      {
        std::unique_lock<std::mutex> lock(delivery->mutex);
        if (delivery->wake.wait_for(lock, delay, [&] { return delivery->stopped; })) return;
      }
      // Outside the lock: the cancellation waits for this delivery to end.
      sink->Indicate({list[i]});
    }
  });
  Subscription earlier;  // the same sink subscribed again: its first deliveries end
  {
    std::lock_guard<std::mutex> lock(subscriptionsMutex_);
    Subscription& slot = subscriptions_[sink.get()];
    earlier = std::move(slot);
    slot = Subscription{std::move(thread), std::move(delivery)};
  }
  if (earlier.delivery) Stop(earlier);
  return status::kOk;
}

// Ends a subscription's deliveries; when it returns, no event is
// delivered any more.
void SimServices::Stop(Subscription& subscription) {
  {
    std::lock_guard<std::mutex> lock(subscription.delivery->mutex);
    subscription.delivery->stopped = true;
  }
  subscription.delivery->wake.notify_all();
  if (subscription.thread.joinable()) subscription.thread.join();
}

HResult SimServices::CancelAsyncCall(const wmi::EventSinkPtr& sink) {
  Subscription subscription;
  {
    std::lock_guard<std::mutex> lock(subscriptionsMutex_);
    auto it = subscriptions_.find(sink.get());
    if (it == subscriptions_.end()) return status::kWbemNotFound;
    subscription = std::move(it->second);
    subscriptions_.erase(it);
  }
  Stop(subscription);
  sink->SetStatus(0, status::kOk, nullptr, nullptr);
  return status::kOk;
}

void SimServices::StopEvents() {
  std::lock_guard<std::mutex> lock(subscriptionsMutex_);
  for (auto& [sink, subscription] : subscriptions_) Stop(subscription);
  subscriptions_.clear();
}

class SimLocator : public wmi::Locator {
 public:
  explicit SimLocator(std::shared_ptr<WmiWorld> world) : world_(std::move(world)) {}

  HResult ConnectServer(std::wstring_view resource, const std::wstring* user,
                        const std::wstring* password, wmi::ServicesPtr* services) override {
    services->reset();
    HResult hr = world_->faults->Status("ConnectServer", Narrow(resource));
    if (hr == status::kOk) hr = Connect(resource, user, password, services);
    // Refusals of the machine or of the credentials come from the transport
    // and the client before any WMI service is reached: no error object.
    const bool refusedBeforeWmi = hr == status::kAccessDenied ||
                                  hr == status::kRpcServerUnavailable ||
                                  hr == status::kWbemLocalCredentials;
    if (hr < 0 && !refusedBeforeWmi) LeaveError(*world_, L"ConnectServer", resource, hr);
    return hr;
  }

 private:
  // "\\HOST\namespace" reaches HOST; a plain namespace, ".", "localhost"
  // and the machine's own name reach this machine, which refuses
  // credentials as WMI does for local connections.
  HResult Connect(std::wstring_view resource, const std::wstring* user,
                  const std::wstring* password, wmi::ServicesPtr* services) {
    std::wstring_view name = resource;
    std::wstring_view host;
    if (name.size() > 2 && name[0] == L'\\' && name[1] == L'\\') {
      auto slash = name.find(L'\\', 2);
      if (slash == std::wstring_view::npos) return status::kWbemInvalidNamespace;
      host = name.substr(2, slash - 2);
      name = name.substr(slash + 1);
    }
    Repository* repository = world_->repository;
    std::shared_ptr<Repository> remote;
    if (IsLocal(host)) {
      if (user != nullptr && !user->empty()) return status::kWbemLocalCredentials;
    } else {
      auto it = world_->remotes.find(host);
      if (it == world_->remotes.end()) return status::kRpcServerUnavailable;
      const RemoteMachine& machine = it->second;
      if (machine.user && (user == nullptr || !SameName(*user, *machine.user) ||
                           password == nullptr || *password != machine.password)) {
        return status::kAccessDenied;
      }
      remote = machine.repository;
      repository = remote.get();
    }
    Namespace* ns = repository->Find(name);
    if (ns == nullptr) return status::kWbemInvalidNamespace;
    *services = std::make_shared<SimServices>(world_, ns, std::move(remote));
    return status::kOk;
  }

  static bool IsLocal(std::wstring_view host) {
    return host.empty() || host == L"." || SameName(host, L"localhost") ||
           SameName(host, kLocalServer);
  }

  std::shared_ptr<WmiWorld> world_;
};

class SimRuntime : public wmi::Runtime {
 public:
  explicit SimRuntime(std::shared_ptr<WmiWorld> world) : world_(std::move(world)) {}

  HResult Initialize() override { return world_->faults->Status("CoInitializeEx"); }
  // The program's set-up asks for impersonation, which every proxy made
  // afterwards carries.
  HResult InitializeSecurity() override {
    HResult hr = world_->faults->Status("CoInitializeSecurity");
    if (hr == status::kOk) world_->processImpLevel = kImpersonate;
    return hr;
  }
  HResult CreateLocator(wmi::LocatorPtr* locator) override {
    locator->reset();
    HResult hr = world_->faults->Status("CoCreateInstance", "WbemLocator");
    if (hr == status::kOk) *locator = std::make_shared<SimLocator>(world_);
    return hr;
  }
  HResult CreateSinkStub(const wmi::EventSinkPtr& sink, wmi::EventSinkPtr* stub) override {
    stub->reset();
    HResult hr = world_->faults->Status("CoCreateInstance", "UnsecuredApartment");
    if (hr == status::kOk) hr = world_->faults->Status("CreateObjectStub");
    if (hr == status::kOk) *stub = sink;
    return hr;
  }
  ObjectPtr TakeErrorObject() override {
    std::lock_guard<std::mutex> lock(world_->errorMutex);
    return std::exchange(world_->lastError, nullptr);
  }
  void Uninitialize() override {}

 private:
  std::shared_ptr<WmiWorld> world_;
};

}  // namespace

std::unique_ptr<wmi::Runtime> MakeRuntime(std::shared_ptr<WmiWorld> world) {
  return std::make_unique<SimRuntime>(std::move(world));
}

bool ParseObjectPath(std::wstring_view path, std::wstring* className, std::wstring* keyName,
                     std::wstring* keyValue) {
  className->clear();
  keyName->clear();
  keyValue->clear();
  auto colon = path.find(L':');
  if (colon != std::wstring_view::npos) path = path.substr(colon + 1);
  auto dot = path.find(L'.');
  auto equals = path.find(L'=');
  if (dot == std::wstring_view::npos || (equals != std::wstring_view::npos && equals < dot)) {
    *className = std::wstring(path.substr(0, equals));
    if (equals == std::wstring_view::npos) return !className->empty();
    return path.substr(equals) == L"=@" && !className->empty();
  }
  *className = std::wstring(path.substr(0, dot));
  std::wstring_view rest = path.substr(dot + 1);
  equals = rest.find(L'=');
  if (className->empty() || equals == std::wstring_view::npos || equals == 0) return false;
  *keyName = std::wstring(rest.substr(0, equals));
  std::wstring_view value = rest.substr(equals + 1);
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
    value = value.substr(1, value.size() - 2);
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == L'\\' && i + 1 < value.size()) ++i;
      keyValue->push_back(value[i]);
    }
    return true;
  }
  if (value.empty()) return false;
  *keyValue = std::wstring(value);
  return true;
}

}  // namespace platform::sim
