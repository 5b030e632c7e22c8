// Windows only: the out-of-line parts of the resource owners.
#include "platform/win32/holders.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace platform::win32 {

void FatalOutOfMemory() {
  std::fputs("Out of memory.\n", stderr);
  std::fflush(stderr);
  std::exit(1);
}

Bstr::Bstr(std::wstring_view text) {
  if (text.size() > UINT_MAX / sizeof(wchar_t)) FatalOutOfMemory();
  b_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (b_ == nullptr) FatalOutOfMemory();
}

Bstr Bstr::OrNull(const std::wstring* text) {
  if (text == nullptr) return Bstr();
  return Bstr(*text);
}

}  // namespace platform::win32
