#include "wmilist/format_value.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace wmilist {
namespace {

namespace vt = platform::wmi::vt;
namespace cim = platform::wmi::cim;
using platform::wmi::Value;

constexpr wchar_t kUpperDigits[] = L"0123456789ABCDEF";
constexpr wchar_t kLowerDigits[] = L"0123456789abcdef";

// Hexadecimal digits of `value`, no leading zeros ("0" for zero).
void AppendHex(uint64_t value, const wchar_t* digits, std::wstring* text) {
  wchar_t buffer[16];
  int used = 0;
  do {
    buffer[used++] = digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (used > 0) text->push_back(buffer[--used]);
}

void AppendUpperHex(uint64_t value, std::wstring* text) { AppendHex(value, kUpperDigits, text); }

void AppendPrefixedHex(uint64_t value, std::wstring* text) {
  text->append(L"0x");
  AppendUpperHex(value, text);
}

void AppendDecimal(uint64_t value, std::wstring* text) {
  wchar_t buffer[20];
  int used = 0;
  do {
    buffer[used++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (used > 0) text->push_back(buffer[--used]);
}

void AppendAscii(std::string_view ascii, std::wstring* text) {
  for (char c : ascii) text->push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
}

// "%10.4f". Infinities and NaN are spelled the same on every C library.
void AppendReal(double value, std::wstring* text) {
  if (!std::isfinite(value)) {
    std::string_view word = std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    text->append(10 - word.size(), L' ');
    AppendAscii(word, text);
    return;
  }
  char small[64];
  int length = std::snprintf(small, sizeof small, "%10.4f", value);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    AppendAscii(std::string_view(small, static_cast<size_t>(length)), text);
    return;
  }
  std::vector<char> large(static_cast<size_t>(length) + 1);
  std::snprintf(large.data(), large.size(), "%10.4f", value);
  AppendAscii(std::string_view(large.data(), static_cast<size_t>(length)), text);
}

// WMI carries 64-bit integers as decimal text; only the CIM type tells them
// from strings. A scalar value needs the scalar type, an array the array
// type: a mismatched pair is text.
bool Is64BitText(int32_t cimType) { return cimType == cim::kSint64 || cimType == cim::kUint64; }

bool Is64BitTextArray(int32_t cimType) {
  return cimType == (cim::kSint64 | cim::kArray) || cimType == (cim::kUint64 | cim::kArray);
}

uint16_t Bits16(const Value& v) { return static_cast<uint16_t>(v.integer); }
uint32_t Bits32(const Value& v) { return static_cast<uint32_t>(v.integer); }

// The 16-bit value of an element of a VT_I2, VT_UI2 or VT_I4 array, as
// the character and hexadecimal forms see it.
void AppendCharacterArray(const Value& array, std::wstring* text) {
  const bool wide = array.ElementType() == vt::kI4;
  std::wstring hex = wide ? L"0x" : L"";
  std::wstring characters;
  bool printable = true;
  bool first = true;
  for (const Value& element : array.elements) {
    if (!wide && !first) hex.push_back(L',');
    first = false;
    uint32_t value = wide ? Bits32(element) : Bits16(element);
    if (value == 0) continue;
    if (wide) {
      AppendHex(value, kLowerDigits, &hex);
    } else {
      AppendPrefixedHex(value, &hex);
    }
    uint16_t character = static_cast<uint16_t>(value);
    characters.push_back(static_cast<wchar_t>(character));
    printable = printable && IsPrintable(character);
  }
  text->append(printable ? characters : hex);
}

template <typename Each>
void AppendSeparated(const Value& array, std::wstring* text, Each each) {
  bool first = true;
  for (const Value& element : array.elements) {
    if (!first) text->push_back(L',');
    first = false;
    each(element);
  }
}

// The array forms whose bounds are read here; false for any other element type.
bool IsTableArray(uint16_t elementType) {
  switch (elementType) {
    case vt::kI2:
    case vt::kUi2:
    case vt::kI4:
    case vt::kUi4:
    case vt::kR4:
    case vt::kR8:
    case vt::kBool:
    case vt::kBstr:
    case vt::kI1:
    case vt::kUi1:
      return true;
    default:
      return false;
  }
}

void AppendArrayElements(int32_t cimType, const Value& array, std::wstring* text) {
  switch (array.ElementType()) {
    case vt::kI2:
    case vt::kUi2:
    case vt::kI4:
      AppendCharacterArray(array, text);
      return;
    case vt::kUi4:
      for (const Value& element : array.elements) {
        if (Bits32(element) != 0) AppendDecimal(Bits32(element), text);
      }
      return;
    case vt::kR4:
    case vt::kR8:
      AppendSeparated(array, text, [&](const Value& e) {
        if (e.real != 0) AppendReal(e.real, text);
      });
      return;
    case vt::kBool:
      AppendSeparated(array, text,
                      [&](const Value& e) { text->append(e.integer != 0 ? L"TRUE" : L"FALSE"); });
      return;
    case vt::kBstr:
      AppendSeparated(array, text, [&](const Value& e) {
        if (!Is64BitTextArray(cimType)) {
          text->append(L"\"").append(e.text).append(L"\"");
        } else if (!e.text.empty()) {
          AppendUpperHex(static_cast<uint64_t>(ParseInt64(e.text)), text);
        }
      });
      return;
    default:  // VT_I1, VT_UI1
      text->append(L"0x");
      for (const Value& element : array.elements) {
        auto byte = static_cast<uint8_t>(element.integer);
        if (byte == 0) continue;
        text->push_back(kUpperDigits[byte >> 4]);
        text->push_back(kUpperDigits[byte & 0xF]);
      }
      return;
  }
}

bool AppendArray(int32_t cimType, const Value& array, const EmbeddedFormatter* embedded,
                 std::wstring* text) {
  if (!IsTableArray(array.ElementType())) {
    if (embedded != nullptr) return (*embedded)(array, text);
    text->append(L"<conversion error>");
    return true;
  }
  if (array.lowerStatus != platform::status::kOk || array.upperStatus != platform::status::kOk) {
    return false;
  }
  if (array.elements.empty()) {
    text->append(L"<empty array>");
    return true;
  }
  AppendArrayElements(cimType, array, text);
  return true;
}

void AppendSignedCharacter(const Value& value, std::wstring* text) {
  auto code = static_cast<int8_t>(value.integer);
  if (code < 32) {
    AppendPrefixedHex(static_cast<uint16_t>(static_cast<int16_t>(code)), text);
  } else {
    text->push_back(static_cast<wchar_t>(code));
  }
}

bool AppendScalar(int32_t cimType, const Value& value, const EmbeddedFormatter* embedded,
                  std::wstring* text) {
  switch (value.type) {
    case vt::kEmpty:
      text->append(L"<empty>");
      return true;
    case vt::kNull:
      text->append(L"<null>");
      return true;
    case vt::kI2:
    case vt::kUi2:
      AppendPrefixedHex(Bits16(value), text);
      return true;
    case vt::kUi1:
      AppendPrefixedHex(static_cast<uint8_t>(value.integer), text);
      return true;
    case vt::kI4:
    case vt::kUi4:
      AppendPrefixedHex(Bits32(value), text);
      return true;
    case vt::kR4:
    case vt::kR8:
      AppendReal(value.real, text);
      return true;
    case vt::kBstr:
      if (Is64BitText(cimType)) {
        AppendPrefixedHex(static_cast<uint64_t>(ParseInt64(value.text)), text);
      } else {
        text->append(L"\"").append(value.text).append(L"\"");
      }
      return true;
    case vt::kBool:
      text->append(value.integer != 0 ? L"TRUE" : L"FALSE");
      return true;
    case vt::kI1:
      AppendSignedCharacter(value, text);
      return true;
    default:
      if (embedded != nullptr) return (*embedded)(value, text);
      text->append(L"<conversion error>");
      return true;
  }
}

}  // namespace

bool IsPrintable(uint32_t character) { return character >= 0x20 && character <= 0x7E; }

int64_t ParseInt64(std::wstring_view text) {
  size_t at = 0;
  auto blank = [](wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); };
  while (at < text.size() && blank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == L'+' || text[at] == L'-')) negative = text[at++] == L'-';
  // The magnitude stops growing once past the largest one a sign allows.
  const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
  uint64_t magnitude = 0;
  for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
    auto digit = static_cast<uint64_t>(text[at] - L'0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative) return static_cast<int64_t>(magnitude);
  return magnitude == limit ? std::numeric_limits<int64_t>::min()
                            : -static_cast<int64_t>(magnitude);
}

bool AppendValue(int32_t cimType, const Value& value, const EmbeddedFormatter* embedded,
                 std::wstring* text) {
  const size_t before = text->size();
  bool present = value.IsArray() ? AppendArray(cimType, value, embedded, text)
                                 : AppendScalar(cimType, value, embedded, text);
  if (!present) text->resize(before);
  return present;
}

std::optional<std::wstring> FormatValue(int32_t cimType, const Value& value,
                                        const EmbeddedFormatter* embedded) {
  std::wstring text;
  if (!AppendValue(cimType, value, embedded, &text)) return std::nullopt;
  return text;
}

}  // namespace wmilist
