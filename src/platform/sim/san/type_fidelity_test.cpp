// Every value the simulated machine hands out has the VARIANT type that WMI
// uses for the property's CIM type, in every class, embedded objects
// included; only forced raw values differ.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/demo_machine.h"
#include "platform/sim/san/san.h"
#include "platform/sim/wmi/cim_values.h"
#include "platform/sim/wmi/sim_object.h"
#include "platform/sim/wmi/wmi_data.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;
using wmi::ObjectPtr;
using wmi::Value;
namespace cim = wmi::cim;
namespace vt = wmi::vt;

std::string Name(const std::wstring& text) { return Narrow(text); }

/// Whether an integer VARIANT's value fits the width of its type.
bool FitsWidth(uint16_t type, int64_t v) {
  switch (type) {
    case vt::kUi1:
      return v >= 0 && v <= 0xFF;
    case vt::kI2:
      return v >= -32768 && v <= 32767;
    case vt::kI4:
      return v >= INT32_MIN && v <= INT32_MAX;
    case vt::kBool:
      return v == 0 || v == -1;
    default:
      return true;
  }
}

/// Decimal text of a signed or unsigned 64-bit integer.
bool IsDecimal(const std::wstring& text) {
  size_t i = !text.empty() && text[0] == L'-' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
  }
  return true;
}

class TypeWalker {
 public:
  /// Checks every property of `object`, then of the objects in it.
  void Walk(const ObjectPtr& object, const std::string& where, int depth) {
    ASSERT_LT(depth, 16) << where;
    std::vector<std::wstring> names;
    ASSERT_EQ(object->GetNames(0, &names), status::kOk) << where;
    for (const std::wstring& name : names) {
      Value value;
      int32_t cimType = 0;
      ASSERT_EQ(object->Get(name, &value, &cimType), status::kOk) << where << "." << Name(name);
      CheckCimTypeQualifier(*object, name, cimType, where);
      Check(value, cimType, where + "." + Name(name), depth);
      ++checked;
    }
  }

  size_t checked = 0;

 private:
  void Check(const Value& value, int32_t cimType, const std::string& where, int depth) {
    if (value.IsNull()) return;  // a null value has no type of its own
    const uint16_t expected = StandardVariantType(cimType);
    ASSERT_NE(expected, vt::kEmpty) << where << ": CIM type " << cimType;
    ASSERT_EQ(value.type, expected) << where;
    if (!value.IsArray()) {
      CheckScalar(value, cimType, where, depth);
      return;
    }
    EXPECT_EQ(value.lower, 0) << where;
    for (size_t i = 0; i < value.elements.size(); ++i) {
      const Value& element = value.elements[i];
      const std::string at = where + "[" + std::to_string(i) + "]";
      ASSERT_EQ(element.type, value.ElementType()) << at;
      CheckScalar(element, cimType & ~cim::kArray, at, depth);
    }
  }

  void CheckScalar(const Value& value, int32_t cimType, const std::string& where, int depth) {
    EXPECT_TRUE(FitsWidth(value.type, value.integer)) << where << " = " << value.integer;
    const int32_t element = cimType & ~cim::kArray;
    if (element == cim::kUint64 || element == cim::kSint64) {
      EXPECT_TRUE(IsDecimal(value.text)) << where << " = " << Name(value.text);
      if (element == cim::kUint64) {
        EXPECT_NE(value.text[0], L'-') << where;
      }
    }
    if (value.type == vt::kUnknown && value.object) Walk(value.object, where, depth + 1);
  }

  void CheckCimTypeQualifier(const wmi::Object& object, const std::wstring& name, int32_t cimType,
                             const std::string& where) {
    if (name.rfind(L"__", 0) == 0) return;  // system properties have no qualifiers
    Value qualifier;
    ASSERT_EQ(object.GetPropertyQualifier(name, L"CIMTYPE", &qualifier), status::kOk)
        << where << "." << Name(name);
    int32_t parsed = 0;
    std::wstring text = qualifier.text;
    const bool array = text.size() > 2 && text.substr(text.size() - 2) == L"[]";
    if (array) text.resize(text.size() - 2);
    text = text.substr(0, text.find(L':'));
    if (text == L"ref") text = L"reference";
    ASSERT_TRUE(ParseCimType(Name(text), &parsed)) << Name(qualifier.text);
    EXPECT_EQ(parsed, cimType & ~cim::kArray) << where << "." << Name(name);
  }
};

/// Every instance of every class of `ns`, and every class object.
size_t WalkNamespace(const Namespace& ns) {
  TypeWalker walker;
  for (const std::wstring& className : ns.ClassNames()) {
    walker.Walk(ns.ClassObject(className), "class " + Name(className), 0);
    auto instances = ns.Instances(className);
    if (!instances) continue;
    for (size_t i = 0; i < instances->Size(); ++i) {
      walker.Walk(instances->At(i), Name(className) + "[" + std::to_string(i) + "]", 0);
    }
  }
  return walker.checked;
}

TEST(TypeFidelity, EveryValueOfTheDemoMachine) {
  MachineState state;
  state.Adopt(DemoMachine(), "");
  Repository repository;
  Namespace& ns = repository.Add(L"ROOT\\WMI");
  std::string error;
  ASSERT_TRUE(InstallSan(state, ns, &error)) << error;
  // Events as a machine file lists them: plain values of the event class.
  ASSERT_TRUE(LoadWmiData(Json::parse(R"({"ROOT\\WMI": {"instances": {"MPIO_EventEntry": [
      {"InstanceName": "e1", "Active": true, "TimeStamp": "116444736000000000",
       "Severity": 3, "Component": "MPIO", "EventDescription": "path failed", "$delay": 5}]}}})"),
                          repository, &error))
      << error;
  ASSERT_EQ(ns.Instances(L"MPIO_EventEntry")->Size(), 1u);
  EXPECT_GT(WalkNamespace(ns), 4500u);  // every class and path was reached
}

TEST(TypeFidelity, RawIntegersAreHeldInTheirVariantWidth) {
  Repository repository;
  std::string error;
  ASSERT_TRUE(LoadWmiData(Json::parse(R"({"ROOT\\WMI": {
      "classes": [{"name": "C", "properties": [
        {"name": "U8", "type": "uint8"}, {"name": "S8", "type": "sint8"},
        {"name": "U16", "type": "uint16"}, {"name": "U32", "type": "uint32"},
        {"name": "C16", "type": "char16"}, {"name": "U32s", "type": "uint32[]"},
        {"name": "B", "type": "boolean"}, {"name": "U64", "type": "uint64"},
        {"name": "Forced", "type": "uint32"}]}],
      "instances": {"C": [{"U8": 255, "S8": -1, "U16": 65535, "U32": 4294967295,
        "C16": 65535, "U32s": [4294967294, 1], "B": true, "U64": 18446744073709551615,
        "Forced": {"$vt": "ui1", "$value": 257}}]}}})"),
                          repository, &error))
      << error;
  const Namespace& ns = *repository.Find(L"ROOT\\WMI");
  const ObjectPtr c = ns.Instances(L"C")->At(0);
  const struct {
    const wchar_t* name;
    uint16_t type;
    int64_t integer;
  } cases[] = {
      {L"U8", vt::kUi1, 255},   {L"S8", vt::kI2, -1},  {L"U16", vt::kI4, 65535},
      {L"U32", vt::kI4, -1},    {L"C16", vt::kI2, -1}, {L"B", vt::kBool, -1},
      {L"Forced", vt::kUi1, 1},
  };
  for (const auto& k : cases) {
    Value v;
    ASSERT_EQ(c->Get(k.name, &v, nullptr), status::kOk);
    EXPECT_EQ(v.type, k.type) << Name(k.name);
    EXPECT_EQ(v.integer, k.integer) << Name(k.name);
  }
  Value v;
  ASSERT_EQ(c->Get(L"U32s", &v, nullptr), status::kOk);
  ASSERT_EQ(v.elements.size(), 2u);
  EXPECT_EQ(v.elements[0].integer, -2);
  ASSERT_EQ(c->Get(L"U64", &v, nullptr), status::kOk);
  EXPECT_EQ(v.text, L"18446744073709551615");
}

}  // namespace
}  // namespace platform::sim
