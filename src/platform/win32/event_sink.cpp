// Windows only: the COM event sink that WMI calls, and the unsecured
// apartment's stub around it.
#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/win32/com_wmi.h"

namespace platform::win32 {
namespace {

// An IWbemObjectSink that hands what WMI delivers, on WMI's threads, to a
// wmi::EventSink. Lives on the heap and deletes itself on its last
// Release. COM interfaces have no virtual destructor: objects end through
// Release, never through a base pointer, hence the pragma.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ForwardingSink final : public IWbemObjectSink {
 public:
  explicit ForwardingSink(wmi::EventSinkPtr target) : target_(std::move(target)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemObjectSink)) {
      *ppv = static_cast<IWbemObjectSink*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }

  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override {
    if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
    // No exception may unwind into WMI's frames.
    try {
      // A null entry carries no event: the program's sink never sees one.
      std::vector<wmi::ObjectPtr> events;
      events.reserve(static_cast<size_t>(count));
      for (LONG i = 0; i < count; ++i) {
        if (objects[i] != nullptr) events.push_back(WrapObject(objects[i]));
      }
      if (events.empty()) return WBEM_S_NO_ERROR;
      return target_->Indicate(events);
    } catch (const std::bad_alloc&) {
      FatalOutOfMemory();
    } catch (...) {
      return WBEM_E_FAILED;
    }
  }

  HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR param,
                                      IWbemClassObject* object) override {
    try {
      const std::wstring text = Bstr::ToText(param);
      return target_->SetStatus(flags, result, param != nullptr ? &text : nullptr,
                                WrapObject(object));
    } catch (const std::bad_alloc&) {
      FatalOutOfMemory();
    } catch (...) {
      return WBEM_E_FAILED;
    }
  }

 private:
  ~ForwardingSink() = default;

  std::atomic<LONG> refs_{0};
  wmi::EventSinkPtr target_;
};
#pragma GCC diagnostic pop

// The stub of the unsecured apartment, seen from the program: WMI calls
// its COM interface, which reaches `target` through the forwarder. Called
// directly, it forwards as well.
class ApartmentStub final : public wmi::EventSink {
 public:
  ApartmentStub(ComPtr<IUnsecuredApartment> apartment, ComPtr<IUnknown> stub,
                ComPtr<IWbemObjectSink> stubSink, wmi::EventSinkPtr target)
      : apartment_(std::move(apartment)),
        stub_(std::move(stub)),
        stubSink_(std::move(stubSink)),
        target_(std::move(target)) {}

  ~ApartmentStub() override {
    // The order in which the listener lets go of them.
    apartment_.Reset();
    stub_.Reset();
    target_.reset();
    stubSink_.Reset();
  }

  IWbemObjectSink* Interface() const { return stubSink_.Get(); }

  HResult Indicate(const std::vector<wmi::ObjectPtr>& objects) override {
    return target_->Indicate(objects);
  }

  HResult SetStatus(int32_t flags, HResult result, const std::wstring* param,
                    const wmi::ObjectPtr& object) override {
    return target_->SetStatus(flags, result, param, object);
  }

 private:
  ComPtr<IUnsecuredApartment> apartment_;
  ComPtr<IUnknown> stub_;
  ComPtr<IWbemObjectSink> stubSink_;
  wmi::EventSinkPtr target_;
};

}  // namespace

ComPtr<IWbemObjectSink> MakeForwardingSink(const wmi::EventSinkPtr& target) {
  auto* sink = new ForwardingSink(target);
  return ComPtr<IWbemObjectSink>::Share(sink);
}

HResult CreateApartmentStub(const wmi::EventSinkPtr& sink, wmi::EventSinkPtr* stub) {
  if (stub == nullptr) return status::kWbemInvalidParameter;
  *stub = nullptr;
  if (sink == nullptr) return status::kWbemInvalidParameter;
  ComPtr<IUnsecuredApartment> apartment;
  HRESULT hr = CoCreateInstance(CLSID_UnsecuredApartment, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_IUnsecuredApartment, apartment.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IWbemObjectSink> forwarder = MakeForwardingSink(sink);
  ComPtr<IUnknown> stubObject;
  hr = apartment->CreateObjectStub(forwarder.Get(), stubObject.Put());
  if (FAILED(hr)) return hr;
  ComPtr<IWbemObjectSink> stubSink;
  hr = stubObject.As(IID_IWbemObjectSink, &stubSink);
  if (FAILED(hr)) return hr;
  *stub = std::make_shared<ApartmentStub>(std::move(apartment), std::move(stubObject),
                                          std::move(stubSink), sink);
  return hr;
}

IWbemObjectSink* StubInterface(const wmi::EventSinkPtr& sink) {
  const auto* stub = dynamic_cast<const ApartmentStub*>(sink.get());
  return stub == nullptr ? nullptr : stub->Interface();
}

}  // namespace platform::win32
