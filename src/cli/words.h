// The one word table of tollard: policies, fail-back modes and path states
// in both directions, and the rules by which typed words match fixed words.
// Every command that prints or parses one of these words goes through here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace cli {

/// The fourteen words, in their fixed order; the conversions below address
/// entries by position. 0-3 path states, 4-5 fail-back, 6-12 policies 1 to
/// 7, 13 the unknown policy.
inline constexpr std::array<std::string_view, 14> NameTable = {
    "Unknown",      "Online",      "Failed",         "Standby",          "failback-on",
    "failback-off", "FailOver",    "RoundRobin",     "RoundRobinSubset", "Dynlqd",
    "Weighted",     "LeastBlocks", "VendorSpecific", "Unknown"};

/// Fail-back mode of a device as a typed word selects it.
enum class FailBack { kEnabled, kDisabled };

/// Folds A-Z onto a-z and leaves every other byte alone, whatever the locale.
char FoldAscii(char c);

/// True when `a` and `b` are equal once ASCII letters are folded.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

/// True when `typed` is 3 or more characters long and a case-folded prefix
/// of `command` (so a typed word longer than `command` never matches).
bool MatchCommandWord(std::string_view typed, std::string_view command);

/// True for the nine help switches ?, /?, -h, --h, /h, /help, --help, help
/// and -help, in any ASCII letter case; nothing else, no abbreviation.
bool IsHelpSwitch(std::string_view word);

/// The policy word of the DSM's policy number: 1 to 7 give their words,
/// every other number "Unknown".
std::string_view PolicyNameOf(int64_t number);

/// The number (1 to 6) of the first settable policy of which `word` is a
/// prefix by the MatchCommandWord rule; none otherwise. VendorSpecific is
/// never accepted.
std::optional<int32_t> PolicyNumberOf(std::string_view word);

/// "Online" for 1, "Failed" for 5, "Standby" for 7, "Unknown" otherwise.
std::string_view PathStateNameOf(int64_t code);

/// 1, 5 or 7 when `word` is a whole path-state word in any letter case;
/// none otherwise (no prefixes).
std::optional<int32_t> PathStateCodeOf(std::string_view word);

/// "failback-off" for 2, "failback-on" for every other value.
std::string_view FailBackNameOf(int64_t value);

/// The mode named by a whole fail-back word in any letter case, or none.
std::optional<FailBack> FailBackOf(std::string_view word);

/// The policies a device can be set to, FailOver to LeastBlocks, in order.
std::span<const std::string_view> SettablePolicies();

}  // namespace cli
