// The VARIANT types WMI hands out for each CIM type, and the conversions
// IWbemClassObject::Put makes from the VARIANT a caller puts into a
// property of a given CIM type (docs/wmi_values.md has the table).
#pragma once

#include <cstdint>

#include "platform/status.h"
#include "platform/wmi.h"

namespace platform::sim {

/// The VARIANT type WMI uses for a property of `cimType`: VT_UI1 for
/// uint8; VT_I2 for sint8, sint16 and char16; VT_I4 for uint16, sint32 and
/// uint32; VT_BSTR for sint64, uint64, datetime, reference and string;
/// VT_R4, VT_R8, VT_BOOL for real32, real64, boolean; VT_UNKNOWN for
/// object. An array CIM type gives VT_ARRAY of the element's type; an
/// unknown CIM type gives VT_EMPTY.
uint16_t StandardVariantType(int32_t cimType);

/// Converts `value`, put into a property of `cimType`, to the property's
/// standard VARIANT type as Put does, into `*stored`. VT_EMPTY and VT_NULL
/// store a null value. kWbemTypeMismatch (and `*stored` untouched) when
/// the value cannot be converted: the wrong kind, text that is not a
/// number of the type, or a number out of the type's range.
HResult CoerceForPut(const wmi::Value& value, int32_t cimType, wmi::Value* stored);

}  // namespace platform::sim
