// The one way the programs write text. Narrow text is written as it is;
// wide text is converted to the console's OEM code page on Windows and to
// UTF-8 elsewhere. Handlers take an Output so tests can capture it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

class Output {
 public:
  virtual ~Output() = default;
  virtual void Write(std::string_view text) = 0;
  virtual void Flush() = 0;
  /// Writes `text` and a line end. Standard output is buffered: callers
  /// flush before they wait or start another process.
  void Line(std::string_view text);
  /// Writes wide text converted for the console.
  void WriteWide(std::wstring_view text);
};

/// Output to a C stream (stdout or stderr), in text mode. With `before`
/// set, that stream is flushed ahead of every write and this one after it,
/// so standard error's lines keep their place among standard output's.
class FileOutput : public Output {
 public:
  explicit FileOutput(std::FILE* file, std::FILE* before = nullptr)
      : file_(file), before_(before) {}
  void Write(std::string_view text) override;
  void Flush() override;

 private:
  std::FILE* file_;
  std::FILE* before_;
};

/// Output kept in memory, for tests.
class StringOutput : public Output {
 public:
  void Write(std::string_view text) override { text_.append(text); }
  void Flush() override {}
  const std::string& Text() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

/// The process's standard output and standard error.
Output& StandardOutput();
Output& StandardError();

/// Wide text in the console's narrow encoding (OEM code page on Windows,
/// UTF-8 elsewhere); characters without a narrow form become '?'.
std::string ToConsoleText(std::wstring_view text);
/// ToConsoleText of the text up to its first NUL, as it reads as a C
/// string: a driver's counted string may carry its terminator and padding.
inline std::string ToConsoleCString(std::wstring_view text) {
  return ToConsoleText(text.substr(0, text.find(L'\0')));
}
/// UTF-8 (or plain ASCII) narrow text to wide text, for words typed by
/// the user that WMI needs as wide text.
std::wstring WidenAnsi(std::string_view text);

}  // namespace platform
