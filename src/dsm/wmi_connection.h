// The process-wide WMI connection to ROOT\WMI and the few operations every
// DSM command repeats: enumerate a class, name the DSM's method object,
// build input parameters, execute a method.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/output.h"
#include "platform/wmi.h"

namespace dsm {

using platform::HResult;
using platform::wmi::EnumeratorPtr;
using platform::wmi::ObjectPtr;

/// The process-wide locator and services; null until ConnectWmi succeeded.
platform::wmi::LocatorPtr& WmiLocator();
platform::wmi::ServicesPtr& WmiServices();

/// Initialises COM, process security, the locator, the connection to
/// ROOT\WMI and its proxy blanket, in that order. 0 on success; 1 after
/// one failure message on `out`.
int ConnectWmi(platform::Output& out);

/// A failed step of ConnectWmi ("CoInitializeEx", "CoInitializeSecurity",
/// "CoCreateInstance", "ConnectServer", "CoSetProxyBlanket") and its status.
struct ConnectFailure {
  std::string step;
  HResult status = 0;
};

/// The failure of this process's last ConnectWmi; an empty step when it
/// succeeded or none was made.
const ConnectFailure& LastConnectFailure();

/// A shallow instance enumerator of `className` on WmiServices. A class
/// whose enumeration is refused with WBEM_E_NOT_SUPPORTED (a driver's data
/// block that has no instance) gives an empty enumerator and 0.
HResult OpenEnumeration(std::wstring_view className, EnumeratorPtr* enumerator);

/// Hands each instance of `className` to `visitor`, one at a time, until
/// the enumerator gives none. Returns the status of the enumerator's
/// creation (0 = success), or kFail when it succeeded without giving one.
HResult EnumerateInstances(std::wstring_view className,
                           const std::function<void(const ObjectPtr&)>& visitor);

/// ORNDSM_WMI_METHODS.InstanceName="<name with backslashes doubled>".
std::wstring MethodObjectPath(std::wstring_view instanceName);

/// The input-parameter object of a method of ORNDSM_WMI_METHODS
/// (GetObject of the class, GetMethod, SpawnInstance).
HResult SpawnParameters(std::wstring_view methodName, ObjectPtr* inParams);

/// ExecMethod on WmiServices; `outParams` may be null.
HResult ExecDsmMethod(std::wstring_view objectPath, std::wstring_view methodName,
                      const ObjectPtr& inParams, ObjectPtr* outParams);

}  // namespace dsm
