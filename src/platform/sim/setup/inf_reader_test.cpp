#include "platform/sim/setup/inf_reader.h"

#include <gtest/gtest.h>

namespace platform::sim {
namespace {

// One line of a section written back as "key=f1|f2" (or "f1|f2"), so a
// table can say what a line was read as.
std::string Show(const InfLine& line) {
  std::string text = line.hasKey ? line.key + "=" : "";
  for (size_t i = 0; i < line.fields.size(); ++i) text += (i != 0 ? "|" : "") + line.fields[i];
  return text;
}

std::vector<std::string> LinesOf(const std::string& text, const char* section = "S") {
  const InfDocument inf = InfDocument::Parse(text);
  std::vector<std::string> lines;
  if (const InfSection* s = inf.Find(section)) {
    for (const InfLine& l : s->lines) lines.push_back(Show(l));
  }
  return lines;
}

TEST(InfReader, LinesAreSplitIntoKeysAndFieldsAsSetupApiReadsThem) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"[S]\nkey = a, b ,c\n", {"key=a|b|c"}},
      {"[S]\n  a , b  \n", {"a|b"}},
      {"[S]\nkey =\n", {"key="}},
      {"[S]\nkey = ,\n", {"key=|"}},
      {"[S]\nkey = a,,b\n", {"key=a||b"}},
      // Quotes keep commas, equals signs, semicolons and blanks.
      {"[S]\nk = \"a, b\", \"x=y;z\", \" pad \"\n", {"k=a, b|x=y;z| pad "}},
      {"[S]\nk = \"say \"\"hi\"\"\"\n", {"k=say \"hi\""}},
      {"[S]\n\"a=b\" = c\n", {"a=b=c"}},
      // An "=" after the first comma belongs to the field.
      {"[S]\na, b = c\n", {"a|b = c"}},
      // Comments end the line outside quotes only.
      {"[S]\nk = a ; note, with comma\n; whole line\n", {"k=a"}},
      {"[S]\nk = \"a;b\" ; note\n", {"k=a;b"}},
      // A backslash at the end joins the next line, also across a comment.
      {"[S]\nk = a, \\\n    b\n", {"k=a|b"}},
      {"[S]\nk = a, \\ ; more follows\n  b, \\\n  c\n", {"k=a|b|c"}},
      {"[S]\nk = \"a\\\"\nnext\n", {"k=a\\", "next"}},
      {"[S]\nk = path\\\n", {"k=path"}},
      // Line ends of either kind; blank lines and lines before any section.
      {"stray line\r\n[S]\r\n\r\nk = v\r\n", {"k=v"}},
      // A section given twice is one section.
      {"[S]\na\n[T]\nb\n[s]\nc\n", {"a", "c"}},
      {"[ S ]\nk = v\n", {"k=v"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(LinesOf(c.text), c.lines);
  }
}

TEST(InfReader, StringKeysAreReplacedFromTheStringsSection) {
  struct Case {
    const char* line;
    const char* shown;
  } cases[] = {
      {"k = %Name%", "k=Velloran"}, {"k = %NAME%-%name%", "k=Velloran-Velloran"},
      {"%Key% = v", "Device=v"},    {"k = \"%Name%, Inc\"", "k=Velloran, Inc"},
      {"k = %Comma%", "k=a,b"},     {"k = %12%\\tevdsm.sys", "k=%12%\\tevdsm.sys"},
      {"k = 100%%", "k=100%"},      {"k = %Unknown%", "k=%Unknown%"},
      {"k = 50%", "k=50%"},         {"k = %Empty%x", "k=x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string text = std::string("[S]\n") + c.line +
                             "\n[Strings]\nName = \"Velloran\"\nKey = Device\n"
                             "Comma = \"a,b\"\nEmpty = \"\"\n";
    EXPECT_EQ(LinesOf(text), std::vector<std::string>{c.shown});
  }
}

TEST(InfReader, FindsLinesAndVersionValuesWithoutRegardToCase) {
  const InfDocument inf = InfDocument::Parse(
      "[Version]\nSignature = \"$Windows NT$\"\nClassGuid = "
      "{4D36E97D-E325-11CE-BFC1-08002BE10318}\n"
      "[DefaultUninstall]\nDelFiles = F\nDelReg = R1, R2\n");
  EXPECT_EQ(inf.VersionValue("signature"), "$Windows NT$");
  EXPECT_EQ(inf.VersionValue("Class"), "");
  const InfLine* line = inf.FindLine("defaultuninstall", "DELREG");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(JoinInfFields(*line), "R1,R2");
  EXPECT_EQ(inf.FindLine("DefaultUninstall", "AddReg"), nullptr);
  EXPECT_EQ(inf.FindLine("Missing", "DelReg"), nullptr);
}

TEST(InfReader, IntegerFieldsReadAsSetupGetIntFieldDoes) {
  struct Case {
    const char* text;
    bool good;
    int32_t value;
  } cases[] = {
      {"0x00018002", true, 0x18002},
      {"0X18002", true, 0x18002},
      {"98306", true, 98306},
      {" 12 ", true, 12},
      {"-1", true, -1},
      {"0xFFFFFFFF", true, -1},
      {"4294967296", false, 0},
      {"0x", false, 0},
      {"", false, 0},
      {"12a", false, 0},
      {"0x1g", false, 0},
      {"0x100000000", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t value = 0;
    EXPECT_EQ(ParseInfInt(c.text, &value), c.good);
    if (c.good) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(InfReader, MalformedTextIsReadAsFarAsItGoes) {
  // An unclosed section header names the rest of its line; an unclosed
  // quote runs to the end of the logical line.
  EXPECT_EQ(LinesOf("[S\nk=\"unterminated, x\n"), std::vector<std::string>{"k=unterminated, x"});
  // A continuation on the last line ends the text.
  EXPECT_EQ(LinesOf("[S]\nk = a, \\"), std::vector<std::string>{"k=a|"});
  // Nothing but backslashes: no section at all.
  EXPECT_TRUE(InfDocument::Parse(std::string(5000, '\\')).Sections().empty());
  // A stray NUL is a byte like any other.
  EXPECT_EQ(LinesOf(std::string("[S]\nk=\0v\n", 9)),
            std::vector<std::string>{std::string("k=\0v", 4)});
  // Lone percent signs and an empty string key are kept.
  EXPECT_EQ(LinesOf("[S]\nk = %%%\n[Strings]\n%=x\n"), std::vector<std::string>{"k=%%"});
}

}  // namespace
}  // namespace platform::sim
