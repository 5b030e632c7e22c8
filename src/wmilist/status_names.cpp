#include "wmilist/status_names.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace wmilist {
namespace {

constexpr uint32_t kFirstFailure = 0x80041001;

// WBEMSTATUS from 0x80041001 on, one name per code with no gap.
constexpr std::array<std::string_view, 58> kFailures = {
    "WBEM_E_FAILED",
    "WBEM_E_NOT_FOUND",
    "WBEM_E_ACCESS_DENIED",
    "WBEM_E_PROVIDER_FAILURE",
    "WBEM_E_TYPE_MISMATCH",
    "WBEM_E_OUT_OF_MEMORY",
    "WBEM_E_INVALID_CONTEXT",
    "WBEM_E_INVALID_PARAMETER",
    "WBEM_E_NOT_AVAILABLE",
    "WBEM_E_CRITICAL_ERROR",
    "WBEM_E_INVALID_STREAM",
    "WBEM_E_NOT_SUPPORTED",
    "WBEM_E_INVALID_SUPERCLASS",
    "WBEM_E_INVALID_NAMESPACE",
    "WBEM_E_INVALID_OBJECT",
    "WBEM_E_INVALID_CLASS",
    "WBEM_E_PROVIDER_NOT_FOUND",
    "WBEM_E_INVALID_PROVIDER_REGISTRATION",
    "WBEM_E_PROVIDER_LOAD_FAILURE",
    "WBEM_E_INITIALIZATION_FAILURE",
    "WBEM_E_TRANSPORT_FAILURE",
    "WBEM_E_INVALID_OPERATION",
    "WBEM_E_INVALID_QUERY",
    "WBEM_E_INVALID_QUERY_TYPE",
    "WBEM_E_ALREADY_EXISTS",
    "WBEM_E_OVERRIDE_NOT_ALLOWED",
    "WBEM_E_PROPAGATED_QUALIFIER",
    "WBEM_E_PROPAGATED_PROPERTY",
    "WBEM_E_UNEXPECTED",
    "WBEM_E_ILLEGAL_OPERATION",
    "WBEM_E_CANNOT_BE_KEY",
    "WBEM_E_INCOMPLETE_CLASS",
    "WBEM_E_INVALID_SYNTAX",
    "WBEM_E_NONDECORATED_OBJECT",
    "WBEM_E_READ_ONLY",
    "WBEM_E_PROVIDER_NOT_CAPABLE",
    "WBEM_E_CLASS_HAS_CHILDREN",
    "WBEM_E_CLASS_HAS_INSTANCES",
    "WBEM_E_QUERY_NOT_IMPLEMENTED",
    "WBEM_E_ILLEGAL_NULL",
    "WBEM_E_INVALID_QUALIFIER_TYPE",
    "WBEM_E_INVALID_PROPERTY_TYPE",
    "WBEM_E_VALUE_OUT_OF_RANGE",
    "WBEM_E_CANNOT_BE_SINGLETON",
    "WBEM_E_INVALID_CIM_TYPE",
    "WBEM_E_INVALID_METHOD",
    "WBEM_E_INVALID_METHOD_PARAMETERS",
    "WBEM_E_SYSTEM_PROPERTY",
    "WBEM_E_INVALID_PROPERTY",
    "WBEM_E_CALL_CANCELLED",
    "WBEM_E_SHUTTING_DOWN",
    "WBEM_E_PROPAGATED_METHOD",
    "WBEM_E_UNSUPPORTED_PARAMETER",
    "WBEM_E_MISSING_PARAMETER_ID",
    "WBEM_E_INVALID_PARAMETER_ID",
    "WBEM_E_NONCONSECUTIVE_PARAMETER_IDS",
    "WBEM_E_PARAMETER_ID_ON_RETVAL",
    "WBEM_E_INVALID_OBJECT_PATH",
};

struct NamedCode {
  uint32_t code;
  std::string_view name;
};

constexpr NamedCode kOthers[] = {
    {0, "WBEM_NO_ERROR/WBEM_S_NO_ERROR/WBEM_S_SAME"},
    {1, "WBEM_S_FALSE"},
    {0x40001, "WBEM_S_ALREADY_EXISTS"},
    {0x40002, "WBEM_S_RESET_TO_DEFAULT"},
    {0x40003, "WBEM_S_DIFFERENT"},
    {0x40004, "WBEM_S_TIMEDOUT"},
    {0x40005, "WBEM_S_NO_MORE_DATA"},
    {0x40006, "WBEM_OPERATION_CANCELLED"},
    {0x40007, "WBEM_S_PENDING"},
    {0x40008, "WBEM_S_DUPLICATE_OBJECTS"},
    {0x80042001, "WBEMESS_E_REGISTRATION_TOO_BROAD"},
    {0x80042002, "WBEMESS_E_REGISTRATION_TOO_PRECISE"},
};

}  // namespace

std::string WbemStatusName(platform::HResult code) {
  const auto value = static_cast<uint32_t>(code);
  if (value >= kFirstFailure && value - kFirstFailure < kFailures.size()) {
    return std::string(kFailures[value - kFirstFailure]);
  }
  for (const NamedCode& named : kOthers) {
    if (named.code == value) return std::string(named.name);
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

}  // namespace wmilist
