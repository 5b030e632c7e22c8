// A quick reader for the plain JSON of machine files. The machine file of a
// large SAN is megabytes long, and nlohmann's parser spent more time on it
// than the commands spent on everything else. This reader takes the plain
// subset that machine files are written in (ASCII text, the short escapes,
// integers) and leaves everything else, errors included, to nlohmann's
// parser, so the documents and the error messages stay nlohmann's.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

namespace platform::sim {

/// Reads `text` into `document` when it is plain JSON: text of printable
/// ASCII with the escapes \" \\ \/ \b \f \n \r \t, integers that fit 64
/// bits, objects without repeated keys, nesting at most 256 deep. The
/// document is the one nlohmann::ordered_json::parse makes of it, number
/// kinds included. False for anything else (`document` is then
/// unspecified): the caller parses the text with nlohmann instead.
bool ReadPlainJson(std::string_view text, nlohmann::ordered_json* document);

}  // namespace platform::sim
