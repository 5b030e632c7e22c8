#include "wmilist/dsm_printers.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "cli/words.h"
#include "dsm/properties.h"
#include "dsm/wmi_connection.h"
#include "platform/wmi.h"

namespace wmilist {
namespace {

using platform::HResult;
using platform::Output;
using platform::wmi::Object;
using platform::wmi::ObjectPtr;
using platform::wmi::Value;
namespace vt = platform::wmi::vt;
namespace status = platform::status;

// Integers of every width, and VARIANT_BOOL, which carries 0 or -1.
bool IsInteger(uint16_t type) { return vt::IsInteger(type) || type == vt::kBool; }

bool IsObject(const Value& v) {
  return (v.type == vt::kUnknown || v.type == vt::kDispatch) && v.object != nullptr;
}

// A property that exists and holds something. A null object (a missing
// embedded object) has no properties.
bool Read(const Object* object, std::wstring_view name, Value* value) {
  if (object == nullptr) return false;
  if (platform::Failed(object->Get(name, value, nullptr))) return false;
  return !value->IsNull();
}

// The bits of an integer property; none for any other kind of value.
std::optional<uint64_t> ReadInteger(const Object* object, std::wstring_view name) {
  Value value;
  if (!Read(object, name, &value) || !IsInteger(value.type)) return std::nullopt;
  return static_cast<uint64_t>(value.integer);
}

// A uint64 as WMI carries it, decimal text; an integer VARIANT as its value.
std::optional<uint64_t> ReadUint64(const Object* object, std::wstring_view name) {
  Value value;
  if (!Read(object, name, &value)) return std::nullopt;
  if (value.type == vt::kBstr) return dsm::ParseUint64(value.text);
  if (IsInteger(value.type)) return static_cast<uint64_t>(value.integer);
  return std::nullopt;
}

ObjectPtr ReadObject(const Object* object, std::wstring_view name) {
  Value value;
  if (!Read(object, name, &value) || !IsObject(value)) return nullptr;
  return value.object;
}

// The elements of an integer array, with its lower bound; none for any
// other value (a scalar, an array of texts, an array whose bounds failed).
bool ReadIntegerArray(const Object* object, std::wstring_view name, Value* array) {
  return Read(object, name, array) && array->IsArray() && IsInteger(array->ElementType());
}

void Append(std::string& line, uint64_t number) {
  char digits[20];
  size_t start = sizeof(digits);
  do {
    digits[--start] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  line.append(digits + start, sizeof(digits) - start);
}

// Every labelled line is built here and written whole.
class Lines {
 public:
  explicit Lines(Output& out) : out_(out) {}

  void Text(std::string_view label, const Object* o, std::wstring_view name) {
    line_ = label;
    Value value;
    if (Read(o, name, &value) && value.type == vt::kBstr) {
      line_ += platform::ToConsoleCString(value.text);
    }
    End();
  }
  // An integer property cut to its low `bits` (below 64) and printed
  // unsigned.
  void Unsigned(std::string_view label, const Object* o, std::wstring_view name, int bits) {
    line_ = label;
    if (auto value = ReadInteger(o, name)) Append(line_, *value & ((uint64_t{1} << bits) - 1));
    End();
  }
  void U32(std::string_view label, const Object* o, std::wstring_view name) {
    Unsigned(label, o, name, 32);
  }
  void U16(std::string_view label, const Object* o, std::wstring_view name) {
    Unsigned(label, o, name, 16);
  }
  void Byte(std::string_view label, const Object* o, std::wstring_view name) {
    Unsigned(label, o, name, 8);
  }
  void Hex64(std::string_view label, const Object* o, std::wstring_view name, int width) {
    line_ = label;
    if (auto value = ReadUint64(o, name)) line_ += Hex64Text(*value, width);
    End();
  }
  void Policy(std::string_view label, const Object* o, std::wstring_view name) {
    line_ = label;
    if (auto value = ReadInteger(o, name)) AppendPolicyWord(static_cast<uint32_t>(*value));
    End();
  }
  // Elements from the lower to the upper bound, "%02X " each, a line end
  // and `indent` blanks after every index whose successor is a multiple
  // of 16.
  void ByteDump(std::string_view label, const Object* o, std::wstring_view name, int indent) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    line_ = label;
    Value array;
    if (ReadIntegerArray(o, name, &array)) {
      int64_t index = array.lower;
      for (const Value& element : array.elements) {
        const auto byte = static_cast<uint8_t>(element.integer);
        line_ += kHex[byte >> 4];
        line_ += kHex[byte & 15];
        line_ += ' ';
        if ((index + 1) % 16 == 0) {
          line_ += '\n';
          line_.append(static_cast<size_t>(indent), ' ');
        }
        ++index;
      }
    }
    End();
  }
  // Each element as the one byte it holds, nothing between them.
  void Characters(std::string_view label, const Object* o, std::wstring_view name) {
    line_ = label;
    Value array;
    if (ReadIntegerArray(o, name, &array)) {
      for (const Value& element : array.elements) line_ += static_cast<char>(element.integer);
    }
    End();
  }
  void Empty() { out_.Write("\n"); }

  /// The configuration arrays: `count` elements by index from 0, each
  /// 0xFFFFFFFF unless the array holds an integer at that index.
  void ConfigArray(std::string_view label, const Value& array, uint32_t count, bool policies);

 private:
  void AppendPolicyWord(uint32_t value) {
    if (value >= 1 && value <= 7) line_ += cli::PolicyNameOf(value);
  }
  void End() {
    line_ += '\n';
    out_.Write(line_);
  }

  Output& out_;
  std::string line_;
};

uint32_t ElementAt(const Value& array, int64_t index) {
  if (!array.IsArray() || !IsInteger(array.ElementType())) return 0xFFFFFFFF;
  const int64_t at = index - array.lower;
  if (at < 0 || at >= static_cast<int64_t>(array.elements.size())) return 0xFFFFFFFF;
  const Value& element = array.elements[static_cast<size_t>(at)];
  return IsInteger(element.type) ? static_cast<uint32_t>(element.integer) : 0xFFFFFFFF;
}

void Lines::ConfigArray(std::string_view label, const Value& array, uint32_t count, bool policies) {
  line_ = label;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t value = ElementAt(array, i);
    if (i > 0) {
      line_ += ", ";
      if (policies && i % 4 == 0) line_ += '\n';
    }
    if (policies) {
      AppendPolicyWord(value);
    } else {
      Append(line_, value);
    }
  }
  End();
}

// One past the highest index from 0 that an array holds. An array that
// starts beyond the placeholder limit backs nothing below it and so does
// not raise the limit: a lower bound of 2,000,000,000 would otherwise ask
// for two billion placeholders.
uint32_t Extent(const Value& array) {
  if (!array.IsArray() || array.elements.empty()) return 0;
  if (array.lower > static_cast<int64_t>(kMaxPlaceholderElements)) return 0;
  const int64_t end = int64_t{array.lower} + static_cast<int64_t>(array.elements.size());
  return static_cast<uint32_t>(std::clamp<int64_t>(end, 0, UINT32_MAX));
}

void ConfigInstance(Lines& lines, const Object& o) {
  lines.Text("  InstanceName: ", &o, L"InstanceName");
  lines.U32("  NumberFOGroups: ", &o, L"NumberFOGroups");
  lines.U32("  NumberMPGroups: ", &o, L"NumberMPGroups");
  // The count decides how many elements print, not the arrays' bounds.
  uint32_t count = static_cast<uint32_t>(ReadInteger(&o, L"NumberMPGroups").value_or(0));
  std::array<Value, 3> arrays;
  const std::array<std::wstring_view, 3> names = {L"LoadBalancePolicy", L"FailBack",
                                                  L"ReservationList"};
  uint32_t limit = kMaxPlaceholderElements;
  for (size_t i = 0; i < arrays.size(); ++i) {
    if (!Read(&o, names[i], &arrays[i])) arrays[i] = Value{};
    limit = std::max(limit, Extent(arrays[i]));
  }
  count = std::min(count, limit);
  lines.ConfigArray("  LoadBalancePolicy: ", arrays[0], count, true);
  lines.ConfigArray("  FailBack: ", arrays[1], count, false);
  lines.ConfigArray("  ReservationList: ", arrays[2], count, false);
  lines.Empty();
}

// The object elements of an array property, lower to upper bound; null
// elements and elements of other kinds are left out.
std::vector<ObjectPtr> ObjectElements(const Object* object, std::wstring_view name) {
  std::vector<ObjectPtr> objects;
  Value array;
  if (!Read(object, name, &array) || !array.IsArray()) return objects;
  for (Value& element : array.elements) {
    if (IsObject(element)) objects.push_back(std::move(element.object));
  }
  return objects;
}

void PerfRecord(Lines& lines, const Object* p) {
  lines.U32("    NumberReads: ", p, L"NumberReads");
  lines.U32("    NumberWrites: ", p, L"NumberWrites");
  lines.Hex64("    BytesRead: ", p, L"BytesRead", 0);
  lines.Hex64("    BytesWritten: ", p, L"BytesWritten", 0);
  lines.Hex64("    PathId: ", p, L"PathId", 8);
  lines.Byte("    PortNumber: ", p, L"PortNumber");
  lines.Byte("    ScsiPathId: ", p, L"ScsiPathId");
  lines.Byte("    TargetId: ", p, L"TargetId");
  lines.Byte("    Lun: ", p, L"Lun");
  lines.ByteDump("    Identifier: ", p, L"Identifier", 16);
  lines.ByteDump("    Page80: ", p, L"Page80", 12);
  lines.ByteDump("    Page83: ", p, L"Page83", 12);
  lines.ByteDump("    PageD0: ", p, L"PageD0", 12);
  lines.ByteDump("    LMEI: ", p, L"LMEI", 12);
  lines.Characters("    vendorid: ", p, L"vendorid");
  lines.Characters("    productid: ", p, L"productid");
}

void PerfInstance(Lines& lines, const Object& o) {
  lines.Text("  InstanceName: ", &o, L"InstanceName");
  lines.U16("  NumberDevices: ", &o, L"NumberDevices");
  for (const ObjectPtr& record : ObjectElements(&o, L"PerfInfo")) PerfRecord(lines, record.get());
  lines.Empty();
}

void AluaLines(Lines& lines, const Object* p) {
  lines.U32("    OptimizedPath: ", p, L"OptimizedPath");
  lines.U32("    PreferredPath: ", p, L"PreferredPath");
  lines.U32("    FailedPath: ", p, L"FailedPath");
  lines.U32("    TargetPortGroup_State: ", p, L"TargetPortGroup_State");
  lines.U32("    ALUASupport: ", p, L"ALUASupport");
  lines.Byte("    SymmetricLUA: ", p, L"SymmetricLUA");
  lines.Byte("    TargetPortGroup_Preferred: ", p, L"TargetPortGroup_Preferred");
  lines.U16("    TargetPortGroup_Identifier: ", p, L"TargetPortGroup_Identifier");
  lines.U32("    TargetPort_Identifier: ", p, L"TargetPort_Identifier");
}

void PolicyInstance(Lines& lines, const Object& o, bool v2) {
  lines.Text("  InstanceName: ", &o, L"InstanceName");
  // Without the embedded object every line below has its label only.
  const ObjectPtr policy = ReadObject(&o, L"LoadBalancePolicy");
  const Object* p = policy.get();
  lines.U16("  Version: ", p, L"Version");
  lines.Policy("  LoadBalancePolicy: ", p, L"LoadBalancePolicy");
  lines.U32("  DSMPathCount: ", p, L"DSMPathCount");
  lines.U32("  Reserved: ", p, L"Reserved");
  for (const ObjectPtr& path : ObjectElements(p, L"DSM_Paths")) {
    lines.Hex64("    DsmPathId: ", path.get(), L"DsmPathId", 8);
    lines.U32("    PathWeight: ", path.get(), L"PathWeight");
    lines.U32("    PrimaryPath: ", path.get(), L"PrimaryPath");
    if (v2) AluaLines(lines, path.get());
    lines.Empty();
  }
  lines.Empty();
}

void UniqueIdInstance(Lines& lines, const Object& o) {
  lines.Text("  InstanceName: ", &o, L"InstanceName");
  lines.Hex64("  DsmUniqueId: ", &o, L"DsmUniqueId", 16);
  lines.Empty();
}

using InstancePrinter = void (*)(Lines&, const Object&);

// The frame every printer shares: an optional class check, the
// enumeration, an optional empty line, each instance until Next gives none.
HResult PrintAll(std::wstring_view className, bool classCheck, InstancePrinter print, Output& out) {
  auto& services = dsm::WmiServices();
  if (!services) return status::kFail;
  if (classCheck) {
    ObjectPtr definition;
    HResult hr = services->GetObject(className, 0, &definition);
    if (platform::Failed(hr)) return hr;
  }
  platform::wmi::EnumeratorPtr enumerator;
  HResult hr = services->CreateInstanceEnum(className, platform::wmi::kFlagShallow, &enumerator);
  if (platform::Failed(hr)) return hr;
  if (!enumerator) return status::kFail;
  Lines lines(out);
  if (classCheck) lines.Empty();
  while (true) {
    ObjectPtr object;
    uint32_t returned = 0;
    enumerator->Next(platform::wmi::kInfinite, &object, &returned);
    if (returned == 0 || !object) break;
    print(lines, *object);
  }
  return status::kOk;
}

void PrintConfigObject(Lines& l, const Object& o) { ConfigInstance(l, o); }
void PrintPerfObject(Lines& l, const Object& o) { PerfInstance(l, o); }
void PrintPolicyObject(Lines& l, const Object& o) { PolicyInstance(l, o, false); }
void PrintPolicyV2Object(Lines& l, const Object& o) { PolicyInstance(l, o, true); }
void PrintUniqueIdObject(Lines& l, const Object& o) { UniqueIdInstance(l, o); }

struct DsmClass {
  std::string_view word;
  HResult (*print)(Output&);
};

constexpr std::array<DsmClass, 5> kClasses = {{
    {"ORNDSM_CONFIGINFO", PrintConfigInfo},
    {"ORNDSM_PERFINFO", PrintPerfInfo},
    {"DSM_QueryLBPolicy", PrintLbPolicy},
    {"DSM_QueryLBPolicy_V2", PrintLbPolicyV2},
    {"DSM_QueryUniqueId", PrintUniqueId},
}};

}  // namespace

std::string Hex64Text(uint64_t value, int width) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), kHex[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return "0x" + digits;
}

HResult PrintConfigInfo(Output& out) {
  return PrintAll(L"ORNDSM_CONFIGINFO", true, PrintConfigObject, out);
}

HResult PrintPerfInfo(Output& out) {
  return PrintAll(L"ORNDSM_PERFINFO", false, PrintPerfObject, out);
}

HResult PrintLbPolicy(Output& out) {
  return PrintAll(L"DSM_QueryLBPolicy", false, PrintPolicyObject, out);
}

HResult PrintLbPolicyV2(Output& out) {
  return PrintAll(L"DSM_QueryLBPolicy_V2", false, PrintPolicyV2Object, out);
}

HResult PrintUniqueId(Output& out) {
  // The driver registers the class with this spelling.
  return PrintAll(L"Dsm_QueryUniqueId", true, PrintUniqueIdObject, out);
}

int PrintDsmInstances(std::string_view classWord, Output& out) {
  for (const DsmClass& c : kClasses) {
    if (cli::EqualsIgnoreCase(classWord, c.word)) {
      c.print(out);
      break;
    }
  }
  return 0;
}

}  // namespace wmilist
