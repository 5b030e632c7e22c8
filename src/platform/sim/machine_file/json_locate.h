// Where a problem of a machine file stands in its text. The JSON library
// keeps no positions, so an error found in the parsed document carries the
// path of tokens to the offending member, and the text is walked along that
// path when the error is reported (only then, so speed does not matter).
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sim {

/// A member of a document: object keys and array indexes (as decimal text)
/// from the top. Empty: the document itself.
using JsonPath = std::vector<std::string>;

/// The deepest a value may stand below the top of a machine file (the top
/// object is at depth 0). The quick reader takes no deeper text, and every
/// reader of the document relies on it, since they recurse.
constexpr size_t kMaxJsonDepth = 256;

/// Line and column (from 1, the column in bytes) of byte `offset` of `text`.
void TextPosition(std::string_view text, size_t offset, size_t* line, size_t* column);

/// Finds where the member `path` starts in the JSON `text`: its key when its
/// parent is an object (the last of repeated keys, which is the one the
/// parser keeps), the value itself otherwise. Line and column count from 1,
/// the column in bytes. False when the text does not hold that member. It
/// walks the text without recursion, so any nesting is safe.
bool LocateMember(std::string_view text, const JsonPath& path, size_t* line, size_t* column);

/// Attaches `path` to an error message (one line, naming the place as the
/// section's reader writes it), for MachineFileError to turn into a line
/// and column. The result is the message with the path in front, between
/// two '\x1E' characters; only MachineFileError should print it.
std::string LocatedError(const JsonPath& path, const std::string& message);

/// An error of a section's reader that read a section standing at `prefix`
/// instead of at the top: its path (if any) is put under `prefix`, and its
/// message, which names places from the section on, gets `prefixName` and
/// a "." in front ("remote.SAN-B." + "san.luns[0]: ...").
std::string RelocatedError(const JsonPath& prefix, const std::string& prefixName,
                           const std::string& error);

/// The one line reporting `error` about the machine file `file` whose text
/// is `text`: "<file>: line L, column C: <message>" when the error carries a
/// path found in the text, "<file>: <message>" otherwise.
std::string MachineFileError(const std::string& file, std::string_view text,
                             const std::string& error);

/// MachineFileError with the text read from `file` (when the error carries
/// a path; a file that cannot be read gives the message without position).
std::string MachineFileError(const std::string& file, const std::string& error);

/// Checks without recursion that no value of `document` stands deeper than
/// kMaxJsonDepth. On failure sets `error` to one line naming `file`, the
/// position in `text`, the section and the limit, and empties `document`.
bool CheckJsonDepth(const std::string& file, std::string_view text,
                    nlohmann::ordered_json* document, std::string* error);

/// True when no value of `document` stands deeper than kMaxJsonDepth; else
/// false with `path` set to the first value too deep, in document order.
bool WithinJsonDepth(const nlohmann::ordered_json& document, JsonPath* path = nullptr);

}  // namespace platform::sim
