// The `instance <class>` command: every instance of one of the DSM's five
// data classes in ROOT\WMI, printed with that class's fixed layout of
// labelled lines. docs/dsm_printers.md lists what odd values print.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/output.h"
#include "platform/status.h"

namespace wmilist {

/// Runs the printer of the class whose name equals `classWord` as a whole
/// word, ASCII letters folded. A word that names no class prints nothing.
/// Always returns 0: a failed class check or enumeration prints nothing
/// and is not a failed command.
int PrintDsmInstances(std::string_view classWord, platform::Output& out);

/// ORNDSM_CONFIGINFO: class check, an empty line, then each instance. 0,
/// or the failing code of the class check or enumeration (nothing printed).
platform::HResult PrintConfigInfo(platform::Output& out);

/// ORNDSM_PERFINFO: each instance with its per-path records. 0, or the
/// failing code of the enumeration (nothing printed).
platform::HResult PrintPerfInfo(platform::Output& out);

/// DSM_QueryLBPolicy: each device's policy and its paths. 0, or the failing
/// code of the enumeration (nothing printed).
platform::HResult PrintLbPolicy(platform::Output& out);

/// DSM_QueryLBPolicy_V2: as PrintLbPolicy with the nine ALUA lines per
/// path. 0, or the failing code of the enumeration (nothing printed).
platform::HResult PrintLbPolicyV2(platform::Output& out);

/// Dsm_QueryUniqueId: class check, an empty line, then each device's id.
/// 0, or the failing code of the class check or enumeration.
platform::HResult PrintUniqueId(platform::Output& out);

/// "0x" and the upper-case hexadecimal digits of `value`, padded with
/// leading zeros to `width` digits (0: no padding).
std::string Hex64Text(uint64_t value, int width);

/// The most elements a configuration array line prints when its count
/// says more than any of the three arrays holds: the count comes from the
/// driver, and 4294967295 would otherwise print tens of gigabytes.
inline constexpr uint32_t kMaxPlaceholderElements = 65536;

}  // namespace wmilist
