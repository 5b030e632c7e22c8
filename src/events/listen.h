// The `listen` command: subscribes to the multipath framework's events and
// prints each as it arrives until a key is read from standard input.
#pragma once

#include <cstdio>

#include "platform/output.h"

namespace events {

/// The query of the subscription: every MPIO event.
inline constexpr wchar_t kEventQuery[] = L"SELECT * FROM MPIO_EventEntry";
/// The language of kEventQuery.
inline constexpr wchar_t kQueryLanguage[] = L"WQL";

/// Reads one character at a time from `in` while it reads NUL; returns the
/// first other character, or EOF at end of input or on a read error. Only
/// that character (and the NULs before it) is consumed; a CR followed by
/// LF is one character, returned as LF.
int WaitForKey(std::FILE* in);

/// Subscribes a VdsEventSink through the unsecured apartment's stub,
/// writes the listening line, prints events until WaitForKey returns, then
/// cancels. The machine is given up while it waits, so other commands run
/// meanwhile. Returns 0; 1 when the stub cannot be made, the subscription
/// is refused, or the machine cannot be given up or taken back.
int RunListen(platform::Output& out, std::FILE* in);

}  // namespace events
