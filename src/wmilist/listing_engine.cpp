#include "wmilist/listing_engine.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "wmilist/format_value.h"
#include "wmilist/status_names.h"

namespace wmilist {
namespace {

namespace status = platform::status;

constexpr uint32_t kAuthnNone = 1;    // RPC_C_AUTHN_LEVEL_NONE
constexpr uint32_t kImpIdentify = 2;  // RPC_C_IMP_LEVEL_IDENTIFY
constexpr int32_t kFlagNone = 0;

// One level deeper for as long as it lives, whatever way the caller leaves.
class Deeper {
 public:
  explicit Deeper(ListingContext& context) : context_(context) { ++context_.depth; }
  ~Deeper() { --context_.depth; }
  Deeper(const Deeper&) = delete;
  Deeper& operator=(const Deeper&) = delete;

 private:
  ListingContext& context_;
};

void AppendIndent(const Listing& listing, std::wstring* text) {
  if (listing.context.depth > 0) text->append(2 * static_cast<size_t>(listing.context.depth), L' ');
}

// A line of wide text at the current depth.
void PrintLine(Listing& listing, std::wstring_view body) {
  std::wstring line;
  AppendIndent(listing, &line);
  line.append(body).push_back(L'\n');
  listing.out.WriteWide(line);
}

bool IsAbsentOrEmpty(const std::wstring* text) { return text == nullptr || text->empty(); }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i] >= L'a' && a[i] <= L'z' ? a[i] - 32 : a[i];
    wchar_t y = b[i] >= L'a' && b[i] <= L'z' ? b[i] - 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

// The identity part of a blanket: DOMAIN\user split at the first backslash.
void SetIdentity(const std::wstring* user, const std::wstring* password, wmi::Blanket* blanket) {
  blanket->withIdentity = true;
  if (user != nullptr) {
    size_t slash = user->find(L'\\');
    if (slash == std::wstring::npos) {
      blanket->user = *user;
    } else {
      blanket->domain = user->substr(0, std::min(slash, kMaxDomain));
      blanket->user = user->substr(slash + 1);
    }
  }
  if (password != nullptr) blanket->password = *password;
}

// Reads a text property, such as __CLASS. A value that is no text reads as
// empty text; the read's own status is returned.
HResult ReadText(const wmi::Object& object, std::wstring_view name, std::wstring* text) {
  wmi::Value value;
  HResult hr = object.Get(name, &value, nullptr);
  text->clear();
  if (hr >= 0 && value.type == wmi::vt::kBstr) *text = std::move(value.text);
  return hr;
}

ObjectPrinter PrinterOf(const Listing& listing, std::wstring_view className) {
  for (const EmbeddedClass& row : listing.embedded) {
    if (row.className == className) return row.printer;
  }
  return FormatAllProperties;
}

ObjectPrinter PrinterOf(const Listing& listing, const wmi::Object& object) {
  std::wstring className;
  if (ReadText(object, L"__CLASS", &className) < 0) return FormatAllProperties;
  return PrinterOf(listing, className);
}

// The line that takes the place of objects nested beyond kMaxDepth.
bool AppendTooDeep(const Listing& listing, std::wstring* text) {
  AppendIndent(listing, text);
  text->append(L"<too deeply nested>\n");
  return true;
}

bool FormatEmbeddedObject(Listing& listing, const wmi::Value& value, std::wstring* text) {
  if (value.object == nullptr) return false;
  Deeper deeper(listing.context);
  if (listing.context.depth > kMaxDepth) return AppendTooDeep(listing, text);
  return PrinterOf(listing, *value.object)(listing, *value.object, text);
}

// One "instance of" block of an array element; false when the element
// cannot be fetched or its class name read.
bool FormatElement(Listing& listing, const wmi::Value& element, std::wstring* text) {
  if (element.type != wmi::vt::kUnknown || element.object == nullptr) return false;
  std::wstring className;
  HResult hr = ReadText(*element.object, L"__CLASS", &className);
  if (hr < 0) {
    ReportWmiError(listing, "Couldn't get class property in enumproperties", hr);
    return false;
  }
  AppendIndent(listing, text);
  text->append(L"instance of ").append(className).append(L" {\n");
  {
    Deeper deeper(listing.context);
    if (listing.context.depth > kMaxDepth) {
      AppendTooDeep(listing, text);
    } else {
      PrinterOf(listing, className)(listing, *element.object, text);
    }
  }
  AppendIndent(listing, text);
  text->append(L" }\n");
  return true;
}

bool FormatEmbeddedArray(Listing& listing, const wmi::Value& array, std::wstring* text) {
  Deeper deeper(listing.context);
  if (array.lowerStatus != status::kOk || array.upperStatus != status::kOk) return false;
  if (listing.context.depth > kMaxDepth) return AppendTooDeep(listing, text);
  if (array.elements.empty()) {
    AppendIndent(listing, text);
    text->append(L"<empty array>\n");
    return true;
  }
  for (const wmi::Value& element : array.elements) {
    if (!FormatElement(listing, element, text)) return false;
  }
  return true;
}

// Whether a property is a key, from its qualifiers; false after a report.
bool ReadQualifiers(Listing& listing, const wmi::Object& object, std::wstring_view name,
                    bool* key) {
  *key = false;
  HResult hr = object.GetPropertyQualifierSet(name);
  if (hr == status::kWbemSystemProperty) return true;
  if (hr < 0) {
    ReportWmiError(listing, "Could not GetPropertyQualifierSet", hr);
    return false;
  }
  wmi::Value value;
  hr = object.GetPropertyQualifier(name, L"CIMTYPE", &value);
  if (hr < 0 && hr != status::kWbemNotFound) {
    ReportWmiError(listing, "Could not get CIMTYPE qualifier", hr);
    return false;
  }
  value = wmi::Value{};
  hr = object.GetPropertyQualifier(name, L"key", &value);
  if (hr < 0 && hr != status::kWbemNotFound) {
    ReportWmiError(listing, "Could not get key qualifier", hr);
    return false;
  }
  *key = hr >= 0 && value.type == wmi::vt::kBool && value.integer != 0;
  return true;
}

// "Can't get X: %d" or "X: text" for one property of an error object.
void ReportErrorProperty(Listing& listing, const wmi::Object& error, const char* name) {
  wmi::Value value;
  std::wstring wideName(name, name + std::char_traits<char>::length(name));
  HResult hr = error.Get(wideName, &value, nullptr);
  if (hr < 0) {
    char line[64];
    std::snprintf(line, sizeof line, "Can't get %s: %d\n", name, static_cast<int>(hr));
    listing.out.Write(line);
    return;
  }
  if (value.type != wmi::vt::kBstr) return;
  listing.out.WriteWide(wideName + L": " + value.text + L"\n");
}

}  // namespace

void ListingContext::SetNamespacePath(std::wstring_view path) {
  namespacePath.assign(path.substr(0, std::min(path.size(), kMaxNamespacePath)));
}

int ReportWmiError(Listing& listing, std::string_view message, HResult code) {
  platform::Output& out = listing.out;
  out.Write(message);
  out.Write("\n");
  char number[16];
  std::snprintf(number, sizeof number, "%08lx",
                static_cast<unsigned long>(static_cast<uint32_t>(code)));
  out.Write("FunctionReturn: " + WbemStatusName(code) + " (0x" + number + ") \n");
  if (wmi::ObjectPtr error = listing.runtime.TakeErrorObject(); error != nullptr) {
    if (error->InheritsFrom(L"__NotifyStatus") != status::kOk) {
      out.Write("Unrecognized Error Object type\n");
    }
    if (error->InheritsFrom(L"__ExtendedStatus") == status::kOk) {
      for (const char* name : {"Description", "Operation", "ParameterInfo", "ProviderName"}) {
        ReportErrorProperty(listing, *error, name);
      }
    }
  }
  out.Write("Abnormal Termination\n");
  return 1;
}

HResult SetupAuthAndImp(wmi::Proxy* proxy, const std::wstring* authority, const std::wstring* user,
                        const std::wstring* password, uint32_t authnLevel, uint32_t implLevel) {
  if (proxy == nullptr) return status::kWbemInvalidParameter;
  uint32_t currentAuthn = 0;
  uint32_t currentImp = 0;
  if (HResult hr = proxy->QueryBlanket(&currentAuthn, &currentImp); hr < 0) return hr;
  wmi::Blanket blanket;
  blanket.authnLevel = authnLevel == kKeepLevel ? currentAuthn : authnLevel;
  blanket.impLevel = implLevel == kKeepLevel ? currentImp : implLevel;
  if (blanket.authnLevel == kAuthnNone) {
    blanket.impLevel = kImpIdentify;
  } else if (!(IsAbsentOrEmpty(authority) && IsAbsentOrEmpty(user) && IsAbsentOrEmpty(password))) {
    SetIdentity(user, password, &blanket);
  }
  return proxy->SetBlanket(blanket);
}

int ConnectForListing(Listing& listing, wmi::ServicesPtr* services) {
  services->reset();
  wmi::LocatorPtr locator;
  HResult hr = listing.runtime.CreateLocator(&locator);
  if (hr < 0 || locator == nullptr) {
    return ReportWmiError(listing, "Failed to create IWbemLocator object", hr);
  }
  const ListingContext& context = listing.context;
  const std::wstring* user = context.user ? &*context.user : nullptr;
  const std::wstring* password = context.password ? &*context.password : nullptr;
  hr = locator->ConnectServer(context.namespacePath, user, password, services);
  if (hr < 0 || *services == nullptr) return ReportWmiError(listing, "ConnectServer failed", hr);
  hr = SetupAuthAndImp(services->get(), nullptr, user, password, kKeepLevel, kImpersonate);
  if (hr < 0) return ReportWmiError(listing, "SetupAuthAndImp Failed on ConnectServer", hr);
  return 0;
}

int EnumNamespace(Listing& listing, wmi::Services& services, std::wstring_view className) {
  wmi::ObjectPtr system;
  HResult hr = services.GetObject(L"__SystemClass", kFlagNone, &system);
  if (hr < 0 || system == nullptr) {
    return ReportWmiError(listing, "Could not GetObject of __SystemClass in EnumNamespace", hr);
  }
  std::wstring name;
  hr = ReadText(*system, L"__NAMESPACE", &name);
  if (hr < 0) return ReportWmiError(listing, "Could not get __NameSpace property for class", hr);
  PrintLine(listing, L"<" + name + L">");
  system.reset();
  Deeper deeper(listing.context);
  wmi::ObjectPtr classObject;
  hr = services.GetObject(className, kFlagNone, &classObject);
  if (hr < 0 || classObject == nullptr) {
    listing.out.Flush();
    listing.err.WriteWide(std::wstring(className) + L"\n");
    return ReportWmiError(listing, "Could not GetObject of specified class in EnumNamespace", hr);
  }
  hr = ReadText(*classObject, L"__CLASS", &name);
  if (hr < 0) return ReportWmiError(listing, "Could not get __Class property for class", hr);
  classObject.reset();
  if (name.starts_with(L"__")) return 0;
  return EnumInstances(listing, services, name);
}

int EnumInstances(Listing& listing, wmi::Services& services, std::wstring_view className) {
  PrintLine(listing, className);
  wmi::EnumeratorPtr enumerator;
  HResult hr = services.CreateInstanceEnum(className, wmi::kFlagShallow, &enumerator);
  if (hr < 0 || enumerator == nullptr) {
    return ReportWmiError(listing, "Couldn't create instance enum", hr);
  }
  const ListingContext& context = listing.context;
  hr = SetupAuthAndImp(enumerator.get(), nullptr, context.user ? &*context.user : nullptr,
                       context.password ? &*context.password : nullptr, kKeepLevel, kImpersonate);
  if (hr < 0) return ReportWmiError(listing, "SetupAuthAndImp Failed on CreateInstanceEnum", hr);
  bool first = true;
  for (;;) {
    wmi::ObjectPtr object;
    uint32_t returned = 0;
    hr = enumerator->Next(wmi::kInfinite, &object, &returned);
    if (hr == status::kWbemSFalse) return 0;
    if (hr != status::kOk) return ReportWmiError(listing, "Could not get next instance", hr);
    // A success without an object would otherwise be asked for again forever.
    if (object == nullptr) return 0;
    if (!first) PrintLine(listing, className);
    first = false;
    PrintInstance(listing, *object);
  }
}

void PrintInstance(Listing& listing, const wmi::Object& object) {
  std::wstring text;
  {
    Deeper deeper(listing.context);
    ObjectPrinter printer = listing.context.topPrinter;
    if (printer == nullptr) printer = FormatAllProperties;
    printer(listing, object, &text);
  }
  text.push_back(L'\n');
  listing.out.WriteWide(text);
}

bool FormatAllProperties(Listing& listing, const wmi::Object& object, std::wstring* text) {
  std::vector<std::wstring> names;
  HResult hr = object.GetNames(wmi::kFlagNonSystemOnly, &names);
  if (hr < 0) {
    ReportWmiError(listing, "Couldn't GetNames", hr);
    return false;
  }
  for (const std::wstring& name : names) {
    if (EqualsNoCase(name, L"__SERVER") || EqualsNoCase(name, L"__PATH")) continue;
    FormatProperty(listing, object, name, text);
  }
  return true;
}

bool FormatPropertyList(Listing& listing, const wmi::Object& object,
                        std::span<const std::wstring_view> names, std::wstring* text) {
  for (std::wstring_view name : names) FormatProperty(listing, object, name, text);
  return true;
}

bool FormatProperty(Listing& listing, const wmi::Object& object, std::wstring_view name,
                    std::wstring* text) {
  wmi::Value value;
  int32_t cimType = 0;
  HResult hr = object.Get(name, &value, &cimType);
  if (hr < 0) {
    listing.out.WriteWide(L"Error: property '" + std::wstring(name) + L"' - ");
    ReportWmiError(listing, "Couldn't get property value", hr);
    return false;
  }
  bool key = false;
  if (!ReadQualifiers(listing, object, name, &key)) return false;
  const size_t before = text->size();
  AppendIndent(listing, text);
  text->append(name);
  if (key) text->push_back(L'*');
  text->append(L" = ");
  const bool embedded =
      value.type == wmi::vt::kUnknown || value.type == (wmi::vt::kArray | wmi::vt::kUnknown);
  if (embedded) text->push_back(L'\n');
  const EmbeddedFormatter formatter = [&listing](const wmi::Value& v, std::wstring* out) {
    return FormatEmbedded(listing, v, out);
  };
  if (!AppendValue(cimType, value, &formatter, text)) {
    text->resize(before);
    return false;
  }
  if (!embedded) text->push_back(L'\n');
  return true;
}

bool FormatEmbedded(Listing& listing, const wmi::Value& value, std::wstring* text) {
  const size_t before = text->size();
  bool present = true;
  if (value.type == wmi::vt::kUnknown) {
    present = FormatEmbeddedObject(listing, value, text);
  } else if (value.type == (wmi::vt::kArray | wmi::vt::kUnknown)) {
    present = FormatEmbeddedArray(listing, value, text);
  } else {
    text->append(L"<conversion error>");
  }
  if (!present) text->resize(before);
  return present;
}

}  // namespace wmilist
