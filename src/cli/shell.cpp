#include "cli/shell.h"

#include <string_view>
#include <vector>

#include "cli/help.h"
#include "cli/words.h"
#include "dsm/wmi_connection.h"
#include "platform/process.h"

namespace cli {
namespace {

using platform::Output;

// kFullLine: a line of exactly kMaxLineLength characters whose line end
// followed it. A read of at most that many characters stops before such a
// line end, and the next read finds it alone, an empty line.
enum class ReadResult { kLine, kFullLine, kTooLong, kEnd };
enum class LineResult { kContinue, kQuit };

// One line of at most kMaxLineLength characters, line end removed. A longer
// line is consumed to its end and refused whole, so its tail never runs as
// a command of its own. Text after a NUL byte is dropped, as the C string
// functions would not see it. CR LF ends a line as LF does, as Windows'
// text-mode input reads it, so a script written on Windows reads the same
// everywhere; a CR elsewhere is text.
ReadResult ReadLine(std::FILE* in, std::string* line) {
  line->clear();
  size_t length = 0;
  bool any = false;
  bool ended = false;
  for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
    any = true;
    if (c == '\n') {
      ended = true;
      break;
    }
    if (c == '\r') {
      const int next = std::fgetc(in);
      if (next == '\n') {
        ended = true;
        break;
      }
      if (next != EOF) std::ungetc(next, in);
    }
    if (++length <= kMaxLineLength) line->push_back(static_cast<char>(c));
  }
  if (!any || std::ferror(in)) return ReadResult::kEnd;
  if (length > kMaxLineLength) return ReadResult::kTooLong;
  size_t nul = line->find('\0');
  if (nul != std::string::npos) line->resize(nul);
  return ended && length == kMaxLineLength ? ReadResult::kFullLine : ReadResult::kLine;
}

// Words are separated by blanks only; tabs and everything else belong to
// words.
std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

void RunDebugLine(const std::vector<std::string_view>& words, Output& out,
                  const ShellEnvironment& env) {
  if (words.size() > kMaxDebugWords) {
    out.Line("too many words (more than " + std::to_string(kMaxDebugWords) + ")");
    return;
  }
  if (env.acquireMachine && env.acquireMachine() != 0) return;
  std::vector<std::string> storage(words.begin(), words.end());
  std::vector<const char*> pointers;
  for (const std::string& word : storage) pointers.push_back(word.c_str());
  int count = static_cast<int>(pointers.size()) - 1;
  const bool ownResult = count >= 1 && ReportsOwnResult(pointers[1]);
  if (DispatchCommand(count, pointers.data() + 1, env.handlers, out) != 0 && !ownResult) {
    out.Line("command failed!");
  }
  if (env.releaseMachine) env.releaseMachine();
}

// The line runs in a fresh copy of the program, started directly (no
// command interpreter), with the line exactly as typed after the quoted
// program path.
void RunChildLine(const std::string& line, Output& out, const ShellEnvironment& env) {
  std::string program = env.programPath();
  if (program.empty()) {
    out.Line("cannot find the program's own path");
    return;
  }
  if (program.size() > kMaxProgramPath) {
    out.Line("program path too long (more than " + std::to_string(kMaxProgramPath) +
             " characters)");
    return;
  }
  std::string commandLine = "\"" + program + "\" " + line;
  if (commandLine.size() > kMaxChildCommandLine) {
    out.Line("command line too long (more than " + std::to_string(kMaxChildCommandLine) +
             " characters)");
    return;
  }
  // The child writes to the same stream: what we wrote must come first.
  out.Flush();
  int exitCode = 0;
  if (!env.runChild(program, commandLine, &exitCode)) out.Line("could not start " + program);
}

LineResult RunLine(const std::string& line, Output& out, const ShellEnvironment& env) {
  std::vector<std::string_view> words = SplitWords(line);
  if (words.empty()) return LineResult::kContinue;
  // From the first byte of the line, so " quit" is not a quit.
  std::string_view head(line.data(),
                        static_cast<size_t>(words[0].data() - line.data()) + words[0].size());
  if (EqualsIgnoreCase(head, "quit") || EqualsIgnoreCase(head, "exit")) return LineResult::kQuit;
  if (IsHelpSwitch(words[0])) {
    PrintHelp(out);
  } else if (words[0] == "debug") {
    RunDebugLine(words, out, env);
  } else {
    RunChildLine(line, out, env);
  }
  return LineResult::kContinue;
}

int RunInteractive(Output& out, std::FILE* in, const ShellEnvironment& env) {
  const std::string prompt = std::string(kProgramName) + "> ";
  std::string line;
  if (env.releaseMachine) env.releaseMachine();
  while (true) {
    out.Write(prompt);
    out.Flush();
    ReadResult read = ReadLine(in, &line);
    if (read == ReadResult::kEnd) {
      out.Write("\n");
      out.Flush();
      return 0;
    }
    if (read == ReadResult::kTooLong) {
      out.Line("line too long (more than " + std::to_string(kMaxLineLength) + " characters)");
      continue;
    }
    if (RunLine(line, out, env) == LineResult::kQuit) return 0;
    // The line end left behind by a full line reads as an empty line.
    if (read == ReadResult::kFullLine) {
      out.Write(prompt);
      out.Flush();
    }
  }
}

int RunOneShot(int argc, char** argv, Output& out, const ShellEnvironment& env) {
  std::vector<const char*> words(argv + 1, argv + argc);
  const bool ownResult = ReportsOwnResult(argv[1]);
  int status = DispatchCommand(argc - 1, words.data(), env.handlers, out);
  if (status != 0 && !ownResult) out.Line("command failed!");
  return status;
}

}  // namespace

ShellEnvironment::ShellEnvironment()
    : handlers(DefaultHandlers()),
      connect(dsm::ConnectWmi),
      programPath(platform::ModuleFileName),
      runChild(platform::RunChildProcess) {}

int RunShell(int argc, char** argv, Output& out, std::FILE* in, const ShellEnvironment& env) {
  if (argc >= 2) return RunOneShot(argc, argv, out, env);
  return RunInteractive(out, in, env);
}

int ExitStatusOf(int result) {
#ifdef _WIN32
  return result;
#else
  return result != 0 && (result & 0xFF) == 0 ? 1 : result;
#endif
}

int RunTollard(int argc, char** argv, Output& out, std::FILE* in, const ShellEnvironment& env) {
  // Before connecting, so the usage shows where WMI is unavailable.
  if (argc >= 2 && IsHelpSwitch(argv[1])) return PrintUsage(out);
  // A command that reports in its own format (a JSON document, a status
  // line) reports a failed connection too: the usual text would corrupt it.
  if (argc >= 2 && ReportsOwnResult(argv[1])) {
    platform::StringOutput unused;
    env.connect(unused);
    return RunShell(argc, argv, out, in, env);
  }
  if (env.connect(out) != 0) {
    out.Line("Failed to initialize!");
    return 1;
  }
  return RunShell(argc, argv, out, in, env);
}

}  // namespace cli
