// Windows only: conversion between the seam's Value and the VARIANT that
// WMI reads and writes.
#pragma once

#include "platform/win32/windows_api.h"
#include "platform/wmi.h"

namespace platform::win32 {

/// The Value of a VARIANT. Every scalar type of wmi::vt and one-dimensional
/// arrays of them (VT_VARIANT elements included) are converted; objects
/// become wmi::Object wrappers (null when the interface is no
/// IWbemClassObject); a null BSTR gives an empty text. Any other VARIANT
/// (by-reference values, arrays of several dimensions or of a layout that
/// does not match their type, unknown types) gives a Value that carries
/// only its type, so that nothing unexpected is ever dereferenced.
wmi::Value ToValue(const VARIANT& variant);

/// Fills `out` (an initialised VARIANT that holds nothing) with `value`.
/// Objects must come from this backend and are stored as their IUnknown
/// (IDispatch for VT_DISPATCH). kWbemTypeMismatch for a type that has no
/// VARIANT form here, kWbemInvalidParameter for an object of another
/// backend; on failure `out` holds nothing. Ends the process when out of
/// memory.
HResult ToVariant(const wmi::Value& value, VARIANT* out);

}  // namespace platform::win32
