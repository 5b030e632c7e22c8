#include "dsm/wmi_connection.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/machine.h"

namespace dsm {
namespace {

namespace wmi = platform::wmi;
using platform::Failed;

constexpr std::wstring_view kMethodClass = L"ORNDSM_WMI_METHODS";

// What a driver's data block without any instance enumerates as: Windows
// refuses to enumerate such a block (WBEM_E_NOT_SUPPORTED) where a class
// of no instances gives an empty list, and the commands mean the same.
class NoInstances : public wmi::Enumerator {
 public:
  HResult Next(int32_t, ObjectPtr* object, uint32_t* returned) override {
    object->reset();
    *returned = 0;
    return platform::status::kWbemSFalse;
  }
  HResult QueryBlanket(uint32_t* authnLevel, uint32_t* impLevel) override {
    *authnLevel = blanket_.authnLevel;
    *impLevel = blanket_.impLevel;
    return platform::status::kOk;
  }
  HResult SetBlanket(const wmi::Blanket& blanket) override {
    blanket_ = blanket;
    return platform::status::kOk;
  }

 private:
  wmi::Blanket blanket_;
};

ConnectFailure& MutableConnectFailure() {
  static ConnectFailure failure;
  return failure;
}

// "<message>0x<code>" with the code as unsigned 32-bit lower-case hex; the
// step is kept for the commands that report failures in a format of their
// own.
void ReportFailure(platform::Output& out, std::string_view step, std::string_view message,
                   HResult hr) {
  MutableConnectFailure() = {std::string(step), hr};
  char code[16];
  std::snprintf(code, sizeof code, "%x", static_cast<unsigned>(static_cast<uint32_t>(hr)));
  out.Line(std::string(message) + "0x" + code);
}

}  // namespace

const ConnectFailure& LastConnectFailure() { return MutableConnectFailure(); }

wmi::LocatorPtr& WmiLocator() {
  static wmi::LocatorPtr locator;
  return locator;
}

wmi::ServicesPtr& WmiServices() {
  static wmi::ServicesPtr services;
  return services;
}

int ConnectWmi(platform::Output& out) {
  MutableConnectFailure() = {};
  wmi::Runtime& runtime = platform::CurrentMachine().Wmi();
  HResult hr = runtime.Initialize();
  if (Failed(hr)) {
    ReportFailure(out, "CoInitializeEx", "Failed to initialize COM library. Error code = ", hr);
    return 1;
  }
  hr = runtime.InitializeSecurity();
  if (Failed(hr)) {
    ReportFailure(out, "CoInitializeSecurity", "Failed to initialize security. Error code = ", hr);
    runtime.Uninitialize();
    return 1;
  }
  wmi::LocatorPtr locator;
  hr = runtime.CreateLocator(&locator);
  // A success code that comes without the object is a failure all the same.
  if (Failed(hr) || !locator) {
    ReportFailure(out, "CoCreateInstance", "Failed to create IWbemLocator object. Err code = ", hr);
    runtime.Uninitialize();
    return 1;
  }
  wmi::ServicesPtr services;
  hr = locator->ConnectServer(L"ROOT\\WMI", nullptr, nullptr, &services);
  if (Failed(hr) || !services) {
    ReportFailure(out, "ConnectServer", "Could not connect. Error code = ", hr);
    locator.reset();
    runtime.Uninitialize();
    return 1;
  }
  wmi::Blanket blanket;
  blanket.authnLevel = 3;  // RPC_C_AUTHN_LEVEL_CALL
  blanket.impLevel = 3;    // RPC_C_IMP_LEVEL_IMPERSONATE
  hr = services->SetBlanket(blanket);
  if (Failed(hr)) {
    ReportFailure(out, "CoSetProxyBlanket", "Could not set proxy blanket. Error code = ", hr);
    services.reset();
    locator.reset();
    runtime.Uninitialize();
    return 1;
  }
  WmiLocator() = std::move(locator);
  WmiServices() = std::move(services);
  return 0;
}

HResult OpenEnumeration(std::wstring_view className, EnumeratorPtr* enumerator) {
  // Reached before a connection only by a bug; fail instead of crashing.
  if (!WmiServices()) return platform::status::kFail;
  HResult hr = WmiServices()->CreateInstanceEnum(className, wmi::kFlagShallow, enumerator);
  // Only the refusal of the enumeration itself stands for "no instance"; a
  // failing Next later stays a failure.
  if (hr == platform::status::kWbemNotSupported) {
    *enumerator = std::make_shared<NoInstances>();
    return platform::status::kOk;
  }
  return hr;
}

HResult EnumerateInstances(std::wstring_view className,
                           const std::function<void(const ObjectPtr&)>& visitor) {
  EnumeratorPtr enumerator;
  HResult hr = OpenEnumeration(className, &enumerator);
  if (Failed(hr)) return hr;
  // A success that comes without an enumerator leaves nothing to walk.
  if (!enumerator) return platform::status::kFail;
  while (true) {
    ObjectPtr object;
    uint32_t returned = 0;
    // A failing Next ends the walk like the end of the list.
    if (Failed(enumerator->Next(wmi::kInfinite, &object, &returned)) || returned == 0) break;
    if (object) visitor(object);
  }
  return hr;
}

std::wstring MethodObjectPath(std::wstring_view instanceName) {
  std::wstring path = std::wstring(kMethodClass) + L".InstanceName=\"";
  for (wchar_t c : instanceName) {
    path.push_back(c);
    if (c == L'\\') path.push_back(c);
  }
  path.push_back(L'"');
  return path;
}

HResult SpawnParameters(std::wstring_view methodName, ObjectPtr* inParams) {
  if (!WmiServices()) return platform::status::kFail;
  ObjectPtr methodClass;
  HResult hr = WmiServices()->GetObject(kMethodClass, 0, &methodClass);
  if (Failed(hr)) return hr;
  if (!methodClass) return platform::status::kFail;  // a success code without the class
  ObjectPtr inClass;
  hr = methodClass->GetMethod(methodName, &inClass);
  if (Failed(hr)) return hr;
  // A method without input has no signature to spawn from.
  if (!inClass) return platform::status::kWbemInvalidMethodParameters;
  return inClass->SpawnInstance(inParams);
}

HResult ExecDsmMethod(std::wstring_view objectPath, std::wstring_view methodName,
                      const ObjectPtr& inParams, ObjectPtr* outParams) {
  if (!WmiServices()) return platform::status::kFail;
  return WmiServices()->ExecMethod(objectPath, methodName, inParams, outParams);
}

}  // namespace dsm
