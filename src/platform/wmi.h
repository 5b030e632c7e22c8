// The WMI part of the platform seam: the component runtime, the locator,
// services, enumerators, class objects and event sinks, as small abstract
// classes with the platform's own status codes and value types.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform::wmi {

/// VARIANT types (the VARENUM values). An array is kArray | element type.
namespace vt {
constexpr uint16_t kEmpty = 0;
constexpr uint16_t kNull = 1;
constexpr uint16_t kI2 = 2;
constexpr uint16_t kI4 = 3;
constexpr uint16_t kR4 = 4;
constexpr uint16_t kR8 = 5;
constexpr uint16_t kDate = 7;
constexpr uint16_t kBstr = 8;
constexpr uint16_t kDispatch = 9;
constexpr uint16_t kError = 10;
constexpr uint16_t kBool = 11;
constexpr uint16_t kVariant = 12;
constexpr uint16_t kUnknown = 13;
constexpr uint16_t kI1 = 16;
constexpr uint16_t kUi1 = 17;
constexpr uint16_t kUi2 = 18;
constexpr uint16_t kUi4 = 19;
constexpr uint16_t kI8 = 20;
constexpr uint16_t kUi8 = 21;
constexpr uint16_t kInt = 22;
constexpr uint16_t kUint = 23;
constexpr uint16_t kArray = 0x2000;
constexpr uint16_t kByRef = 0x4000;

/// A signed or unsigned integer of any width (VT_BOOL is not one).
constexpr bool IsInteger(uint16_t type) {
  return type == kI1 || type == kUi1 || type == kI2 || type == kUi2 || type == kI4 ||
         type == kUi4 || type == kI8 || type == kUi8 || type == kInt || type == kUint;
}
}  // namespace vt

/// CIM types (the CIMTYPE_ENUMERATION values). An array is kArray | element type.
namespace cim {
constexpr int32_t kIllegal = 0xFFF;
constexpr int32_t kEmpty = 0;
constexpr int32_t kSint8 = 16;
constexpr int32_t kUint8 = 17;
constexpr int32_t kSint16 = 2;
constexpr int32_t kUint16 = 18;
constexpr int32_t kSint32 = 3;
constexpr int32_t kUint32 = 19;
constexpr int32_t kSint64 = 20;
constexpr int32_t kUint64 = 21;
constexpr int32_t kReal32 = 4;
constexpr int32_t kReal64 = 5;
constexpr int32_t kBoolean = 11;
constexpr int32_t kString = 8;
constexpr int32_t kDatetime = 101;
constexpr int32_t kReference = 102;
constexpr int32_t kChar16 = 103;
constexpr int32_t kObject = 13;
constexpr int32_t kArray = 0x2000;
}  // namespace cim

/// Flags and constants of the WMI calls.
constexpr int32_t kFlagShallow = 1;           // WBEM_FLAG_SHALLOW
constexpr int32_t kFlagNonSystemOnly = 0x40;  // WBEM_FLAG_NONSYSTEM_ONLY
constexpr int32_t kFlagSendStatus = 128;      // WBEM_FLAG_SEND_STATUS
constexpr int32_t kInfinite = -1;             // WBEM_INFINITE

class Object;
class Enumerator;
class Services;
class Locator;
class EventSink;
using ObjectPtr = std::shared_ptr<Object>;
using EnumeratorPtr = std::shared_ptr<Enumerator>;
using ServicesPtr = std::shared_ptr<Services>;
using LocatorPtr = std::shared_ptr<Locator>;
using EventSinkPtr = std::shared_ptr<EventSink>;

/// One VARIANT. Scalars keep their VARIANT type in `type`; integers of
/// every width (and VARIANT_BOOL, as 0 or -1) live in `integer`, reals in
/// `real`, BSTR text in `text`, object interfaces (VT_UNKNOWN, VT_DISPATCH)
/// in `object`. An array (type kArray | element type) keeps its elements,
/// each a Value of the element type, with the lower bound of its one
/// dimension; a null object element is a VT_UNKNOWN Value without object.
/// An array whose bounds could not be read (a damaged SAFEARRAY) keeps the
/// failing codes in `lowerStatus` / `upperStatus` and has no elements.
struct Value {
  uint16_t type = vt::kEmpty;
  int64_t integer = 0;
  double real = 0.0;
  std::wstring text;
  ObjectPtr object;
  std::vector<Value> elements;
  int32_t lower = 0;
  HResult lowerStatus = status::kOk;
  HResult upperStatus = status::kOk;

  bool IsArray() const { return (type & vt::kArray) != 0; }
  uint16_t ElementType() const { return static_cast<uint16_t>(type & ~vt::kArray); }
  /// VT_EMPTY or VT_NULL: the property exists but holds nothing.
  bool IsNull() const { return type == vt::kEmpty || type == vt::kNull; }
  int32_t Upper() const { return lower + static_cast<int32_t>(elements.size()) - 1; }

  static Value Empty() { return Value{}; }
  static Value Null();
  static Value Int(uint16_t type, int64_t v);
  static Value I4(int32_t v) { return Int(vt::kI4, v); }
  static Value Bool(bool v) { return Int(vt::kBool, v ? -1 : 0); }
  static Value Real(uint16_t type, double v);
  static Value Bstr(std::wstring v);
  static Value Unknown(ObjectPtr v);
  /// An array of `elementType` with lower bound `lower`.
  static Value Array(uint16_t elementType, std::vector<Value> elements, int32_t lower = 0);
};

/// An IWbemClassObject: a class definition, an instance, a method's
/// parameter object or an error object.
class Object {
 public:
  virtual ~Object() = default;
  /// Reads a property, system properties (__CLASS, __NAMESPACE, __PATH,
  /// __SERVER, __RELPATH, __GENUS, ...) included. `cimType` may be null.
  /// kWbemNotFound when the object has no such property.
  virtual HResult Get(std::wstring_view name, Value* value, int32_t* cimType) const = 0;
  /// Sets a property. The value is converted to the property's standard
  /// VARIANT type (a uint64 to decimal text, a uint32 to VT_I4, ...), and
  /// one that cannot be converted is refused with kWbemTypeMismatch; an
  /// instance of a class that lacks it gives kWbemNotFound, a parameter
  /// object adds it.
  virtual HResult Put(std::wstring_view name, const Value& value, int32_t cimType) = 0;
  /// Property names in definition order; with kFlagNonSystemOnly the
  /// names beginning with "__" are left out.
  virtual HResult GetNames(int32_t flags, std::vector<std::wstring>* names) const = 0;
  /// A qualifier of a property ("key", "CIMTYPE", ...). kWbemSystemProperty
  /// for a system property (they have no qualifier set), kWbemNotFound for
  /// an unknown property or qualifier.
  virtual HResult GetPropertyQualifier(std::wstring_view property, std::wstring_view qualifier,
                                       Value* value) const = 0;
  /// IWbemClassObject::GetPropertyQualifierSet alone, the set released at
  /// once: kOk when the property's qualifier set can be had,
  /// kWbemSystemProperty for a system property, else the failure. It tells
  /// a set that cannot be opened from a qualifier that cannot be read,
  /// which GetPropertyQualifier reports alike. The default asks
  /// GetPropertyQualifier for "CIMTYPE" and passes on only a system
  /// property's answer.
  virtual HResult GetPropertyQualifierSet(std::wstring_view property) const;
  /// The input signature of a method of a class object (null when the
  /// method takes no input). kWbemNotFound for an unknown method.
  virtual HResult GetMethod(std::wstring_view name, ObjectPtr* inSignature) const = 0;
  /// A new instance of a class object, every property at its default.
  virtual HResult SpawnInstance(ObjectPtr* instance) const = 0;
  /// Whether the object is of class `ancestor` or of a class derived from
  /// it, as WMI answers (an error object of class __ExtendedStatus
  /// inherits from __ExtendedStatus): kOk (WBEM_S_NO_ERROR) when it is,
  /// kWbemSFalse when not.
  virtual HResult InheritsFrom(std::wstring_view ancestor) const = 0;
};

/// Security blanket of a proxy, as CoSetProxyBlanket takes it. The
/// identity is used only when `withIdentity` is set.
struct Blanket {
  uint32_t authnService = 10;  // RPC_C_AUTHN_WINNT
  uint32_t authzService = 0;   // RPC_C_AUTHZ_NONE
  uint32_t authnLevel = 0;
  uint32_t impLevel = 0;
  uint32_t capabilities = 0;
  bool withIdentity = false;
  std::wstring user;
  std::wstring domain;
  std::wstring password;
};

/// Something that is a COM proxy and so carries a security blanket.
class Proxy {
 public:
  virtual ~Proxy() = default;
  /// IClientSecurity::QueryBlanket: the current authentication and
  /// impersonation levels.
  virtual HResult QueryBlanket(uint32_t* authnLevel, uint32_t* impLevel) = 0;
  /// CoSetProxyBlanket with no principal name.
  virtual HResult SetBlanket(const Blanket& blanket) = 0;
};

/// An IEnumWbemClassObject.
class Enumerator : public Proxy {
 public:
  /// Fetches at most one object. kOk with *returned 1; kWbemSFalse with
  /// *returned 0 at the end; a negative code with *returned 0 on failure.
  virtual HResult Next(int32_t timeout, ObjectPtr* object, uint32_t* returned) = 0;
};

/// An IWbemObjectSink that the program implements and WMI calls, possibly
/// on threads of its own.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual HResult Indicate(const std::vector<ObjectPtr>& objects) = 0;
  virtual HResult SetStatus(int32_t flags, HResult result, const std::wstring* param,
                            const ObjectPtr& object) = 0;
};

/// An IWbemServices bound to one namespace.
class Services : public Proxy {
 public:
  virtual HResult CreateInstanceEnum(std::wstring_view className, int32_t flags,
                                     EnumeratorPtr* enumerator) = 0;
  /// A class definition by class name, or an instance by object path.
  virtual HResult GetObject(std::wstring_view path, int32_t flags, ObjectPtr* object) = 0;
  /// Executes a method on the object named by `objectPath`. `inParams` may
  /// be null; `outParams` may be null when the caller wants none.
  virtual HResult ExecMethod(std::wstring_view objectPath, std::wstring_view method,
                             const ObjectPtr& inParams, ObjectPtr* outParams) = 0;
  /// Subscribes `sink` (a stub made by the unsecured apartment) to events.
  virtual HResult ExecNotificationQueryAsync(std::wstring_view language, std::wstring_view query,
                                             int32_t flags, const EventSinkPtr& sink) = 0;
  virtual HResult CancelAsyncCall(const EventSinkPtr& sink) = 0;
};

/// An IWbemLocator.
class Locator {
 public:
  virtual ~Locator() = default;
  /// Absent user or password are null pointers; no locale, no authority,
  /// no context.
  virtual HResult ConnectServer(std::wstring_view resource, const std::wstring* user,
                                const std::wstring* password, ServicesPtr* services) = 0;
};

/// The COM runtime of the process, as far as the programs use it.
class Runtime {
 public:
  virtual ~Runtime() = default;
  /// CoInitializeEx(NULL, COINIT_MULTITHREADED).
  virtual HResult Initialize() = 0;
  /// CoInitializeSecurity(NULL, -1, NULL, NULL, level default,
  /// impersonate, NULL, EOAC_NONE, NULL).
  virtual HResult InitializeSecurity() = 0;
  /// CoCreateInstance(CLSID_WbemLocator, ..., CLSCTX_INPROC_SERVER, IID_IWbemLocator).
  virtual HResult CreateLocator(LocatorPtr* locator) = 0;
  /// CoCreateInstance of the unsecured apartment and CreateObjectStub for
  /// `sink`: the stub through which WMI delivers events to the sink.
  virtual HResult CreateSinkStub(const EventSinkPtr& sink, EventSinkPtr* stub) = 0;
  /// The error object left behind by the last failed WMI call of this
  /// thread (GetErrorInfo), or null.
  virtual ObjectPtr TakeErrorObject() = 0;
  /// CoUninitialize.
  virtual void Uninitialize() = 0;
};

}  // namespace platform::wmi
