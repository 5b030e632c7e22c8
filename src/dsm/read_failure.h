// Why the DSM could not be read, for the commands that report it in a
// format of their own (json, health) rather than as "command failed!".
#pragma once

#include <optional>
#include <string>

#include "dsm/model.h"
#include "platform/status.h"

namespace dsm {

/// The platform call that failed, the class it enumerated (for
/// "CreateInstanceEnum"; empty otherwise) and its status.
struct ReadFailure {
  std::string step;
  std::string className;
  platform::HResult status = 0;
};

/// The connection's failure when this process has no WMI connection (the
/// step ConnectWmi reported, or "ConnectServer" with E_FAIL when it was
/// never tried); none when connected.
std::optional<ReadFailure> ConnectionFailure();

/// LoadDsmLists; on failure, the enumeration that stopped it.
std::optional<ReadFailure> LoadListsOrFailure(DsmLists& lists);

/// The symbolic name of a status: the common COM and RPC names, the WMI
/// names, else "0x" and its hexadecimal digits.
std::string StatusNameOf(platform::HResult status);

/// "0x" and the status as eight upper-case hexadecimal digits.
std::string StatusHex(platform::HResult status);

/// "<step> failed with <name> (<hex>)", with " of <class>" after the step
/// for an enumeration.
std::string DescribeFailure(const ReadFailure& failure);

}  // namespace dsm
