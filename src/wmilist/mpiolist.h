// mpiolist: the instances of one of six WMI classes of the multipath
// framework and the disk driver, on this machine or another one, printed
// by the listing engine with a fixed property list per class.
#pragma once

#include <span>

#include "platform/output.h"
#include "platform/wmi.h"
#include "wmilist/listing_engine.h"

namespace wmilist {

/// The printers of the classes that appear embedded in the listable ones.
std::span<const EmbeddedClass> MpioEmbeddedClasses();

/// Writes the usage text of mpiolist to `out`.
void PrintMpiolistUsage(platform::Output& out);

/// The mpiolist command: `words` holds `count` words, the command word
/// first. Lists on the current machine's WMI; writes the class name that
/// cannot be found to standard error. Always returns 0: failures show only
/// in the output.
int RunMpiolist(int count, const char* const* words, platform::Output& out);

/// RunMpiolist on a given runtime and error stream, with the process-wide
/// listing context.
int RunMpiolistOn(wmi::Runtime& runtime, int count, const char* const* words, platform::Output& out,
                  platform::Output& err);

}  // namespace wmilist
