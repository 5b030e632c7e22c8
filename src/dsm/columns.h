// Text layout shared by the DSM listings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dsm {

/// `text` left-aligned in a field of `width` blanks; never cut.
std::string PadRight(std::string_view text, size_t width);

/// A path id as the listings show it and the path commands read it back:
/// upper-case hexadecimal, zero-filled to at least 8 digits.
std::string PathIdText(uint64_t pathId);

}  // namespace dsm
