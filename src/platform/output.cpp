#include "platform/output.h"

namespace platform {

void Output::Line(std::string_view text) {
  Write(text);
  Write("\n");
}

void Output::WriteWide(std::wstring_view text) { Write(ToConsoleText(text)); }

void FileOutput::Write(std::string_view text) {
  if (text.empty()) return;
  // What went to the other stream first stays first where both meet.
  if (before_ != nullptr) std::fflush(before_);
  std::fwrite(text.data(), 1, text.size(), file_);
  if (before_ != nullptr) std::fflush(file_);
}

void FileOutput::Flush() { std::fflush(file_); }

Output& StandardOutput() {
  static FileOutput out(stdout);
  return out;
}

Output& StandardError() {
  static FileOutput err(stderr, stdout);
  return err;
}

}  // namespace platform
