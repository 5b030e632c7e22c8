#include "dsm/read_failure.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "dsm/wmi_connection.h"
#include "wmilist/status_names.h"

namespace dsm {
namespace {

namespace status = platform::status;

struct NamedStatus {
  platform::HResult code;
  std::string_view name;
};

// The codes outside WMI's own range that the connection and the
// enumerations are known to return.
constexpr NamedStatus kComNames[] = {
    {status::kFail, "E_FAIL"},
    {status::kNoInterface, "E_NOINTERFACE"},
    {status::kOutOfMemory, "E_OUTOFMEMORY"},
    {status::kInvalidArg, "E_INVALIDARG"},
    {status::kAccessDenied, "E_ACCESSDENIED"},
    {status::kChangedMode, "RPC_E_CHANGED_MODE"},
    {status::kTooLate, "RPC_E_TOO_LATE"},
    {status::kClassNotReg, "REGDB_E_CLASSNOTREG"},
    {status::kRpcServerUnavailable, "RPC_S_SERVER_UNAVAILABLE"},
};

}  // namespace

std::optional<ReadFailure> ConnectionFailure() {
  if (WmiServices()) return std::nullopt;
  const ConnectFailure& failure = LastConnectFailure();
  if (failure.step.empty()) return ReadFailure{"ConnectServer", "", status::kFail};
  return ReadFailure{failure.step, "", failure.status};
}

std::optional<ReadFailure> LoadListsOrFailure(DsmLists& lists) {
  LoadFailure failure;
  if (LoadDsmLists(lists, &failure) == 0) return std::nullopt;
  return ReadFailure{"CreateInstanceEnum", failure.className, failure.status};
}

std::string StatusNameOf(platform::HResult code) {
  for (const NamedStatus& named : kComNames) {
    if (named.code == code) return std::string(named.name);
  }
  return wmilist::WbemStatusName(code);
}

std::string StatusHex(platform::HResult code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(code)));
  return text;
}

std::string DescribeFailure(const ReadFailure& failure) {
  std::string text = failure.step;
  if (!failure.className.empty()) text += " of " + failure.className;
  return text + " failed with " + StatusNameOf(failure.status) + " (" + StatusHex(failure.status) +
         ")";
}

}  // namespace dsm
