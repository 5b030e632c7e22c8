// The text of a machine document as written back. Writing it was, after
// reading it, the largest cost of a command that changes a large machine.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace platform::sim {

/// `document.dump(2)`, written directly when the document is plain (texts
/// of printable ASCII, integers, booleans, nulls) and by nlohmann otherwise,
/// so the text, and any exception for text that is not UTF-8, is nlohmann's.
/// `sizeHint`, the length the text is expected to have, saves regrowing it.
/// Both writers recurse once per level: documents loaded from a file are at
/// most kMaxJsonDepth deep (json_locate.h), and edits add a few levels.
std::string DumpJson(const nlohmann::ordered_json& document, size_t sizeHint = 0);

}  // namespace platform::sim
