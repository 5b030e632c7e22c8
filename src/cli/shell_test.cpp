#include "cli/shell.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/help.h"

namespace cli {
namespace {

using platform::Output;
using platform::StringOutput;
using namespace std::string_literals;

const std::string kProgram = "/opt/tollard/tollard";
const std::string kPrompt = "tollard> ";

std::string LongHelp() {
  StringOutput out;
  PrintHelp(out);
  return out.Text();
}

// A shell run with fake handlers, connection and child runner. Children
// write a marker to the shared output so their place in it shows.
struct Fixture {
  StringOutput out;
  ShellEnvironment env;
  std::vector<std::string> childLines;
  int connects = 0;
  int connectResult = 0;
  int clearResult = 0;
  int healthResult = 0;
  std::string programPath = kProgram;
  bool childStarts = true;

  Fixture() {
    env.connect = [this](Output& o) {
      ++connects;
      if (connectResult != 0) o.Line("Could not connect. Error code = 0x8004100e");
      return connectResult;
    };
    env.programPath = [this] { return programPath; };
    env.runChild = [this](const std::string& program, const std::string& line, int* exitCode) {
      EXPECT_EQ(program, programPath);
      childLines.push_back(line);
      out.Line("<child>");
      *exitCode = 3;  // ignored by the shell
      return childStarts;
    };
    env.handlers.listDevices = [](Output& o) {
      o.Line("devices");
      return 0;
    };
    env.handlers.clearCounters = [this](Output&) { return clearResult; };
    env.handlers.health = [this](int, const char* const*, Output& o) {
      o.Line("health " + std::to_string(connectResult));
      return healthResult;
    };
    env.handlers.pgr = [](int count, const char* const* words, Output& o) {
      o.Line("pgr " + std::to_string(count) + " " + words[count - 1]);
      return 0;
    };
  }

  int Run(std::vector<const char*> args, const std::string& input) {
    std::FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    std::vector<char*> argv;
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    int status = RunTollard(static_cast<int>(argv.size()), argv.data(), out, in, env);
    std::fclose(in);
    return status;
  }

  int Shell(const std::string& input) { return Run({"tollard"}, input); }
};

std::string Child(const std::string& line) { return "\"" + kProgram + "\" " + line; }

TEST(ShellTest, LinesAtThePrompt) {
  struct Case {
    std::string input;
    std::string output;
    std::vector<std::string> children;
  } cases[] = {
      {"", kPrompt + "\n", {}},
      {"\n      \n", kPrompt + kPrompt + kPrompt + "\n", {}},
      {"QUIT\n", kPrompt, {}},
      {"Exit now please\n", kPrompt, {}},
      {"quit", kPrompt, {}},
      {"quit 1 2 3 4 5 6 7 8 9 10 11 12\n", kPrompt, {}},
      {"help 1 2 3 4 5 6 7 8 9 10 11 12\n", kPrompt + LongHelp() + kPrompt + "\n", {}},
      {" quit\n", kPrompt + "<child>\n" + kPrompt + "\n", {Child(" quit")}},
      {"qui\n", kPrompt + "<child>\n" + kPrompt + "\n", {Child("qui")}},
      {"\tquit\n", kPrompt + "<child>\n" + kPrompt + "\n", {Child("\tquit")}},
      {"help\n?\nquit\n", kPrompt + LongHelp() + kPrompt + LongHelp() + kPrompt, {}},
      {"debug\n", kPrompt + LongHelp() + kPrompt + "\n", {}},
      {"debug   devinfo\n", kPrompt + "devices\n" + kPrompt + "\n", {}},
      {"debug quit\n", kPrompt + "syntax error near quit\n" + kPrompt + "\n", {}},
      {"Debug devinfo\n", kPrompt + "<child>\n" + kPrompt + "\n", {Child("Debug devinfo")}},
      {"debugx\n", kPrompt + "<child>\n" + kPrompt + "\n", {Child("debugx")}},
      // No command interpreter: these are words like any other.
      {"  pgr a&b | c > %d%\n",
       kPrompt + "<child>\n" + kPrompt + "\n",
       {Child("  pgr a&b | c > %d%")}},
      {"devinfo\0 junk\n"s, kPrompt + "<child>\n" + kPrompt + "\n", {Child("devinfo")}},
  };
  for (const Case& c : cases) {
    Fixture f;
    EXPECT_EQ(f.Shell(c.input), 0) << c.input;
    EXPECT_EQ(f.out.Text(), c.output) << c.input;
    EXPECT_EQ(f.childLines, c.children) << c.input;
  }
}

TEST(ShellTest, FailedDebugCommandIsReportedAndTheShellGoesOn) {
  Fixture f;
  f.clearResult = 4;
  EXPECT_EQ(f.Shell("debug clear\nexit\n"), 0);
  EXPECT_EQ(f.out.Text(), kPrompt + "command failed!\n" + kPrompt);
}

TEST(ShellTest, DebugLineOfACommandWithItsOwnResultsAddsNoLine) {
  for (int result : {1, 2, 3}) {
    Fixture f;
    f.healthResult = result;
    EXPECT_EQ(f.Shell("debug health\nexit\n"), 0);
    EXPECT_EQ(f.out.Text(), kPrompt + "health 0\n" + kPrompt) << result;
  }
}

TEST(ShellTest, LineLengthLimit) {
  const std::string max(255, 'a');
  const std::string over(256, 'a');
  struct Case {
    std::string input;
    std::string output;
    std::vector<std::string> children;
  } cases[] = {
      // A read stops after 255 characters: the line end that follows them
      // is read next, as an empty line, and prompts once more.
      {max + "\n", kPrompt + "<child>\n" + kPrompt + kPrompt + "\n", {Child(max)}},
      {max + "\ndevinfo\n",
       kPrompt + "<child>\n" + kPrompt + kPrompt + "<child>\n" + kPrompt + "\n",
       {Child(max), Child("devinfo")}},
      {max + "\r\n", kPrompt + "<child>\n" + kPrompt + kPrompt + "\n", {Child(max)}},
      {max, kPrompt + "<child>\n" + kPrompt + "\n", {Child(max)}},
      {max.substr(1) + "\n", kPrompt + "<child>\n" + kPrompt + "\n", {Child(max.substr(1))}},
      {"quit" + std::string(251, ' ') + "\npolicies\n", kPrompt, {}},
      // The whole line is refused; its tail does not run as a line of its own.
      {over + " quit\nclear\n",
       kPrompt + "line too long (more than 255 characters)\n" + kPrompt + "<child>\n" + kPrompt +
           "\n",
       {Child("clear")}},
      {over, kPrompt + "line too long (more than 255 characters)\n" + kPrompt + "\n", {}},
  };
  for (const Case& c : cases) {
    Fixture f;
    EXPECT_EQ(f.Shell(c.input), 0);
    EXPECT_EQ(f.out.Text(), c.output);
    EXPECT_EQ(f.childLines, c.children);
  }
}

TEST(ShellTest, DebugLinesHoldAtMostTenWords) {
  Fixture f;
  EXPECT_EQ(f.Shell("debug pgr 1 2 3 4 5 6 7 8\ndebug pgr 1 2 3 4 5 6 7 8 9\n"), 0);
  EXPECT_EQ(f.out.Text(),
            kPrompt + "pgr 9 8\n" + kPrompt + "too many words (more than 10)\n" + kPrompt + "\n");
}

// A debug line runs on this process's copy of the machine: it must take the
// machine (with what earlier children changed) and give it up again, so the
// children after it see its changes. The machine taken by the connection is
// given up before the first prompt; child lines and refused lines need no
// such step, and a machine that cannot be taken runs nothing.
TEST(ShellTest, DebugLinesTakeTheMachineAroundThemselves) {
  struct Case {
    int acquireResult;
    std::string output;
  } cases[] = {
      {0, "<release>\n" + kPrompt + "<child>\n" + kPrompt + "<acquire>\ndevices\n<release>\n" +
              kPrompt + "too many words (more than 10)\n" + kPrompt + "\n"},
      {1, "<release>\n" + kPrompt + "<child>\n" + kPrompt + "<acquire>\n" + kPrompt +
              "too many words (more than 10)\n" + kPrompt + "\n"},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.env.acquireMachine = [&f, &c] {
      f.out.Line("<acquire>");
      return c.acquireResult;
    };
    f.env.releaseMachine = [&f] { f.out.Line("<release>"); };
    EXPECT_EQ(f.Shell("devinfo\ndebug devinfo\ndebug pgr 1 2 3 4 5 6 7 8 9\n"), 0);
    EXPECT_EQ(f.out.Text(), c.output) << c.acquireResult;
  }
}

// Windows' text-mode input turns CR LF into LF and keeps any other CR.
TEST(ShellTest, CrLfEndsALine) {
  struct Case {
    std::string input;
    std::string output;
    std::vector<std::string> children;
  } cases[] = {
      {"quit\r\ndevinfo\n", kPrompt, {}},
      {"policies\r\n", kPrompt + "<child>\n" + kPrompt + "\n", {"\"" + kProgram + "\" policies"}},
      {"debug devinfo\r\n", kPrompt + "devices\n" + kPrompt + "\n", {}},
      {"devinfo\r", kPrompt + "<child>\n" + kPrompt + "\n", {"\"" + kProgram + "\" devinfo\r"}},
      {"a\rb\r\n", kPrompt + "<child>\n" + kPrompt + "\n", {"\"" + kProgram + "\" a\rb"}},
      {std::string(254, 'w') + "\r\n",
       kPrompt + "<child>\n" + kPrompt + "\n",
       {"\"" + kProgram + "\" " + std::string(254, 'w')}},
  };
  for (const Case& c : cases) {
    Fixture f;
    EXPECT_EQ(f.Shell(c.input), 0);
    EXPECT_EQ(f.out.Text(), c.output) << c.input;
    EXPECT_EQ(f.childLines, c.children) << c.input;
  }
}

TEST(TollardTest, ExitStatusNeverReadsAsSuccess) {
  struct Case {
    int result;
    int posix;
  } cases[] = {
      {0, 0},
      {1, 1},
      {2, 2},
      {3, 3},
      {255, 255},
      {256, 1},
      {static_cast<int>(0x80010100u), 1},
      {static_cast<int>(0x80041001u), static_cast<int>(0x80041001u)},
      {-1, -1},
      {0x1234, 0x1234},
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    EXPECT_EQ(ExitStatusOf(c.result), c.result);
#else
    EXPECT_EQ(ExitStatusOf(c.result), c.posix) << c.result;
    EXPECT_EQ((ExitStatusOf(c.result) & 0xFF) == 0, c.result == 0) << c.result;
#endif
  }
}

TEST(ShellTest, ChildCommandLineLimits) {
  struct Case {
    std::string path;
    std::string line;
    std::string output;
    bool runs;
  } cases[] = {
      {std::string(199, 'p'), std::string(197, 'w'), "<child>\n", true},
      {std::string(199, 'p'), std::string(198, 'w'),
       "command line too long (more than 399 characters)\n", false},
      {std::string(200, 'p'), "devinfo", "program path too long (more than 199 characters)\n",
       false},
      {"", "devinfo", "cannot find the program's own path\n", false},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.programPath = c.path;
    EXPECT_EQ(f.Shell(c.line + "\n"), 0);
    EXPECT_EQ(f.out.Text(), kPrompt + c.output + kPrompt + "\n") << c.path.size();
    EXPECT_EQ(f.childLines.size(), c.runs ? 1u : 0u);
  }
}

TEST(ShellTest, ChildThatCannotStartIsReported) {
  Fixture f;
  f.childStarts = false;
  f.Shell("devinfo\n");
  EXPECT_EQ(f.out.Text(), kPrompt + "<child>\ncould not start " + kProgram + "\n" + kPrompt + "\n");
}

TEST(TollardTest, EntryModes) {
  struct Case {
    std::vector<const char*> args;
    int connectResult;
    int clearResult;
    std::string output;
    int status;
    int connects;
  } cases[] = {
      {{"tollard", "/?"}, 1, 0, "", 0, 0},
      {{"tollard", "-H", "x"}, 1, 0, "", 0, 0},
      {{"tollard", "--Help"}, 0, 0, "", 0, 0},
      {{"tollard", "-hel"}, 0, 0, "syntax error near -hel\n", 0, 1},
      {{"tollard", "clear"}, 0, 0, "", 0, 1},
      {{"tollard", "clear"}, 0, 6, "command failed!\n", 6, 1},
      {{"tollard", "quit"}, 0, 0, "syntax error near quit\n", 0, 1},
      {{"tollard", "debug", "devinfo"}, 0, 0, "syntax error near debug\n", 0, 1},
      {{"tollard", "devinfo"},
       1,
       0,
       "Could not connect. Error code = 0x8004100e\nFailed to initialize!\n",
       1,
       1},
      {{"tollard"},
       1,
       0,
       "Could not connect. Error code = 0x8004100e\nFailed to initialize!\n",
       1,
       1},
      // A command with an output format of its own reports the failed
      // connection itself, and its result is never followed by a line.
      {{"tollard", "health"}, 1, 2, "health 1\n", 2, 1},
      {{"tollard", "HEA", "x"}, 0, 3, "health 0\n", 3, 1},
      {{"tollard", "health"}, 0, 0, "health 0\n", 0, 1},
  };
  StringOutput usage;
  PrintUsage(usage);
  for (const Case& c : cases) {
    Fixture f;
    f.connectResult = c.connectResult;
    f.clearResult = c.clearResult;
    f.healthResult = c.clearResult;
    EXPECT_EQ(f.Run(c.args, "quit\n"), c.status) << c.args.back();
    EXPECT_EQ(f.out.Text(), c.connects == 0 ? usage.Text() : c.output) << c.args.back();
    EXPECT_EQ(f.connects, c.connects) << c.args.back();
  }
}

}  // namespace
}  // namespace cli
