// The text of one WMI property value, for every VARIANT type WMI hands out
// and for one-dimensional arrays of them. Objects embedded in a value are
// left to a formatter the caller gives, so this file knows nothing of
// printers or nesting.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/wmi.h"

namespace wmilist {

/// Appends the text of an embedded object, or of an array of them, to
/// `text`. Returns false when the text is absent; `text` is then as it was.
using EmbeddedFormatter = std::function<bool(const platform::wmi::Value&, std::wstring* text)>;

/// Appends the text of `value` to `text`; `cimType` is the CIM type WMI
/// gave for the property (it decides whether text is a 64-bit number).
/// Types the table does not know go to `embedded` when given, else give
/// "<conversion error>". Returns false when the text is absent (an array
/// whose bounds could not be read, or an embedded text that is absent);
/// `text` is then as it was.
bool AppendValue(int32_t cimType, const platform::wmi::Value& value,
                 const EmbeddedFormatter* embedded, std::wstring* text);

/// AppendValue into a new text; nothing when the text is absent.
std::optional<std::wstring> FormatValue(int32_t cimType, const platform::wmi::Value& value,
                                        const EmbeddedFormatter* embedded = nullptr);

/// Decimal text as a signed 64-bit number: leading white space (blank, tab,
/// line feed, vertical tab, form feed, carriage return), an optional sign,
/// digits up to the first non-digit; no digits give 0, values beyond the
/// range give INT64_MIN or INT64_MAX.
int64_t ParseInt64(std::wstring_view text);

/// Whether a character counts as printable in a 16-bit or 32-bit array's
/// character form: U+0020 to U+007E, the printable set of the "C" locale,
/// the same on every OS.
bool IsPrintable(uint32_t character);

}  // namespace wmilist
