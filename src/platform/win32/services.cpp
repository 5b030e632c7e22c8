// Windows only: wmi::Locator, wmi::Services and wmi::Enumerator over the
// WMI interfaces, with their proxy security.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/com_wmi.h"

namespace platform::win32 {
namespace {

// The identity a proxy authenticates with. COM keeps the pointer it is
// given, so the record and its texts live as long as the proxy wrapper.
struct Identity {
  std::wstring user;
  std::wstring domain;
  std::wstring password;
  SEC_WINNT_AUTH_IDENTITY_W record{};
};

// The identity record as the x64 SDK lays it out: COM reads it through
// the pointer given, so a wrong layout would send wrong credentials, and
// Wine cannot show it (it never authenticates a remote proxy).
#ifdef _WIN64
static_assert(sizeof(SEC_WINNT_AUTH_IDENTITY_W) == 48);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, User) == 0);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, UserLength) == 8);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, Domain) == 16);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, DomainLength) == 24);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, Password) == 32);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, PasswordLength) == 40);
static_assert(offsetof(SEC_WINNT_AUTH_IDENTITY_W, Flags) == 44);
#endif
static_assert(SEC_WINNT_AUTH_IDENTITY_UNICODE == 2);
static_assert(RPC_C_AUTHN_WINNT == 10 && RPC_C_AUTHZ_NONE == 0);
static_assert(RPC_C_IMP_LEVEL_IDENTIFY == 2 && RPC_C_IMP_LEVEL_IMPERSONATE == 3);

unsigned short* TextOrNull(std::wstring& text) {
  return text.empty() ? nullptr : reinterpret_cast<unsigned short*>(text.data());
}

// The security blanket of one proxy.
class BlanketKeeper {
 public:
  HResult Query(IUnknown* proxy, uint32_t* authnLevel, uint32_t* impLevel) const {
    if (proxy == nullptr || authnLevel == nullptr || impLevel == nullptr) {
      return status::kWbemInvalidParameter;
    }
    ComPtr<IClientSecurity> security;
    HRESULT hr = proxy->QueryInterface(IID_IClientSecurity, security.PutVoid());
    if (FAILED(hr)) return hr;
    DWORD authn = 0;
    DWORD imp = 0;
    hr = security->QueryBlanket(proxy, nullptr, nullptr, nullptr, &authn, &imp, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      *authnLevel = authn;
      *impLevel = imp;
    }
    return hr;
  }

  static HRESULT Apply(IUnknown* proxy, const wmi::Blanket& blanket,
                       SEC_WINNT_AUTH_IDENTITY_W* identity) {
    return CoSetProxyBlanket(proxy, blanket.authnService, blanket.authzService, nullptr,
                             blanket.authnLevel, blanket.impLevel, identity, blanket.capabilities);
  }

  HResult Set(IUnknown* proxy, const wmi::Blanket& blanket) {
    std::unique_ptr<Identity> identity;
    if (blanket.withIdentity) {
      identity = std::make_unique<Identity>();
      identity->user = blanket.user;
      identity->domain = blanket.domain;
      identity->password = blanket.password;
      SEC_WINNT_AUTH_IDENTITY_W& r = identity->record;
      r.User = TextOrNull(identity->user);
      r.UserLength = static_cast<ULONG>(identity->user.size());
      r.Domain = TextOrNull(identity->domain);
      r.DomainLength = static_cast<ULONG>(identity->domain.size());
      r.Password = TextOrNull(identity->password);
      r.PasswordLength = static_cast<ULONG>(identity->password.size());
      r.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    }
    SEC_WINNT_AUTH_IDENTITY_W* record = identity ? &identity->record : nullptr;
    HRESULT hr = Apply(proxy, blanket, record);
    if (FAILED(hr)) return hr;
    // The proxy took the new record: COM keeps using it through the
    // pointer given, so it is kept, and the one it replaced let go.
    identity_ = std::move(identity);
    if (record == nullptr) return hr;
    // With explicit credentials the proxy's IUnknown gets the same blanket,
    // or its own QueryInterface and Release calls would go out under the
    // process's identity, which the remote machine may refuse.
    ComPtr<IUnknown> unknown;
    hr = proxy->QueryInterface(IID_IUnknown, unknown.PutVoid());
    if (SUCCEEDED(hr)) hr = Apply(unknown.Get(), blanket, record);
    return hr;
  }

 private:
  std::unique_ptr<Identity> identity_;
};

class ComEnumerator final : public wmi::Enumerator {
 public:
  explicit ComEnumerator(ComPtr<IEnumWbemClassObject> enumerator)
      : enumerator_(std::move(enumerator)) {}

  HResult Next(int32_t timeout, wmi::ObjectPtr* object, uint32_t* returned) override {
    if (object == nullptr || returned == nullptr) return status::kWbemInvalidParameter;
    *object = nullptr;
    ComPtr<IWbemClassObject> raw;
    ULONG count = 0;
    HRESULT hr = enumerator_->Next(timeout, 1, raw.Put(), &count);
    *returned = count;
    if (count > 0) *object = WrapObject(raw.Get());
    return hr;
  }

  HResult QueryBlanket(uint32_t* authnLevel, uint32_t* impLevel) override {
    return blanket_.Query(enumerator_.Get(), authnLevel, impLevel);
  }

  HResult SetBlanket(const wmi::Blanket& blanket) override {
    return blanket_.Set(enumerator_.Get(), blanket);
  }

 private:
  ComPtr<IEnumWbemClassObject> enumerator_;
  BlanketKeeper blanket_;
};

class ComServices final : public wmi::Services {
 public:
  explicit ComServices(ComPtr<IWbemServices> services) : services_(std::move(services)) {}

  HResult CreateInstanceEnum(std::wstring_view className, int32_t flags,
                             wmi::EnumeratorPtr* enumerator) override {
    Bstr name(className);
    ComPtr<IEnumWbemClassObject> raw;
    HRESULT hr = services_->CreateInstanceEnum(name.Get(), flags, nullptr, raw.Put());
    if (enumerator != nullptr) {
      *enumerator =
          SUCCEEDED(hr) && raw ? std::make_shared<ComEnumerator>(std::move(raw)) : nullptr;
    }
    return hr;
  }

  HResult GetObject(std::wstring_view path, int32_t flags, wmi::ObjectPtr* object) override {
    Bstr name(path);
    ComPtr<IWbemClassObject> raw;
    HRESULT hr = services_->GetObject(name.Get(), flags, nullptr, raw.Put(), nullptr);
    if (object != nullptr) *object = SUCCEEDED(hr) ? WrapObject(raw.Get()) : nullptr;
    return hr;
  }

  HResult ExecMethod(std::wstring_view objectPath, std::wstring_view method,
                     const wmi::ObjectPtr& inParams, wmi::ObjectPtr* outParams) override {
    IWbemClassObject* in = RawObject(inParams);
    if (inParams != nullptr && in == nullptr) return status::kWbemInvalidParameter;
    Bstr path(objectPath);
    Bstr name(method);
    ComPtr<IWbemClassObject> out;
    HRESULT hr = services_->ExecMethod(path.Get(), name.Get(), 0, nullptr, in,
                                       outParams != nullptr ? out.Put() : nullptr, nullptr);
    if (outParams != nullptr) *outParams = WrapObject(out.Get());
    return hr;
  }

  HResult ExecNotificationQueryAsync(std::wstring_view language, std::wstring_view query,
                                     int32_t flags, const wmi::EventSinkPtr& sink) override;
  HResult CancelAsyncCall(const wmi::EventSinkPtr& sink) override;

  HResult QueryBlanket(uint32_t* authnLevel, uint32_t* impLevel) override {
    return blanket_.Query(services_.Get(), authnLevel, impLevel);
  }

  HResult SetBlanket(const wmi::Blanket& blanket) override {
    return blanket_.Set(services_.Get(), blanket);
  }

 private:
  using Subscription = std::pair<wmi::EventSinkPtr, ComPtr<IWbemObjectSink>>;

  ComPtr<IWbemServices> services_;
  BlanketKeeper blanket_;
  // The COM sink WMI was given for each subscribed EventSink, so that
  // cancelling names the same one.
  std::mutex mutex_;
  std::vector<Subscription> subscriptions_;
};

HResult ComServices::ExecNotificationQueryAsync(std::wstring_view language, std::wstring_view query,
                                                int32_t flags, const wmi::EventSinkPtr& sink) {
  if (sink == nullptr) return status::kWbemInvalidParameter;
  // A stub of the unsecured apartment brings its own COM sink; any other
  // sink is called in-process through a forwarder.
  auto com = ComPtr<IWbemObjectSink>::Share(StubInterface(sink));
  if (!com) com = MakeForwardingSink(sink);
  Bstr lang(language);
  Bstr text(query);
  HRESULT hr =
      services_->ExecNotificationQueryAsync(lang.Get(), text.Get(), flags, nullptr, com.Get());
  if (SUCCEEDED(hr)) {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.emplace_back(sink, std::move(com));
  }
  return hr;
}

HResult ComServices::CancelAsyncCall(const wmi::EventSinkPtr& sink) {
  if (sink == nullptr) return status::kWbemInvalidParameter;
  ComPtr<IWbemObjectSink> com;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                           [&](const Subscription& s) { return s.first == sink; });
    if (it != subscriptions_.end()) com = it->second;
  }
  // Never subscribed here: WMI still judges a stub; a plain sink it has
  // never seen.
  if (!com) com = ComPtr<IWbemObjectSink>::Share(StubInterface(sink));
  if (!com) return status::kWbemInvalidParameter;
  HRESULT hr = services_->CancelAsyncCall(com.Get());
  if (SUCCEEDED(hr)) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                           [&](const Subscription& s) { return s.second.Get() == com.Get(); });
    if (it != subscriptions_.end()) subscriptions_.erase(it);
  }
  return hr;
}

class ComLocator final : public wmi::Locator {
 public:
  explicit ComLocator(ComPtr<IWbemLocator> locator) : locator_(std::move(locator)) {}

  HResult ConnectServer(std::wstring_view resource, const std::wstring* user,
                        const std::wstring* password, wmi::ServicesPtr* services) override {
    Bstr path(resource);
    Bstr userText = Bstr::OrNull(user);
    Bstr passwordText = Bstr::OrNull(password);
    ComPtr<IWbemServices> raw;
    HRESULT hr = locator_->ConnectServer(path.Get(), userText.Get(), passwordText.Get(), nullptr, 0,
                                         nullptr, nullptr, raw.Put());
    if (services != nullptr) {
      *services = SUCCEEDED(hr) && raw ? std::make_shared<ComServices>(std::move(raw)) : nullptr;
    }
    return hr;
  }

 private:
  ComPtr<IWbemLocator> locator_;
};

}  // namespace

wmi::LocatorPtr WrapLocator(ComPtr<IWbemLocator> locator) {
  return std::make_shared<ComLocator>(std::move(locator));
}

}  // namespace platform::win32
