// Path control helpers shared by the path commands and their tests.
#pragma once

#include <cstdint>
#include <string_view>

namespace dsm {

/// The policy number of a device's policy word: "FailOver" 1 to
/// "LeastBlocks" 6, compared exactly; every other text (VendorSpecific and
/// Unknown included) 1.
int32_t PolicyNumberOfName(std::string_view text);

}  // namespace dsm
