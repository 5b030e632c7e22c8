// The engine behind mpiolist: a connection of its own to a namespace of the
// local or a remote machine, the namespace line, the instances of one class
// as indented text made of property lines, objects embedded in properties
// printed through printers chosen by their class, and a report for every
// WMI failure with the status name and the WMI error object's details.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/output.h"
#include "platform/status.h"
#include "platform/wmi.h"

namespace wmilist {

using platform::HResult;
namespace wmi = platform::wmi;

struct Listing;

/// An object printer: appends the text of `object` to `text` and returns
/// true, or returns false after reporting its failure, `text` then as it was.
using ObjectPrinter = bool (*)(Listing& listing, const wmi::Object& object, std::wstring* text);

/// A row of the embedded-class table: the printer of objects of one class.
struct EmbeddedClass {
  std::wstring_view className;
  ObjectPrinter printer;
};

/// Longest namespace path kept; longer ones are cut.
constexpr size_t kMaxNamespacePath = 259;
/// Longest domain kept from a DOMAIN\user name.
constexpr size_t kMaxDomain = 259;
/// A proxy security level that keeps the proxy's current one.
constexpr uint32_t kKeepLevel = 0xFFFFFFFF;
/// RPC_C_IMP_LEVEL_IMPERSONATE, the impersonation the listing asks for.
constexpr uint32_t kImpersonate = 3;
/// Embedded objects nested deeper than this many levels of indentation are
/// not printed (see FormatEmbedded): the nesting is bounded so that the
/// recursion through the printers cannot exhaust the stack.
constexpr int32_t kMaxDepth = 300;

/// What one mpiolist command lists, filled anew by each command.
struct ListingContext {
  std::wstring namespacePath;
  std::wstring className;
  ObjectPrinter topPrinter = nullptr;
  std::optional<std::wstring> user;
  std::optional<std::wstring> password;
  /// Text at depth d is indented by d times two blanks.
  int32_t depth = 0;

  /// Sets the namespace path, cut at kMaxNamespacePath characters.
  void SetNamespacePath(std::wstring_view path);
};

/// The engine's surroundings: the context, where text goes, the runtime
/// that holds WMI's error objects and the embedded-class table.
struct Listing {
  ListingContext& context;
  platform::Output& out;
  /// Standard error: only the name of a class that cannot be found.
  platform::Output& err;
  wmi::Runtime& runtime;
  std::span<const EmbeddedClass> embedded;
};

/// Creates a locator, connects to the context's namespace with its user and
/// password and sets the proxy's security. 0 with `*services` set, or 1
/// after a failure report.
int ConnectForListing(Listing& listing, wmi::ServicesPtr* services);

/// Sets the security blanket of a proxy. A level of kKeepLevel keeps the
/// proxy's current one. An authentication level of 1 (none) sets identify
/// impersonation and no identity; with no authority, user and password (or
/// only empty ones) the blanket has no identity; otherwise it carries one,
/// the user split at its first backslash into domain (at most kMaxDomain
/// characters) and user. Returns kWbemInvalidParameter for a null proxy,
/// else the first failing call's code or the blanket call's result.
HResult SetupAuthAndImp(wmi::Proxy* proxy, const std::wstring* authority, const std::wstring* user,
                        const std::wstring* password, uint32_t authnLevel, uint32_t implLevel);

/// Prints the namespace line and lists `className` (nothing for a class
/// whose name begins with "__"). 0, or 1 after a failure report.
int EnumNamespace(Listing& listing, wmi::Services& services, std::wstring_view className);

/// Prints the class header and each instance of `className`, the header
/// repeated before every instance but the first. 0, or 1 after a report.
int EnumInstances(Listing& listing, wmi::Services& services, std::wstring_view className);

/// Prints one instance through the context's top printer, one level
/// deeper, followed by a line end. A failed printer leaves only that line end.
void PrintInstance(Listing& listing, const wmi::Object& object);

/// The generic printer: a property line for every non-system property in
/// the order WMI gives them, except __SERVER and __PATH. False after
/// reporting that the names cannot be read.
bool FormatAllProperties(Listing& listing, const wmi::Object& object, std::wstring* text);

/// The printer of a class with a fixed list of properties: their lines in
/// list order, a line that fails left out. Never fails.
bool FormatPropertyList(Listing& listing, const wmi::Object& object,
                        std::span<const std::wstring_view> names, std::wstring* text);

/// Appends one property line (indentation, name, "*" for a key, " = ",
/// value, line end; an embedded value on the lines below). False after a
/// failure report, or when the value's text is absent; `text` is then as it was.
bool FormatProperty(Listing& listing, const wmi::Object& object, std::wstring_view name,
                    std::wstring* text);

/// The embedded formatter: an object (VT_UNKNOWN) through its class's
/// printer one level deeper, or an array of them as "instance of" blocks.
/// False when the text is absent (a null object or element, bounds that
/// cannot be read, a class name that cannot be read); `text` is then as it was.
bool FormatEmbedded(Listing& listing, const wmi::Value& value, std::wstring* text);

/// Prints the failure report: the message, the status name and code, the
/// details of WMI's error object, "Abnormal Termination". Returns 1.
int ReportWmiError(Listing& listing, std::string_view message, HResult code);

}  // namespace wmilist
