#include "dsm/columns.h"

#include <algorithm>

namespace dsm {

std::string PadRight(std::string_view text, size_t width) {
  std::string padded(text);
  if (padded.size() < width) padded.append(width - padded.size(), ' ');
  return padded;
}

std::string PathIdText(uint64_t pathId) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string text;
  for (; pathId != 0; pathId >>= 4) text.push_back(kDigits[pathId & 0x0F]);
  if (text.size() < 8) text.append(8 - text.size(), '0');
  std::reverse(text.begin(), text.end());
  return text;
}

}  // namespace dsm
