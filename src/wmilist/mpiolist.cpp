#include "wmilist/mpiolist.h"

#include <array>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace wmilist {
namespace {

using namespace std::string_view_literals;

// A printer of a class with a fixed property list.
template <const auto& kNames>
bool ListPrinter(Listing& listing, const wmi::Object& object, std::wstring* text) {
  return FormatPropertyList(listing, object, kNames, text);
}

constexpr std::array kDiskInfo = {L"InstanceName"sv, L"NumberDrives"sv, L"DriveInfo"sv};
constexpr std::array kDriveInfo = {L"NumberPaths"sv, L"Name"sv, L"SerialNumber"sv, L"DsmName"sv};
constexpr std::array kPathInformation = {L"InstanceName"sv, L"NumberPaths"sv, L"PathList"sv};
constexpr std::array kAdapterInformation = {L"PathId"sv, L"BusNumber"sv, L"DeviceNumber"sv,
                                            L"FunctionNumber"sv, L"AdapterName"sv};
constexpr std::array kControllerConfiguration = {L"InstanceName"sv, L"NumberControllers"sv,
                                                 L"ControllerInfo"sv};
constexpr std::array kControllerInfo = {L"IdentifierType"sv, L"IdentifierLength"sv, L"Identifier"sv,
                                        L"ControllerState"sv, L"AssociatedDsm"sv};
constexpr std::array kTimersCounters = {
    L"InstanceName"sv,    L"PathVerifyEnabled"sv, L"PathVerificationPeriod"sv,
    L"PDORemovePeriod"sv, L"RetryCount"sv,        L"RetryInterval"sv};
constexpr std::array kGetDescriptor = {L"InstanceName"sv, L"NumberPdos"sv, L"PdoInformation"sv};
constexpr std::array kPdoInformation = {L"ScsiAddress"sv,      L"DeviceState"sv,
                                        L"PathIdentifier"sv,   L"IdentifierType"sv,
                                        L"IdentifierLength"sv, L"Identifier"sv};
constexpr std::array kScsiAddress = {L"PortNumber"sv, L"ScsiPathId"sv, L"TargetId"sv, L"Lun"sv};

constexpr EmbeddedClass kEmbedded[] = {
    {L"PDO_INFORMATION", ListPrinter<kPdoInformation>},
    {L"PDOSCSI_ADDR", ListPrinter<kScsiAddress>},
    {L"SCSI_ADDR", ListPrinter<kScsiAddress>},
    {L"MPIO_DRIVE_INFO", ListPrinter<kDriveInfo>},
    {L"MPIO_ADAPTER_INFORMATION", ListPrinter<kAdapterInformation>},
    {L"MPIO_CONTROLLER_INFO", ListPrinter<kControllerInfo>},
};

struct ListableType {
  std::string_view number;
  std::string_view className;
  ObjectPrinter printer;
};

constexpr ListableType kTypes[] = {
    {"0", "MsDiskDriver_Performance", FormatAllProperties},
    {"1", "MPIO_DISK_INFO", ListPrinter<kDiskInfo>},
    {"2", "MPIO_PATH_INFORMATION", ListPrinter<kPathInformation>},
    {"3", "MPIO_CONTROLLER_CONFIGURATION", ListPrinter<kControllerConfiguration>},
    {"4", "MPIO_TIMERS_COUNTERS", ListPrinter<kTimersCounters>},
    {"5", "MPIO_GET_DESCRIPTOR", ListPrinter<kGetDescriptor>},
};

constexpr std::string_view kUsageHead =
    "mpiolist - Displays specified MPIO WMI object. \n\nSyntax: mpiolist WMI_Object [ "
    "Machine_Name [ Admin_User Password ] ] \n\n  WMI_Object: is either the name of an WMI "
    "object \n    or one of the types from the following list: \n    Use...    To see... \n";

constexpr std::string_view kUsageTail =
    "  Machine_Name:  optional parameter specifying the computer name \n    to be queried. \n"
    "  Admin_User:  optional parameter specifying the domain and user for \n    the "
    "Machine_Name computer.  Must be member of the Administrators \n    group to work "
    "correctly. \n  Password: optional parameter specifying the password for Admin_User \n"
    "    parameter.  If Admin_User is specified, this parameter is required. \n";

bool EqualsNoCase(std::wstring_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i] >= L'a' && a[i] <= L'z' ? a[i] - 32 : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != static_cast<wchar_t>(static_cast<unsigned char>(y))) return false;
  }
  return true;
}

bool IsHelpWord(std::wstring_view word) {
  return EqualsNoCase(word, "/HELP") || EqualsNoCase(word, "-HELP") || word == L"/?" ||
         word == L"-?";
}

const ListableType* FindType(std::wstring_view word) {
  for (const ListableType& type : kTypes) {
    if (EqualsNoCase(word, type.number) || EqualsNoCase(word, type.className)) return &type;
  }
  return nullptr;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// "root\wmi" of the named machine; a name with a leading backslash is
// taken as it is.
std::wstring NamespaceOf(const std::wstring& machine) {
  std::wstring path = machine.starts_with(L"\\") ? machine : L"\\\\" + machine;
  return path + L"\\root\\wmi";
}

ListingContext& ProcessListingContext() {
  static ListingContext context;
  return context;
}

}  // namespace

std::span<const EmbeddedClass> MpioEmbeddedClasses() { return kEmbedded; }

void PrintMpiolistUsage(platform::Output& out) {
  out.Write(kUsageHead);
  for (const ListableType& type : kTypes) {
    std::string line = "      ";
    if (type.number.size() < 2) line.append(2 - type.number.size(), ' ');
    line.append(type.number).append("      ").append(type.className).append(" \n");
    out.Write(line);
  }
  out.Write(kUsageTail);
}

int RunMpiolistOn(wmi::Runtime& runtime, int count, const char* const* words, platform::Output& out,
                  platform::Output& err) {
  if (count != 2 && count != 3 && count != 5) {
    PrintMpiolistUsage(out);
    return 0;
  }
  const std::wstring word = platform::WidenAnsi(words[1]);
  const ListableType* type = IsHelpWord(word) ? nullptr : FindType(word);
  if (type == nullptr) {
    PrintMpiolistUsage(out);
    return 0;
  }
  ListingContext& context = ProcessListingContext();
  context = ListingContext{};
  context.className = Widen(type->className);
  context.topPrinter = type->printer;
  context.SetNamespacePath(count == 2 ? L"root\\wmi" : NamespaceOf(platform::WidenAnsi(words[2])));
  if (count == 5) {
    context.user = platform::WidenAnsi(words[3]);
    context.password = platform::WidenAnsi(words[4]);
  }
  Listing listing{context, out, err, runtime, MpioEmbeddedClasses()};
  wmi::ServicesPtr services;
  if (ConnectForListing(listing, &services) == 0) {
    EnumNamespace(listing, *services, context.className);
  }
  return 0;
}

int RunMpiolist(int count, const char* const* words, platform::Output& out) {
  return RunMpiolistOn(platform::CurrentMachine().Wmi(), count, words, out,
                       platform::StandardError());
}

}  // namespace wmilist
