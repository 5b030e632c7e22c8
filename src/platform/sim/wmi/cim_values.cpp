#include "platform/sim/wmi/cim_values.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace platform::sim {
namespace {

using wmi::Value;
namespace cim = wmi::cim;
namespace vt = wmi::vt;

/// An integer of any width and sign: Put compares it with the type's range.
struct Number {
  bool negative = false;
  uint64_t magnitude = 0;
};

/// How an integer CIM type is held: its range, its standard VARIANT type
/// and the one VARIANT type whose bits it takes whatever their sign (the
/// standard type itself, where that is signed and the CIM type is not).
struct IntegerType {
  int32_t cimType;
  uint16_t standard;
  uint64_t maxNegative;  // magnitude of the smallest value
  uint64_t maxPositive;
  uint16_t takesBits;
};

constexpr IntegerType kIntegerTypes[] = {
    {cim::kSint8, vt::kI2, 128, 127, vt::kEmpty},
    {cim::kUint8, vt::kUi1, 0, 255, vt::kEmpty},
    {cim::kSint16, vt::kI2, 32768, 32767, vt::kEmpty},
    {cim::kUint16, vt::kI4, 0, 65535, vt::kEmpty},
    {cim::kChar16, vt::kI2, 0, 65535, vt::kI2},
    {cim::kSint32, vt::kI4, 2147483648u, 2147483647u, vt::kEmpty},
    {cim::kUint32, vt::kI4, 0, 4294967295u, vt::kI4},
    {cim::kSint64, vt::kBstr, 9223372036854775808u, 9223372036854775807u, vt::kEmpty},
    {cim::kUint64, vt::kBstr, 0, std::numeric_limits<uint64_t>::max(), vt::kEmpty},
};

const IntegerType* FindIntegerType(int32_t cimType) {
  for (const IntegerType& type : kIntegerTypes) {
    if (type.cimType == cimType) return &type;
  }
  return nullptr;
}

bool IsSignedInteger(uint16_t type) {
  return type == vt::kI1 || type == vt::kI2 || type == vt::kI4 || type == vt::kI8 ||
         type == vt::kInt;
}

bool IsUnsignedInteger(uint16_t type) {
  return type == vt::kUi1 || type == vt::kUi2 || type == vt::kUi4 || type == vt::kUi8 ||
         type == vt::kUint;
}

/// The bits of an unsigned VARIANT integer of its width.
uint64_t UnsignedBits(const Value& value) {
  const auto bits = static_cast<uint64_t>(value.integer);
  switch (value.type) {
    case vt::kUi1:
      return bits & 0xFF;
    case vt::kUi2:
      return bits & 0xFFFF;
    case vt::kUi4:
    case vt::kUint:
      return bits & 0xFFFFFFFF;
    default:
      return bits;
  }
}

/// Optional sign and decimal digits, nothing else; none on overflow.
std::optional<Number> ParseInteger(std::wstring_view text) {
  Number number;
  if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
    number.negative = text.front() == L'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - L'0');
    if (number.magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      return std::nullopt;
    }
    number.magnitude = number.magnitude * 10 + digit;
  }
  if (number.magnitude == 0) number.negative = false;
  return number;
}

/// The integer a VARIANT stands for: integer types and decimal text.
std::optional<Number> IntegerOf(const Value& value) {
  if (IsSignedInteger(value.type)) {
    const bool negative = value.integer < 0;
    const auto bits = static_cast<uint64_t>(value.integer);
    return Number{negative, negative ? ~bits + 1 : bits};
  }
  if (IsUnsignedInteger(value.type)) return Number{false, UnsignedBits(value)};
  if (value.type == vt::kBstr) return ParseInteger(value.text);
  return std::nullopt;
}

std::wstring DecimalText(const Number& number) {
  wchar_t text[21];  // a sign and 20 digits
  size_t start = std::size(text);
  uint64_t rest = number.magnitude;
  do {
    text[--start] = static_cast<wchar_t>(L'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (number.negative) text[--start] = L'-';
  return std::wstring(text + start, std::size(text) - start);
}

std::optional<Value> CoerceInteger(const Value& value, const IntegerType& type) {
  if (type.takesBits != vt::kEmpty && value.type == type.takesBits) {
    return Value::Int(type.standard, value.integer);
  }
  std::optional<Number> number = IntegerOf(value);
  if (!number) return std::nullopt;
  if (number->magnitude > (number->negative ? type.maxNegative : type.maxPositive)) {
    return std::nullopt;
  }
  if (type.standard == vt::kBstr) return Value::Bstr(DecimalText(*number));
  const auto bits =
      static_cast<int64_t>(number->negative ? ~number->magnitude + 1 : number->magnitude);
  // The standard type's own width: uint32 4294967295 is the VT_I4 -1.
  const int64_t held = type.standard == vt::kI2   ? static_cast<int16_t>(bits)
                       : type.standard == vt::kI4 ? static_cast<int32_t>(bits)
                                                  : bits;
  return Value::Int(type.standard, held);
}

/// A decimal number in text, wholly: an optional sign, digits, a point,
/// an exponent.
std::optional<double> ParseReal(std::wstring_view text) {
  std::string narrow;
  for (wchar_t c : text) {
    if (c > 0x7F) return std::nullopt;
    narrow.push_back(static_cast<char>(c));
  }
  std::string_view digits = narrow;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  double result = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), result);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return std::nullopt;
  }
  return result;
}

std::optional<Value> CoerceReal(const Value& value, int32_t cimType) {
  std::optional<double> real;
  if (value.type == vt::kR4 || value.type == vt::kR8) {
    real = value.real;
  } else if (value.type == vt::kBstr) {
    real = ParseReal(value.text);
  } else if (std::optional<Number> number = IntegerOf(value)) {
    const auto magnitude = static_cast<double>(number->magnitude);
    real = number->negative ? -magnitude : magnitude;
  }
  if (!real || !std::isfinite(*real)) return std::nullopt;
  if (cimType == cim::kReal64) return Value::Real(vt::kR8, *real);
  if (std::fabs(*real) > std::numeric_limits<float>::max()) return std::nullopt;
  return Value::Real(vt::kR4, static_cast<float>(*real));
}

bool SameWord(std::wstring_view text, std::wstring_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != word[i]) return false;
  }
  return true;
}

std::optional<Value> CoerceBoolean(const Value& value) {
  if (value.type == vt::kBool) return Value::Bool(value.integer != 0);
  if (value.type == vt::kBstr) {
    if (SameWord(value.text, L"true")) return Value::Bool(true);
    if (SameWord(value.text, L"false")) return Value::Bool(false);
    return std::nullopt;
  }
  if (IsSignedInteger(value.type) || IsUnsignedInteger(value.type)) {
    return Value::Bool(value.integer != 0);
  }
  return std::nullopt;
}

/// The DMTF forms: yyyymmddHHMMSS.mmmmmm+UUU (a point in time) and
/// ddddddddHHMMSS.mmmmmm:000 (an interval); '*' stands for an unused digit.
bool IsDatetime(std::wstring_view text) {
  if (text.size() != 25 || text[14] != L'.') return false;
  const wchar_t zone = text[21];
  if (zone != L'+' && zone != L'-' && zone != L':') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 14 || i == 21) continue;
    const wchar_t c = text[i];
    if ((c < L'0' || c > L'9') && c != L'*') return false;
  }
  return zone != L':' || text.substr(22) == L"000";
}

std::optional<Value> CoerceScalar(const Value& value, int32_t cimType) {
  if (const IntegerType* integer = FindIntegerType(cimType)) return CoerceInteger(value, *integer);
  switch (cimType) {
    case cim::kReal32:
    case cim::kReal64:
      return CoerceReal(value, cimType);
    case cim::kBoolean:
      return CoerceBoolean(value);
    case cim::kString:
    case cim::kReference:
      if (value.type == vt::kBstr) return value;
      return std::nullopt;
    case cim::kDatetime:
      if (value.type == vt::kBstr && IsDatetime(value.text)) return value;
      return std::nullopt;
    case cim::kObject:
      if (value.type == vt::kUnknown || value.type == vt::kDispatch) {
        return Value::Unknown(value.object);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

uint16_t StandardVariantType(int32_t cimType) {
  const int32_t element = cimType & ~cim::kArray;
  uint16_t type = vt::kEmpty;
  if (const IntegerType* integer = FindIntegerType(element)) {
    type = integer->standard;
  } else {
    switch (element) {
      case cim::kReal32:
        type = vt::kR4;
        break;
      case cim::kReal64:
        type = vt::kR8;
        break;
      case cim::kBoolean:
        type = vt::kBool;
        break;
      case cim::kString:
      case cim::kDatetime:
      case cim::kReference:
        type = vt::kBstr;
        break;
      case cim::kObject:
        type = vt::kUnknown;
        break;
      default:
        return vt::kEmpty;
    }
  }
  return (cimType & cim::kArray) != 0 ? static_cast<uint16_t>(vt::kArray | type) : type;
}

HResult CoerceForPut(const Value& value, int32_t cimType, Value* stored) {
  if (value.IsNull()) {
    *stored = Value::Null();
    return status::kOk;
  }
  const bool wantsArray = (cimType & cim::kArray) != 0;
  if (wantsArray != value.IsArray()) return status::kWbemTypeMismatch;
  const int32_t element = cimType & ~cim::kArray;
  if (!wantsArray) {
    std::optional<Value> converted = CoerceScalar(value, element);
    if (!converted) return status::kWbemTypeMismatch;
    *stored = std::move(*converted);
    return status::kOk;
  }
  std::vector<Value> elements;
  elements.reserve(value.elements.size());
  for (const Value& item : value.elements) {
    // An array of objects may hold null elements; other arrays hold values.
    Value typed = item;
    if (value.ElementType() != vt::kVariant) typed.type = value.ElementType();
    if (element == cim::kObject && typed.object == nullptr &&
        (typed.type == vt::kUnknown || typed.type == vt::kDispatch)) {
      elements.push_back(Value::Unknown(nullptr));
      continue;
    }
    std::optional<Value> converted = CoerceScalar(typed, element);
    if (!converted) return status::kWbemTypeMismatch;
    elements.push_back(std::move(*converted));
  }
  // WMI keeps arrays from index 0, whatever bound they were put with.
  *stored = Value::Array(StandardVariantType(element), std::move(elements));
  return status::kOk;
}

}  // namespace platform::sim
