// Windows only: wide text for the console's OEM code page, and typed ANSI
// words as wide text.
#include <climits>
#include <string>

#include "platform/output.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// WideCharToMultiByte into a string; false when the conversion fails.
bool Narrow(std::wstring_view text, const char* defaultChar, std::string* out) {
  if (text.size() > INT_MAX / 4) return false;
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_OEMCP, 0, text.data(), length, nullptr, 0, defaultChar, nullptr);
  if (size <= 0) return false;
  out->assign(static_cast<size_t>(size), '\0');
  return WideCharToMultiByte(CP_OEMCP, 0, text.data(), length, out->data(), size, defaultChar,
                             nullptr) == size;
}

}  // namespace

std::string ToConsoleText(std::wstring_view text) {
  if (text.empty()) return {};
  std::string out;
  if (Narrow(text, "?", &out)) return out;
  // UTF-8 and some other OEM code pages refuse a default character; they
  // have a form for every character anyway.
  if (Narrow(text, nullptr, &out)) return out;
  out.clear();
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::wstring WidenAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int length = text.size() > INT_MAX ? 0 : static_cast<int>(text.size());
  const int size =
      length == 0 ? 0 : MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring out;
  if (size > 0) {
    out.assign(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, out.data(), size) == size)
      return out;
  }
  // Byte for byte, which is right for the ASCII range of every code page.
  out.clear();
  for (char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace platform
