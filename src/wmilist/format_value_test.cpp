#include "wmilist/format_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/output.h"

namespace wmilist {
namespace {

namespace vt = platform::wmi::vt;
namespace cim = platform::wmi::cim;
using platform::wmi::Value;

Value Ints(uint16_t type, std::vector<int64_t> values, int32_t lower = 0) {
  std::vector<Value> elements;
  for (int64_t v : values) elements.push_back(Value::Int(type, v));
  return Value::Array(type, std::move(elements), lower);
}

Value Reals(uint16_t type, std::vector<double> values) {
  std::vector<Value> elements;
  for (double v : values) elements.push_back(Value::Real(type, v));
  return Value::Array(type, std::move(elements));
}

Value Texts(std::vector<std::wstring> values) {
  std::vector<Value> elements;
  for (std::wstring& v : values) elements.push_back(Value::Bstr(std::move(v)));
  return Value::Array(vt::kBstr, std::move(elements));
}

Value Typed(uint16_t type) {
  Value v;
  v.type = type;
  return v;
}

struct Case {
  const char* what;
  int32_t cimType;
  Value value;
  std::optional<std::wstring> text;
};

void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(FormatValue(c.cimType, c.value), c.text) << c.what;
  }
}

TEST(FormatValue, Scalars) {
  Check({
      {"empty", 0, Value::Empty(), L"<empty>"},
      {"null", 0, Value::Null(), L"<null>"},
      {"i2 positive", cim::kSint16, Value::Int(vt::kI2, 0x1F), L"0x1F"},
      {"i2 -1 as 16 bits", cim::kSint16, Value::Int(vt::kI2, -1), L"0xFFFF"},
      {"i4 uint32 2", cim::kUint32, Value::I4(2), L"0x2"},
      {"i4 -1 as 32 bits", cim::kUint32, Value::I4(-1), L"0xFFFFFFFF"},
      {"i4 zero", cim::kUint32, Value::I4(0), L"0x0"},
      {"ui4", 0, Value::Int(vt::kUi4, 0xABCDEF01), L"0xABCDEF01"},
      {"ui1 keeps 8 bits", cim::kUint8, Value::Int(vt::kUi1, 0x1AB), L"0xAB"},
      {"ui2 keeps 16 bits", 0, Value::Int(vt::kUi2, 0x12345), L"0x2345"},
      {"r8 1.5", cim::kReal64, Value::Real(vt::kR8, 1.5), L"    1.5000"},
      {"r4 negative", cim::kReal32, Value::Real(vt::kR4, -2.25), L"   -2.2500"},
      {"r8 wider than ten", cim::kReal64, Value::Real(vt::kR8, 12345678.5), L"12345678.5000"},
      {"r8 infinity", cim::kReal64, Value::Real(vt::kR8, std::numeric_limits<double>::infinity()),
       L"       inf"},
      {"r8 nan", cim::kReal64, Value::Real(vt::kR8, std::nan("")), L"       nan"},
      {"string", cim::kString, Value::Bstr(L"a b"), L"\"a b\""},
      {"null text arrives empty", cim::kString, Value::Bstr(L""), L"\"\""},
      {"datetime is text", cim::kDatetime, Value::Bstr(L"2024"), L"\"2024\""},
      {"uint64 255", cim::kUint64, Value::Bstr(L"255"), L"0xFF"},
      {"sint64 -1", cim::kSint64, Value::Bstr(L"-1"), L"0xFFFFFFFFFFFFFFFF"},
      {"uint64 blanks and sign", cim::kUint64, Value::Bstr(L" \t+16x9"), L"0x10"},
      {"uint64 saturates high", cim::kUint64, Value::Bstr(L"18446744073709551615"),
       L"0x7FFFFFFFFFFFFFFF"},
      {"sint64 saturates low", cim::kSint64, Value::Bstr(L"-99999999999999999999"),
       L"0x8000000000000000"},
      {"uint64 no digits", cim::kUint64, Value::Bstr(L"abc"), L"0x0"},
      {"text under an array's 64-bit type is a string", cim::kUint64 | cim::kArray,
       Value::Bstr(L"5"), L"\"5\""},
      {"bool true", cim::kBoolean, Value::Bool(true), L"TRUE"},
      {"bool false", cim::kBoolean, Value::Bool(false), L"FALSE"},
      {"i1 printable", cim::kSint8, Value::Int(vt::kI1, 'A'), L"A"},
      {"i1 blank is a character", cim::kSint8, Value::Int(vt::kI1, ' '), L" "},
      {"i1 control", cim::kSint8, Value::Int(vt::kI1, 31), L"0x1F"},
      {"i1 negative", cim::kSint8, Value::Int(vt::kI1, -1), L"0xFFFF"},
      {"i1 -128", cim::kSint8, Value::Int(vt::kI1, 0x80), L"0xFF80"},
      {"i8 is not in the table", 0, Value::Int(vt::kI8, 5), L"<conversion error>"},
      {"date", 0, Typed(vt::kDate), L"<conversion error>"},
      {"unknown without formatter", cim::kObject, Value::Unknown(nullptr), L"<conversion error>"},
  });
}

TEST(FormatValue, Arrays) {
  Value unreadableLower = Ints(vt::kUi1, {1});
  unreadableLower.lowerStatus = platform::MakeHResult(0x8002000B);
  Value unreadableUpper = Ints(vt::kUi1, {});
  unreadableUpper.upperStatus = platform::MakeHResult(0x8002000B);
  Check({
      {"bytes skip zeros", cim::kUint8 | cim::kArray, Ints(vt::kUi1, {1, 0, 0xAB}), L"0x01AB"},
      {"bytes all zero", cim::kUint8 | cim::kArray, Ints(vt::kUi1, {0, 0}), L"0x"},
      {"bytes none", cim::kUint8 | cim::kArray, Ints(vt::kUi1, {}), L"<empty array>"},
      {"signed bytes", cim::kSint8 | cim::kArray, Ints(vt::kI1, {-1, 2}), L"0xFF02"},
      {"lower bound other than 0", 0, Ints(vt::kUi1, {5}, 7), L"0x05"},
      {"bounds unreadable", 0, unreadableLower, std::nullopt},
      {"upper bound unreadable", 0, unreadableUpper, std::nullopt},
      {"i2 characters", cim::kSint16 | cim::kArray, Ints(vt::kI2, {'H', 'i'}), L"Hi"},
      {"i2 not printable", 0, Ints(vt::kI2, {7, 72}), L"0x7,0x48"},
      {"i2 zero skipped", 0, Ints(vt::kI2, {72, 0, 105}), L"Hi"},
      {"i2 zero keeps its place in hex", 0, Ints(vt::kI2, {0, 7, 0}), L",0x7,"},
      {"i2 negative", 0, Ints(vt::kI2, {-1}), L"0xFFFF"},
      {"i2 zeros", 0, Ints(vt::kI2, {0, 0}), L""},
      {"ui2 characters", 0, Ints(vt::kUi2, {'o', 'k'}), L"ok"},
      {"ui2 beyond ascii", 0, Ints(vt::kUi2, {0xE9}), L"0xE9"},
      {"i4 hex", 0, Ints(vt::kI4, {26, 0}), L"0x1a"},
      {"i4 hex joined", 0, Ints(vt::kI4, {0x1F, 0xABC}), L"0x1fabc"},
      {"i4 characters", 0, Ints(vt::kI4, {'O', 'K'}), L"OK"},
      {"i4 low 16 bits printable", 0, Ints(vt::kI4, {0x10041}), L"A"},
      {"i4 low 16 bits zero", 0, Ints(vt::kI4, {0x10000}), L"0x10000"},
      {"i4 negative", 0, Ints(vt::kI4, {-1}), L"0xffffffff"},
      {"i4 zeros", 0, Ints(vt::kI4, {0}), L""},
      {"ui4 decimal", 0, Ints(vt::kUi4, {1, 23}), L"123"},
      {"ui4 zeros", 0, Ints(vt::kUi4, {0, 0}), L""},
      {"ui4 large", 0, Ints(vt::kUi4, {0xFFFFFFFF, 0, 7}), L"42949672957"},
      {"reals", 0, Reals(vt::kR8, {1.5, 0, 2}), L"    1.5000,,    2.0000"},
      {"real32", 0, Reals(vt::kR4, {0.25}), L"    0.2500"},
      {"bools", 0, Ints(vt::kBool, {-1, 0}), L"TRUE,FALSE"},
      {"strings", cim::kString | cim::kArray, Texts({L"a", L"", L"b"}), L"\"a\",\"\",\"b\""},
      {"uint64 texts", cim::kUint64 | cim::kArray, Texts({L"255", L"", L"0", L"-1"}),
       L"FF,,0,FFFFFFFFFFFFFFFF"},
      {"sint64 texts", cim::kSint64 | cim::kArray, Texts({L"16"}), L"10"},
      {"texts under a scalar 64-bit type are strings", cim::kUint64, Texts({L"16"}), L"\"16\""},
      {"empty strings", cim::kString | cim::kArray, Texts({}), L"<empty array>"},
      {"i8 array", 0, Ints(vt::kI8, {1}), L"<conversion error>"},
      {"objects without formatter", 0, Value::Array(vt::kUnknown, {}), L"<conversion error>"},
  });
}

// Types outside the tables go to the embedded formatter, whose absent
// text makes the value's text absent; the table's types never reach it.
TEST(FormatValue, HandsOtherTypesToTheEmbeddedFormatter) {
  int calls = 0;
  EmbeddedFormatter present = [&](const Value&, std::wstring* text) {
    ++calls;
    text->append(L"<obj>");
    return true;
  };
  EmbeddedFormatter absent = [&](const Value&, std::wstring* text) {
    ++calls;
    text->append(L"partial");
    return false;
  };
  EXPECT_EQ(FormatValue(cim::kObject, Value::Unknown(nullptr), &present), L"<obj>");
  EXPECT_EQ(FormatValue(0, Typed(vt::kDate), &present), L"<obj>");
  EXPECT_EQ(FormatValue(0, Value::Array(vt::kUnknown, {}), &present), L"<obj>");
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(FormatValue(cim::kObject, Value::Unknown(nullptr), &absent), std::nullopt);
  EXPECT_EQ(FormatValue(0, Ints(vt::kUi1, {1}), &absent), L"0x01");
  EXPECT_EQ(FormatValue(0, Value::I4(1), &absent), L"0x1");
  EXPECT_EQ(calls, 4);

  std::wstring text = L"kept";
  EXPECT_FALSE(AppendValue(cim::kObject, Value::Unknown(nullptr), &absent, &text));
  EXPECT_EQ(text, L"kept");
}

TEST(ParseInt64, ReadsLikeTheCLibraryAndSaturates) {
  struct {
    const wchar_t* text;
    int64_t value;
  } cases[] = {
      {L"", 0},
      {L"-", 0},
      {L"12", 12},
      {L"\r\n\v\f 7", 7},
      {L"+-3", 0},
      {L"-9223372036854775808", std::numeric_limits<int64_t>::min()},
      {L"-9223372036854775807", -9223372036854775807},
      {L"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {L"9223372036854775808", std::numeric_limits<int64_t>::max()},
      {L"-9223372036854775809", std::numeric_limits<int64_t>::min()},
      {L"000000000000000000000000000042", 42},
      {L"12 34", 12},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseInt64(c.text), c.value) << platform::ToConsoleText(c.text);
  }
}

TEST(IsPrintable, IsTheAsciiPrintableSet) {
  EXPECT_FALSE(IsPrintable(0x1F));
  EXPECT_TRUE(IsPrintable(0x20));
  EXPECT_TRUE(IsPrintable(0x7E));
  EXPECT_FALSE(IsPrintable(0x7F));
  EXPECT_FALSE(IsPrintable(0xA0));
  EXPECT_FALSE(IsPrintable(0x263A));
}

}  // namespace
}  // namespace wmilist
