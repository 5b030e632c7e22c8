// The simulated machine's reader of INF files: sections, entries, quoted
// strings, line continuations, comments and %strkey% from [Strings].
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sim {

/// One line of a section: "key = f1, f2, ..." or a line of fields alone.
struct InfLine {
  bool hasKey = false;
  std::string key;
  std::vector<std::string> fields;  // quotes removed, strings substituted
};

struct InfSection {
  std::string name;
  std::vector<InfLine> lines;
};

/// A parsed INF file. Sections of the same name are merged in file order.
class InfDocument {
 public:
  /// Reads `text` (any bytes; never fails: what is not INF syntax is kept
  /// as plain fields or dropped, as SetupAPI does with lines outside
  /// sections).
  static InfDocument Parse(std::string_view text);

  /// The section named `name` (ASCII case ignored), or null.
  const InfSection* Find(std::string_view name) const;
  /// The first line of `section` whose key is `key` (case ignored), or null.
  const InfLine* FindLine(std::string_view section, std::string_view key) const;
  /// The value of `key` in [Version] ("" when missing).
  std::string VersionValue(std::string_view key) const;

  const std::vector<InfSection>& Sections() const { return sections_; }

 private:
  std::vector<InfSection> sections_;
};

/// A field read as SetupGetIntField reads it: decimal, or hexadecimal with
/// 0x, optionally negative; a value that does not fit in 32 bits, or any
/// other text, is refused.
bool ParseInfInt(std::string_view text, int32_t* value);

/// The fields of a line joined as SetupGetLineTextA gives them.
std::string JoinInfFields(const InfLine& line);

/// ASCII case-insensitive equality.
bool InfSameText(std::string_view a, std::string_view b);

}  // namespace platform::sim
