// The DSM's settings in the registry: the reservation settings of `pgr`
// and any 32-bit value through `set`.
#pragma once

#include <string>

#include "platform/output.h"

namespace scsi {

/// The DSM's parameter key below HKEY_LOCAL_MACHINE.
inline constexpr const char* kDsmParametersKey =
    "SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters";

/// pgr without a keyword: "Persistent Reservation: Enable" and the key, or
/// "... Disable". A key that cannot be opened or a flag that cannot be
/// read shows Disable after its message; a key value that cannot be read
/// shows as empty. Returns 0.
int ShowReservationSettings(platform::Output& out);

/// pgr enable [key] / pgr disable: stores the flag (1 or 0) and, for
/// enable with `key` given, the key's 8 bytes. `key` is stored only when
/// it holds exactly 8 characters; the caller passes null for any other
/// word. Failures print their message; returns 0.
int WriteReservationSettings(platform::Output& out, bool enable, const std::string* key);

/// set <name> [value]: with 2 words prints "<name>=<value>" of the 32-bit
/// value; with 3 words stores the number as REG_DWORD, then resets the
/// DSM's counters. Returns -1 (0xFFFFFFFF) when the key cannot be opened,
/// else 0 (also for any other word count, which does nothing).
int SetDsmParameter(platform::Output& out, int count, const char* const* words);

}  // namespace scsi
