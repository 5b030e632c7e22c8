#include "dsm/properties.h"

#include <iterator>
#include <limits>
#include <utility>

namespace dsm {
namespace {

using platform::HResult;
using platform::wmi::Object;
using platform::wmi::ObjectPtr;
using platform::wmi::Value;
namespace vt = platform::wmi::vt;

// Integers of every width, and VARIANT_BOOL, which carries 0 or -1.
bool IsIntegerType(uint16_t type) { return vt::IsInteger(type) || type == vt::kBool; }

bool IsObjectType(uint16_t type) { return type == vt::kUnknown || type == vt::kDispatch; }

// Reads the property into `value`, left empty when the read fails. Filled
// in place: a Value is wide, and the readers below make thousands of reads.
void Read(const Object& object, std::wstring_view name, Value* value, HResult* status = nullptr) {
  HResult hr = object.Get(name, value, nullptr);
  if (status != nullptr) *status = hr;
  if (platform::Failed(hr)) *value = Value{};
}

bool IsWhiteSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

uint64_t ParseUint64(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    auto digit = static_cast<uint64_t>(text[i] - L'0');
    if (value > (kMax - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  if (overflow) return kMax;
  return negative ? 0 - value : value;
}

// Made by hand: to_wstring formats through swprintf, which cost more than
// the rest of building a policy's path entries.
std::wstring DecimalText(uint64_t value) {
  wchar_t digits[20];
  size_t start = std::size(digits);
  do {
    digits[--start] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::wstring(digits + start, std::size(digits) - start);
}

uint64_t ReadUint64(const Object& object, std::wstring_view name) {
  Value value;
  Read(object, name, &value);
  if (value.type == vt::kBstr) return ParseUint64(value.text);
  if (IsIntegerType(value.type)) return static_cast<uint64_t>(value.integer);
  return 0;
}

int32_t ReadInt32(const Object& object, std::wstring_view name) {
  Value value;
  Read(object, name, &value);
  if (!IsIntegerType(value.type)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value.integer)));
}

std::wstring ReadText(const Object& object, std::wstring_view name, HResult* status) {
  HResult hr = platform::status::kOk;
  Value value;
  Read(object, name, &value, &hr);
  if (platform::Succeeded(hr) && value.type != vt::kBstr) hr = platform::status::kWbemTypeMismatch;
  if (status != nullptr) *status = hr;
  return platform::Succeeded(hr) ? std::move(value.text) : std::wstring();
}

ObjectPtr ReadObject(const Object& object, std::wstring_view name) {
  Value value;
  Read(object, name, &value);
  return IsObjectType(value.type) ? std::move(value.object) : nullptr;
}

ObjectArray ReadObjectArray(const Object& object, std::wstring_view name) {
  Value value;
  Read(object, name, &value);
  ObjectArray array;
  if (!value.IsArray()) return array;
  array.Lower = value.lower;
  array.Elements.reserve(value.elements.size());
  for (Value& element : value.elements) {
    array.Elements.push_back(IsObjectType(element.type) ? std::move(element.object) : nullptr);
  }
  return array;
}

std::vector<uint8_t> ReadBytes(const Object& object, std::wstring_view name) {
  Value value;
  Read(object, name, &value);
  std::vector<uint8_t> bytes;
  if (!value.IsArray()) return bytes;
  bytes.reserve(value.elements.size());
  for (const Value& element : value.elements) {
    if (!IsIntegerType(element.type)) return {};
    bytes.push_back(static_cast<uint8_t>(element.integer & 0xFF));
  }
  return bytes;
}

}  // namespace dsm
