// Windows only: the COM runtime and the real machine.
#include <memory>

#include "platform/win32/com_wmi.h"
#include "platform/win32/devices.h"
#include "platform/win32/registry.h"
#include "platform/win32/setup_api.h"
#include "platform/win32/win32_machine.h"

namespace platform::win32 {
namespace {

class ComRuntime final : public wmi::Runtime {
 public:
  HResult Initialize() override { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

  HResult InitializeSecurity() override {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  }

  HResult CreateLocator(wmi::LocatorPtr* locator) override {
    if (locator == nullptr) return status::kWbemInvalidParameter;
    ComPtr<IWbemLocator> raw;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWbemLocator, raw.PutVoid());
    *locator = SUCCEEDED(hr) && raw ? WrapLocator(std::move(raw)) : nullptr;
    return hr;
  }

  HResult CreateSinkStub(const wmi::EventSinkPtr& sink, wmi::EventSinkPtr* stub) override {
    return CreateApartmentStub(sink, stub);
  }

  wmi::ObjectPtr TakeErrorObject() override {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return nullptr;
    ComPtr<IWbemClassObject> object;
    if (FAILED(info.As(IID_IWbemClassObject, &object))) return nullptr;
    return WrapObject(object.Get());
  }

  void Uninitialize() override { CoUninitialize(); }
};

class Win32Machine final : public Machine {
 public:
  wmi::Runtime& Wmi() override { return runtime_; }
  Registry& Reg() override { return RealRegistry(); }
  DeviceIo& Devices() override { return RealDevices(); }
  DeviceSetup& Setup() override { return RealDeviceSetup(); }
  System& Sys() override { return RealSystem(); }

 private:
  ComRuntime runtime_;
};

}  // namespace

std::unique_ptr<Machine> OpenMachine() { return std::make_unique<Win32Machine>(); }

}  // namespace platform::win32
