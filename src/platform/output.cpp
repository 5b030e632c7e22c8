#include "platform/output.h"

namespace platform {

void Output::Line(std::string_view text) {
  Write(text);
  Write("\n");
  Flush();
}

void Output::WriteWide(std::wstring_view text) { Write(ToConsoleText(text)); }

void FileOutput::Write(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file_);
}

void FileOutput::Flush() { std::fflush(file_); }

Output& StandardOutput() {
  static FileOutput out(stdout);
  return out;
}

Output& StandardError() {
  static FileOutput err(stderr);
  return err;
}

}  // namespace platform
