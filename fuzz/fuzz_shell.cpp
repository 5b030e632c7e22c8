// Fuzzes the interactive shell: the input is what the user types at the
// prompt, read from a memory stream, with child commands recorded instead
// of started and "debug" lines run by checking handlers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "checking_handlers.h"
#include "cli/shell.h"
#include "fuzz_check.h"
#include "platform/output.h"

namespace {

const std::string kProgram = "/opt/tollard/tollard";

// A child gets the quoted program path and one line as typed: never a line
// end, a NUL or more than the shell allows.
bool RecordChild(const std::string& program, const std::string& commandLine, int* exitCode) {
  FUZZ_CHECK(program == kProgram);
  FUZZ_CHECK(commandLine.size() <= cli::kMaxChildCommandLine);
  FUZZ_CHECK(commandLine.compare(0, kProgram.size() + 3, "\"" + kProgram + "\" ") == 0);
  FUZZ_CHECK(commandLine.size() - kProgram.size() - 3 <= cli::kMaxLineLength);
  FUZZ_CHECK(commandLine.find('\n') == std::string::npos);
  FUZZ_CHECK(commandLine.find('\0') == std::string::npos);
  *exitCode = 0;
  return commandLine.size() % 2 == 0;
}

cli::ShellEnvironment FuzzEnvironment() {
  cli::ShellEnvironment env;
  env.handlers = fuzz::CheckingHandlers();
  env.connect = [](platform::Output&) { return 0; };
  env.programPath = [] { return kProgram; };
  env.runChild = RecordChild;
  return env;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const cli::ShellEnvironment env = FuzzEnvironment();
  // fmemopen refuses an empty buffer on some C libraries.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::FILE* in = text.empty() ? std::tmpfile() : fmemopen(text.data(), text.size(), "r");
  FUZZ_CHECK(in != nullptr);
  platform::StringOutput out;
  char program[] = "tollard";
  char* argv[] = {program, nullptr};
  FUZZ_CHECK(cli::RunTollard(1, argv, out, in, env) == 0);
  std::fclose(in);
  return 0;
}
