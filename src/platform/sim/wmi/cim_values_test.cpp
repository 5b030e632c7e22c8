#include "platform/sim/wmi/cim_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {
namespace {

namespace cim = wmi::cim;
namespace vt = wmi::vt;
using wmi::Value;

TEST(StandardVariantTypeTest, EveryCimType) {
  const struct {
    int32_t cimType;
    uint16_t variant;
  } cases[] = {
      {cim::kUint8, vt::kUi1},      {cim::kSint8, vt::kI2},       {cim::kSint16, vt::kI2},
      {cim::kChar16, vt::kI2},      {cim::kUint16, vt::kI4},      {cim::kSint32, vt::kI4},
      {cim::kUint32, vt::kI4},      {cim::kSint64, vt::kBstr},    {cim::kUint64, vt::kBstr},
      {cim::kDatetime, vt::kBstr},  {cim::kReference, vt::kBstr}, {cim::kString, vt::kBstr},
      {cim::kReal32, vt::kR4},      {cim::kReal64, vt::kR8},      {cim::kBoolean, vt::kBool},
      {cim::kObject, vt::kUnknown}, {cim::kIllegal, vt::kEmpty},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StandardVariantType(c.cimType), c.variant) << c.cimType;
    if (c.variant == vt::kEmpty) continue;
    EXPECT_EQ(StandardVariantType(c.cimType | cim::kArray), vt::kArray | c.variant) << c.cimType;
  }
}

Value I(uint16_t type, int64_t v) { return Value::Int(type, v); }
Value T(const wchar_t* text) { return Value::Bstr(text); }
Value R(uint16_t type, double v) { return Value::Real(type, v); }

// One put: the value, the property's CIM type, and what is stored (type
// kEmpty in `stored` for a put refused with WBEM_E_TYPE_MISMATCH).
struct PutCase {
  const char* name;
  Value value;
  int32_t cimType;
  Value stored;
};

Value Refused() { return Value{}; }

void ExpectStored(const Value& stored, const Value& expected, const char* name) {
  EXPECT_EQ(stored.type, expected.type) << name;
  EXPECT_EQ(stored.integer, expected.integer) << name;
  EXPECT_EQ(stored.real, expected.real) << name;
  EXPECT_EQ(stored.text, expected.text) << name;
}

void RunCases(const std::vector<PutCase>& cases) {
  for (const PutCase& c : cases) {
    Value stored = T(L"untouched");
    HResult hr = CoerceForPut(c.value, c.cimType, &stored);
    if (c.stored.type == vt::kEmpty) {
      EXPECT_EQ(hr, status::kWbemTypeMismatch) << c.name;
      EXPECT_EQ(stored.text, L"untouched") << c.name;
      continue;
    }
    ASSERT_EQ(hr, status::kOk) << c.name;
    ExpectStored(stored, c.stored, c.name);
  }
}

TEST(CoerceForPutTest, Integers) {
  RunCases({
      {"uint8 from I4", I(vt::kI4, 255), cim::kUint8, I(vt::kUi1, 255)},
      {"uint8 over", I(vt::kI4, 256), cim::kUint8, Refused()},
      {"uint8 negative", I(vt::kI4, -1), cim::kUint8, Refused()},
      {"uint8 from text", T(L"7"), cim::kUint8, I(vt::kUi1, 7)},
      {"sint8 low", I(vt::kI4, -128), cim::kSint8, I(vt::kI2, -128)},
      {"sint8 under", I(vt::kI2, -129), cim::kSint8, Refused()},
      {"sint16 from UI2 over", I(vt::kUi2, 40000), cim::kSint16, Refused()},
      {"uint16 from UI1", I(vt::kUi1, 200), cim::kUint16, I(vt::kI4, 200)},
      {"uint16 over", I(vt::kI4, 65536), cim::kUint16, Refused()},
      {"sint32 from I8", I(vt::kI8, -2147483648LL), cim::kSint32, I(vt::kI4, INT32_MIN)},
      {"sint32 over", I(vt::kI8, 2147483648LL), cim::kSint32, Refused()},
      // uint32 keeps VT_I4's bits, so a negative VT_I4 is a large uint32.
      {"uint32 from I4 -1", I(vt::kI4, -1), cim::kUint32, I(vt::kI4, -1)},
      {"uint32 from UI4 max", I(vt::kUi4, 4294967295LL), cim::kUint32, I(vt::kI4, -1)},
      {"uint32 from I8 -1", I(vt::kI8, -1), cim::kUint32, Refused()},
      {"uint32 from text", T(L"4294967295"), cim::kUint32, I(vt::kI4, -1)},
      {"uint32 text over", T(L"4294967296"), cim::kUint32, Refused()},
      {"char16 from I2 bits", I(vt::kI2, -1), cim::kChar16, I(vt::kI2, -1)},
      {"char16 from I4", I(vt::kI4, 65), cim::kChar16, I(vt::kI2, 65)},
      {"uint32 from bool", Value::Bool(true), cim::kUint32, Refused()},
      {"uint32 from real", R(vt::kR8, 1.0), cim::kUint32, Refused()},
      {"uint32 from object", Value::Unknown(nullptr), cim::kUint32, Refused()},
      {"uint32 from blank text", T(L" 5"), cim::kUint32, Refused()},
      {"uint32 from hex text", T(L"0x10"), cim::kUint32, Refused()},
      {"uint32 from sign only", T(L"-"), cim::kUint32, Refused()},
  });
}

TEST(CoerceForPutTest, SixtyFourBitIntegersBecomeText) {
  RunCases({
      {"uint64 from text", T(L"18446744073709551615"), cim::kUint64, T(L"18446744073709551615")},
      {"uint64 text over", T(L"18446744073709551616"), cim::kUint64, Refused()},
      {"uint64 leading zeros", T(L"007"), cim::kUint64, T(L"7")},
      {"uint64 plus", T(L"+12"), cim::kUint64, T(L"12")},
      {"uint64 minus zero", T(L"-0"), cim::kUint64, T(L"0")},
      {"uint64 negative", T(L"-1"), cim::kUint64, Refused()},
      {"uint64 from I4", I(vt::kI4, 0), cim::kUint64, T(L"0")},
      {"uint64 from negative I4", I(vt::kI4, -5), cim::kUint64, Refused()},
      {"uint64 from UI8 max", I(vt::kUi8, -1), cim::kUint64, T(L"18446744073709551615")},
      {"uint64 from word", T(L"zero"), cim::kUint64, Refused()},
      {"uint64 from empty text", T(L""), cim::kUint64, Refused()},
      {"sint64 low", T(L"-9223372036854775808"), cim::kSint64, T(L"-9223372036854775808")},
      {"sint64 under", T(L"-9223372036854775809"), cim::kSint64, Refused()},
      {"sint64 from I8", I(vt::kI8, INT64_MIN), cim::kSint64, T(L"-9223372036854775808")},
      {"sint64 from UI8 over", I(vt::kUi8, -1), cim::kSint64, Refused()},
  });
}

TEST(CoerceForPutTest, RealsBooleansTextsAndObjects) {
  RunCases({
      {"real32 from R8", R(vt::kR8, 0.5), cim::kReal32, R(vt::kR4, 0.5)},
      {"real32 over", R(vt::kR8, 1e300), cim::kReal32, Refused()},
      {"real64 from I4", I(vt::kI4, -3), cim::kReal64, R(vt::kR8, -3.0)},
      {"real64 from text", T(L"+2.5e3"), cim::kReal64, R(vt::kR8, 2500.0)},
      {"real64 from word", T(L"2.5x"), cim::kReal64, Refused()},
      {"real64 from bool", Value::Bool(true), cim::kReal64, Refused()},
      {"boolean from BOOL", Value::Bool(true), cim::kBoolean, Value::Bool(true)},
      {"boolean from I4", I(vt::kI4, 2), cim::kBoolean, Value::Bool(true)},
      {"boolean from text", T(L"FALSE"), cim::kBoolean, Value::Bool(false)},
      {"boolean from other text", T(L"yes"), cim::kBoolean, Refused()},
      {"string from text", T(L"abc"), cim::kString, T(L"abc")},
      {"string from I4", I(vt::kI4, 1), cim::kString, Refused()},
      {"reference from text", T(L"C.K=\"v\""), cim::kReference, T(L"C.K=\"v\"")},
      {"datetime", T(L"20260102030405.000000+060"), cim::kDatetime,
       T(L"20260102030405.000000+060")},
      {"interval", T(L"00000001000000.000000:000"), cim::kDatetime,
       T(L"00000001000000.000000:000")},
      {"datetime short", T(L"20260102"), cim::kDatetime, Refused()},
      {"datetime letters", T(L"2026010203040x.000000+060"), cim::kDatetime, Refused()},
      {"object from text", T(L"x"), cim::kObject, Refused()},
      {"null anywhere", Value::Null(), cim::kUint64, Value::Null()},
      {"empty anywhere", Value::Empty(), cim::kObject, Value::Null()},
  });
}

TEST(CoerceForPutTest, ArraysConvertEachElementAndStartAtZero) {
  Value stored;
  Value bytes = Value::Array(vt::kI4, {I(vt::kI4, 1), I(vt::kI4, 255)}, 3);
  ASSERT_EQ(CoerceForPut(bytes, cim::kUint8 | cim::kArray, &stored), status::kOk);
  EXPECT_EQ(stored.type, vt::kArray | vt::kUi1);
  EXPECT_EQ(stored.lower, 0);
  ASSERT_EQ(stored.elements.size(), 2u);
  EXPECT_EQ(stored.elements[1].type, vt::kUi1);
  EXPECT_EQ(stored.elements[1].integer, 255);

  Value ids = Value::Array(vt::kBstr, {T(L"1"), T(L"02")});
  ASSERT_EQ(CoerceForPut(ids, cim::kUint64 | cim::kArray, &stored), status::kOk);
  EXPECT_EQ(stored.elements[1].text, L"2");

  Value objects = Value::Array(vt::kUnknown, {Value::Unknown(nullptr)});
  ASSERT_EQ(CoerceForPut(objects, cim::kObject | cim::kArray, &stored), status::kOk);
  EXPECT_EQ(stored.type, vt::kArray | vt::kUnknown);

  const struct {
    const char* name;
    Value value;
    int32_t cimType;
  } refused[] = {
      {"one element over", Value::Array(vt::kI4, {I(vt::kI4, 1), I(vt::kI4, 256)}),
       cim::kUint8 | cim::kArray},
      {"array into scalar", Value::Array(vt::kI4, {I(vt::kI4, 1)}), cim::kUint32},
      {"scalar into array", I(vt::kI4, 1), cim::kUint32 | cim::kArray},
      {"texts into objects", Value::Array(vt::kBstr, {T(L"x")}), cim::kObject | cim::kArray},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(CoerceForPut(c.value, c.cimType, &stored), status::kWbemTypeMismatch) << c.name;
  }
}

// Through a class's instance: Get after Put hands out the standard type.
TEST(CoerceForPutTest, GetAfterPutGivesTheStandardType) {
  auto def = std::make_shared<ClassDef>();
  def->name = L"MPIO_DSM_PATH";
  def->properties = {{L"DsmPathId", cim::kUint64},
                     {L"Reserved", cim::kUint64},
                     {L"PathWeight", cim::kUint32},
                     {L"Flag", cim::kUint8}};
  SimObject path(SimObject::Kind::kInstance, def, L"ROOT\\WMI");
  EXPECT_EQ(path.Put(L"Reserved", I(vt::kI4, 0), 0), status::kOk);
  EXPECT_EQ(path.Put(L"PathWeight", T(L"4294967295"), 0), status::kOk);
  EXPECT_EQ(path.Put(L"DsmPathId", T(L"not a number"), 0), status::kWbemTypeMismatch);
  EXPECT_EQ(path.Put(L"Flag", I(vt::kI4, 300), 0), status::kWbemTypeMismatch);
  EXPECT_EQ(path.Put(L"Flag", I(vt::kI4, 3), cim::kUint32), status::kWbemTypeMismatch);
  Value v;
  int32_t type = 0;
  ASSERT_EQ(path.Get(L"Reserved", &v, &type), status::kOk);
  EXPECT_EQ(v.type, vt::kBstr);
  EXPECT_EQ(v.text, L"0");
  EXPECT_EQ(type, cim::kUint64);
  ASSERT_EQ(path.Get(L"PathWeight", &v, &type), status::kOk);
  EXPECT_EQ(v.type, vt::kI4);
  EXPECT_EQ(v.integer, -1);
  ASSERT_EQ(path.Get(L"DsmPathId", &v, &type), status::kOk);
  EXPECT_TRUE(v.IsNull());  // the refused put left it unset
}

}  // namespace
}  // namespace platform::sim
