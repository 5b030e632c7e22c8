#include <gtest/gtest.h>

#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/setup/inf_engine.h"
#include "platform/sim/setup/setup_world.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

// A simulated machine's setup parts over a document kept in memory.
struct Machine {
  explicit Machine(const Json& document) {
    state.Adopt(document, "");
    std::string error;
    faults = std::make_shared<Faults>();
    registry = MakeRegistry(state, faults, &error);
    parts = MakeSimSetup(state, *registry, faults, &error);
    EXPECT_TRUE(parts) << error;
  }
  DeviceSetup& Setup() { return *parts->setup; }
  const Json& Doc() { return state.Document(); }

  MachineState state;
  std::shared_ptr<Faults> faults;
  std::unique_ptr<Registry> registry;
  std::unique_ptr<SimSetup> parts;
};

std::string LoadError(const Json& document) {
  MachineState state;
  state.Adopt(document, "");
  std::string error;
  auto faults = std::make_shared<Faults>();
  auto registry = MakeRegistry(state, faults, &error);
  return MakeSimSetup(state, *registry, faults, &error) ? std::string() : error;
}

TEST(SimSetupSections, MalformedSectionsAreRefusedWithThePlace) {
  struct Case {
    const char* json;
    const char* error;
  } cases[] = {
      {R"({"system": {"versoin": {}}})", "system: unknown key \"versoin\""},
      {R"({"system": {"version": {"major": 6}}})", "system.version: expected"},
      {R"({"system": {"version": {"major": 6, "minor": -1}}})", "system.version: expected"},
      {R"({"system": {"windows_directory": "Windows"}})", "system.windows_directory: expected"},
      {R"({"system": {"messages": {"70000": "x"}}})", "system.messages: a message id"},
      {R"({"system": {"messages": {"2": 2}}})", "system.messages: a message id"},
      {R"({"system": {"environment": {"A": 1}}})", "system.environment: \"A\" must be text"},
      {R"({"system": {"reboot_after_driver_update": 1}})", "expected true or false"},
      {R"({"files": []})", "files: expected an object"},
      {R"({"files": {"pkg\\a.inf": {"text": ""}}})", "must start with a drive"},
      {R"({"files": {"C:\\a": {"text": "", "host": "x"}}})", "exactly one of"},
      {R"({"files": {"C:\\a": {"txt": ""}}})", "unknown key \"txt\""},
      {R"({"files": {"C:\\a": {"directory": false}}})", "\"directory\" must be true"},
      {R"({"files": {"C:\\a": {"host": "/nonexistent/file"}}})", "cannot read /nonexistent/file"},
      {R"({"files": {"C:\\a": {"text": ""}, "c:\\A\\": {"text": ""}}})", "listed twice"},
      {R"({"devices": {}})", "devices: expected a list"},
      {R"({"devices": [{"class": "{4D36E967-E325-11CE-BFC1-08002BE10318}"}]})",
       "devices[0]: needs an \"instance\""},
      {R"({"devices": [{"instance": "A", "class": "disk"}]})", "devices[0]: \"class\" must be"},
      {R"({"devices": [{"instance": "A", "class": "{4D36E967-E325-11CE-BFC1-08002BE10318}",
           "hardware_ids": ["a", ""]}]})",
       "\"hardware_ids\" must be"},
      {R"({"devices": [{"instance": "A", "class": "{4D36E967-E325-11CE-BFC1-08002BE10318}",
           "flags": 1}]})",
       "devices[0]: unknown key \"flags\""},
      {R"({"devices": [{"instance": "A", "class": "{4D36E967-E325-11CE-BFC1-08002BE10318}"},
                       {"instance": "a", "class": "{4D36E967-E325-11CE-BFC1-08002BE10318}"}]})",
       "devices[1]: instance id listed twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_NE(LoadError(Json::parse(c.json)).find(c.error), std::string::npos)
        << LoadError(Json::parse(c.json));
  }
  EXPECT_EQ(LoadError(Json::parse(R"({"system": {"version": null}, "devices": [],
      "files": {"C:\\d": {"directory": true}}})")),
            "");
}

TEST(SimSetupOem, CopiesAreNumberedReusedAndRemoved) {
  const std::string inf = "[Version]\nSignature=\"$Windows NT$\"\n";
  Machine m(Json{{"files",
                  {{"C:\\p\\a.inf", {{"text", inf}}},
                   {"C:\\p\\b.inf", {{"text", inf + ";b"}}},
                   {"C:\\Windows\\inf\\oem0.inf", {{"text", "other"}}},
                   {"C:\\Windows\\inf\\machine.inf", {{"text", inf}}}}}});
  std::string name;
  EXPECT_EQ(m.Setup().CopyOemInf("C:\\p\\a.inf", kSpCopyReplaceOnly, &name), 2u);
  ASSERT_EQ(m.Setup().CopyOemInf("C:\\p\\a.inf", 0, &name), 0u);
  EXPECT_EQ(name, "C:\\Windows\\inf\\oem1.inf");
  ASSERT_EQ(m.Setup().CopyOemInf("C:\\p\\a.inf", kSpCopyReplaceOnly, &name), 0u);
  EXPECT_EQ(name, "C:\\Windows\\inf\\oem1.inf");
  ASSERT_EQ(m.Setup().CopyOemInf("C:\\p\\b.inf", 0, &name), 0u);
  EXPECT_EQ(name, "C:\\Windows\\inf\\oem2.inf");
  EXPECT_TRUE(m.Doc()["files"].contains("C:\\Windows\\inf\\oem2.pnf"));
  EXPECT_EQ(m.Setup().CopyOemInf("C:\\p\\none.inf", 0, &name), 2u);

  EXPECT_EQ(m.Setup().UninstallOemInf("machine.inf", kSuoiForceDelete), 87u);
  EXPECT_EQ(m.Setup().UninstallOemInf("oem9.inf", kSuoiForceDelete), 2u);
  // The file name alone, as Windows wants it: a path is refused.
  EXPECT_EQ(m.Setup().UninstallOemInf("C:\\Windows\\inf\\oem1.inf", kSuoiForceDelete), 87u);
  EXPECT_TRUE(m.Doc()["files"].contains("C:\\Windows\\inf\\oem1.inf"));
  ASSERT_EQ(m.Setup().UninstallOemInf("oem1.inf", kSuoiForceDelete), 0u);
  EXPECT_FALSE(m.Doc()["files"].contains("C:\\Windows\\inf\\oem1.inf"));
  EXPECT_FALSE(m.Doc()["files"].contains("C:\\Windows\\inf\\oem1.pnf"));
}

TEST(SimSystemPaths, ProbesAnswerAsFindFirstFileDoes) {
  Machine m(Json{{"files", {{"C:\\pkg\\a.inf", {{"text", "x"}}}}}});
  System& sys = *m.parts->system;
  struct Case {
    const char* path;
    Win32Error error;
  } cases[] = {
      {"C:\\pkg", 0},          {"C:\\pkg\\a.inf", 0}, {"", 3},  // no path at all
      {"C:\\pkg\\", 2},  // a folder's entries with an empty pattern
      {"C:\\pkg\\a.inf\\", 2}, {"C:\\pkg\\.", 0},     {"C:\\Windows\\..\\pkg\\\\a.inf", 0},
      {"C:\\..\\..\\pkg", 0},  // ".." stops at the drive
      {"pkg\\.\\a.inf", 0},    // from the current directory
      {"C:\\nowhere\\x", 3},   {"C:\\pkg\\b.inf", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sys.Probe(c.path), c.error) << c.path;
  }
  ASSERT_EQ(sys.ChangeDirectory("C:\\Windows\\..\\pkg"), 0u);
  EXPECT_EQ(sys.Probe("..\\pkg\\a.inf"), 0u);
  std::string text;
  EXPECT_EQ(sys.ReadContent(".\\a.inf", &text), 0u);
  EXPECT_EQ(text, "x");
}

TEST(SimSetupOem, AnInfInUseNeedsTheForceFlag) {
  Machine m(Json{{"files", {{"C:\\Windows\\inf\\oem3.inf", {{"text", "x"}}}}},
                 {"devices",
                  {{{"instance", "R\\1"},
                    {"class", "{4D36E97D-E325-11CE-BFC1-08002BE10318}"},
                    {"driver", "OEM3.INF"}}}}});
  EXPECT_EQ(m.Setup().UninstallOemInf("oem3.inf", 0), 0xE000023Du);
  EXPECT_EQ(m.Setup().UninstallOemInf("oem3.inf", kSuoiForceDelete), 0u);
}

// The registry after running section "S" of an INF on a machine.
Json AfterSection(const std::string& lines, const Json& registry, OsVersionInfo version) {
  const std::string text =
      "[Version]\nSignature=\"$Windows NT$\"\n[S]\nAddReg = A\nDelReg = D\n" + lines;
  Machine m(Json{{"system", {{"version", {{"major", version.major}, {"minor", version.minor}}}}},
                 {"registry", registry},
                 {"files", {{"C:\\p\\x.inf", {{"text", text}}}}}});
  std::unique_ptr<InfFile> inf;
  EXPECT_EQ(m.Setup().OpenInf("C:\\p\\x.inf", &inf), 0u);
  EXPECT_EQ(inf->InstallSection("S", kSpinstRegistryAndFiles, 0), 0u);
  return m.Doc()["registry"];
}

TEST(SimSetupInf, RegistryLinesFollowTheirFlags) {
  const Json base = {{"HKLM\\K",
                      {{"L", {{"type", "REG_MULTI_SZ"}, {"value", {"a", "b", "A"}}}},
                       {"S", {{"type", "REG_SZ"}, {"value", "old"}}}}}};
  struct Case {
    const char* lines;
    const char* value;
    Json expected;
  } cases[] = {
      {"[A]\nHKLM, K, L, 0x10008, c, B\n", "L", {"a", "b", "A", "c"}},
      {"[A]\nHKLM, K, L, 0x10000, c\n", "L", {"c"}},
      {"[A]\nHKLM, K, S, 0x2, new\n", "S", "old"},
      {"[A]\nHKLM, K, S, 0, new\n", "S", "new"},
      {"[A]\nHKLM, K, N, 0x10001, 0x20\n", "N", 32u},
      {"[A]\nHKLM, K, N, 0x20000, \"%%SystemRoot%%\"\n", "N", "%SystemRoot%"},
      {"[D]\nHKLM, K, L, 0x18002, A\n", "L", {"b"}},
      {"[D]\nHKLM, K, L, 0x18002, zz\n", "L", {"a", "b", "A"}},
      {"[D]\nHKLM, K, S\n", "S", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    const Json registry = AfterSection(c.lines, base, {6, 1, 0});
    const Json& key = registry["HKLM\\K"];
    if (c.expected.is_null()) {
      EXPECT_FALSE(key.contains(c.value));
    } else {
      ASSERT_TRUE(key.contains(c.value));
      EXPECT_EQ(key[c.value]["value"], c.expected);
    }
  }
  // Windows 2000's SetupAPI skips delete-string lines.
  EXPECT_EQ(AfterSection("[D]\nHKLM, K, L, 0x18002, A\n", base, {5, 0, 0})["HKLM\\K"]["L"]["value"],
            Json({"a", "b", "A"}));
  // A line without a value name deletes the key and its subkeys.
  Json nested = base;
  nested["HKLM\\K\\Sub"] = {{"V", {{"type", "REG_SZ"}, {"value", "x"}}}};
  nested["HKLM\\Keep"] = Json::object();
  const Json after = AfterSection("[D]\nHKLM, k\n", nested, {6, 1, 0});
  EXPECT_FALSE(after.contains("HKLM\\K"));
  EXPECT_FALSE(after.contains("HKLM\\K\\Sub"));
  EXPECT_TRUE(after.contains("HKLM\\Keep"));
}

TEST(SimSetupInf, MultiStringsSplitAtTheFirstEmptyStringAndNeverPastTheEnd) {
  EXPECT_EQ(SplitMultiSz(std::string("a\0b\0\0c\0", 7)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitMultiSz("ab"), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(SplitMultiSz(std::string("\0", 1)), (std::vector<std::string>{}));
  EXPECT_EQ(JoinMultiSz({}), std::string("\0", 1));
}

}  // namespace
}  // namespace platform::sim
