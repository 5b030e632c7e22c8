// Reads of WMI property values that never fail: a property that cannot be
// read, or that holds a value of an unexpected VARIANT type, gives a fixed
// default (0, empty text, no object, no elements) instead of garbage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wmi.h"

namespace dsm {

/// An unsigned 64-bit number as WMI carries uint64 values, decimal text,
/// converted like strtoull in base 10: leading white space, an optional
/// sign (minus negates modulo 2^64), digits up to the first non-digit;
/// no digits give 0, overflow gives 0xFFFFFFFFFFFFFFFF.
uint64_t ParseUint64(std::wstring_view text);

/// The value as unsigned decimal digits (no sign, no leading zeros).
std::wstring DecimalText(uint64_t value);

/// A uint64 property: decimal text (BSTR), or an integer VARIANT taken as
/// its value; anything else, or a failed read, gives 0.
uint64_t ReadUint64(const platform::wmi::Object& object, std::wstring_view name);

/// A 32-bit property: any integer VARIANT (VT_I4 as WMI gives uint32 and
/// smaller, other widths, VT_BOOL) cut to its low 32 bits; anything else,
/// or a failed read, gives 0.
int32_t ReadInt32(const platform::wmi::Object& object, std::wstring_view name);

/// A text property (BSTR); anything else gives empty text. `status`, when
/// given, receives the result of the read (a BSTR-less value reads as
/// kWbemTypeMismatch so the caller can tell).
std::wstring ReadText(const platform::wmi::Object& object, std::wstring_view name,
                      platform::HResult* status = nullptr);

/// An embedded object (VT_UNKNOWN or VT_DISPATCH); anything else gives null.
platform::wmi::ObjectPtr ReadObject(const platform::wmi::Object& object, std::wstring_view name);

/// An array of embedded objects with its bounds: element k stands at index
/// Lower + k. Null elements, and elements that are not objects, are null.
struct ObjectArray {
  int64_t Lower = 0;
  std::vector<platform::wmi::ObjectPtr> Elements;
};

/// An array-of-objects property; anything that is not an array gives no
/// elements.
ObjectArray ReadObjectArray(const platform::wmi::Object& object, std::wstring_view name);

/// A byte-array property (elements of any integer type, low 8 bits each);
/// anything else gives no bytes.
std::vector<uint8_t> ReadBytes(const platform::wmi::Object& object, std::wstring_view name);

}  // namespace dsm
