#include "dsm/properties.h"

#include <gtest/gtest.h>

#include "dsm/fake_wmi_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;
namespace vt = platform::wmi::vt;

TEST(ParseUint64, FollowsUnsignedDecimalConversion) {
  constexpr uint64_t kMax = UINT64_MAX;
  struct Case {
    const wchar_t* text;
    uint64_t value;
  } cases[] = {
      {L"26", 26},
      {L"  \t42", 42},
      {L"+7", 7},
      {L"-1", kMax},
      {L"-0", 0},
      {L"18446744073709551615", kMax},
      {L"18446744073709551616", kMax},
      {L"-99999999999999999999", kMax},
      {L"12abc", 12},
      {L"", 0},
      {L"abc", 0},
      {L"0x1A", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseUint64(c.text), c.value) << platform::ToConsoleText(c.text);
  }
}

TEST(DecimalText, WritesEveryDigitWithoutSignOrGrouping) {
  struct Case {
    uint64_t value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {9, L"9"},
      {10, L"10"},
      {1000000, L"1000000"},
      {0x77020000, L"1996619776"},
      {UINT64_MAX, L"18446744073709551615"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecimalText(c.value), c.text) << c.value;
    EXPECT_EQ(ParseUint64(DecimalText(c.value)), c.value) << c.value;
  }
}

TEST(ReadProperty, UnexpectedTypesGiveDefaults) {
  FakeServices wmi;
  auto object = wmi.New(L"X");
  auto inner = wmi.New(L"Y");
  object->Set(L"text", Value::Bstr(L"123"))
      .Set(L"i4", Value::I4(-5))
      .Set(L"i8", Value::Int(vt::kI8, 0x100000005LL))
      .Set(L"ui1", Value::Int(vt::kUi1, 200))
      .Set(L"null", Value::Null())
      .Set(L"real", Value::Real(vt::kR8, 3.5))
      .Set(L"object", Value::Unknown(inner))
      .Set(L"mixed",
           Value::Array(vt::kUnknown,
                        {Value::Unknown(inner), Value::Unknown(nullptr), Value::I4(3)}, 2))
      .Set(L"bytes", Bytes({1, 0xAB}))
      .Set(L"badBytes", Value::Array(vt::kBstr, {Value::Bstr(L"1")}));

  EXPECT_EQ(ReadUint64(*object, L"text"), 123u);
  EXPECT_EQ(ReadUint64(*object, L"i8"), 0x100000005u);
  EXPECT_EQ(ReadUint64(*object, L"null"), 0u);
  EXPECT_EQ(ReadUint64(*object, L"missing"), 0u);

  EXPECT_EQ(ReadInt32(*object, L"i4"), -5);
  EXPECT_EQ(ReadInt32(*object, L"i8"), 5);
  EXPECT_EQ(ReadInt32(*object, L"ui1"), 200);
  EXPECT_EQ(ReadInt32(*object, L"text"), 0);
  EXPECT_EQ(ReadInt32(*object, L"real"), 0);
  EXPECT_EQ(ReadInt32(*object, L"missing"), 0);

  HResult hr = 0;
  EXPECT_EQ(ReadText(*object, L"i4", &hr), L"");
  EXPECT_EQ(hr, status::kWbemTypeMismatch);
  EXPECT_EQ(ReadText(*object, L"missing", &hr), L"");
  EXPECT_EQ(hr, status::kWbemNotFound);
  EXPECT_EQ(ReadText(*object, L"text", &hr), L"123");
  EXPECT_EQ(hr, status::kOk);

  EXPECT_EQ(ReadObject(*object, L"object"), inner);
  EXPECT_EQ(ReadObject(*object, L"i4"), nullptr);

  ObjectArray array = ReadObjectArray(*object, L"mixed");
  EXPECT_EQ(array.Lower, 2);
  ASSERT_EQ(array.Elements.size(), 3u);
  EXPECT_EQ(array.Elements[0], inner);
  EXPECT_EQ(array.Elements[1], nullptr);
  EXPECT_EQ(array.Elements[2], nullptr);
  EXPECT_TRUE(ReadObjectArray(*object, L"object").Elements.empty());

  EXPECT_EQ(ReadBytes(*object, L"bytes"), (std::vector<uint8_t>{1, 0xAB}));
  EXPECT_TRUE(ReadBytes(*object, L"badBytes").empty());
  EXPECT_TRUE(ReadBytes(*object, L"text").empty());
}

}  // namespace
}  // namespace dsm
