// Every section of a machine file refuses what it does not know, and states
// no device can reach, with one line that names the file, the line and the
// column of the offending member.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/sim/sim_machine.h"

namespace platform::sim {
namespace {

constexpr const char* kSan =
    R"("san": {"adapters": [{"wwpn": "2100001B32814A10"}],
        "controllers": [{"wwpn": "50060E8007C3E100"}],
        "luns": [{"serial": "6A0B1C20-01", "paths": [{"adapter": 0, "controller": 0}]}]})";

// A machine with the SAN above and `disk` as the entry of its only LUN.
std::string WithDisk(const std::string& disk) {
  return std::string("{") + kSan + ",\n \"disks\": {\"6A0B1C20-01\": " + disk + "}}";
}

// A machine whose ROOT\WMI namespace is `ns`.
std::string WithWmi(const std::string& ns) { return "{\"wmi\": {\"ROOT\\\\WMI\": " + ns + "}}"; }

// A ROOT\WMI namespace with class A (P uint32, L uint32[]) and `instances`.
std::string WithInstances(const std::string& instances) {
  return WithWmi(R"({"classes": [{"name": "A", "properties": [{"name": "P", "type": "uint32"},
      {"name": "L", "type": "uint32[]"}]}], "instances": {"A": [)" +
                 instances + "]}}");
}

std::string Registration(const std::string& nexus, const std::string& key) {
  return R"({"nexus": ")" + nexus + R"(", "key": ")" + key + "\"}";
}

const std::string kRegistered = Registration("2.0.0.1", "4141414141414141");

std::string WritePath(const std::string& name, const std::string& text) {
  // One file per test: ctest may run the tests of this file side by side.
  const std::string path = ::testing::TempDir() + "/strict_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                           name + ".json";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// "line L, column C" of the '^' in `marked`, and the text without it.
std::string Unmark(const std::string& marked, std::string* position) {
  const size_t at = marked.find('^');
  size_t line = 1, column = 1;
  for (size_t i = 0; i < at && i < marked.size(); ++i) {
    column = marked[i] == '\n' ? 1 : column + 1;
    if (marked[i] == '\n') ++line;
  }
  *position = "line " + std::to_string(line) + ", column " + std::to_string(column);
  return at == std::string::npos ? marked : marked.substr(0, at) + marked.substr(at + 1);
}

struct Refusal {
  const char* rule;
  std::string text;  // '^' marks the position the message must give
  std::string message;
};

void ExpectRefusals(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    std::string position;
    const std::string text = Unmark(c.text, &position);
    const std::string path = WritePath("refusal", text);
    std::string error;
    EXPECT_EQ(OpenMachine(path, &error), nullptr) << c.rule;
    EXPECT_EQ(error, path + ": " + position + ": " + c.message) << c.rule;
  }
}

TEST(StrictSectionsTest, UnknownKeysAreRefusedInEverySection) {
  ExpectRefusals({
      {"top level", R"({"san": {}, ^"sna": {}})", R"(top level: unknown key "sna")"},
      {"san adapter", R"({"san": {"adapters": [{"wwpn": "2100001B32814A10", ^"prot": 2}]}})",
       R"(san.adapters[0]: unknown key "prot")"},
      {"san timers", R"({"san": {"timers": {^"retryCont": 1}}})",
       R"(san.timers: unknown key "retryCont")"},
      {"wmi namespace", WithWmi(R"({^"clases": []})"), R"(wmi.ROOT\WMI: unknown key "clases")"},
      {"wmi class", WithWmi(R"({"classes": [{"name": "A", ^"propertes": []}]})"),
       R"(wmi.ROOT\WMI.classes[0]: unknown key "propertes")"},
      {"wmi property",
       WithWmi(R"({"classes": [{"name": "A", "properties": [{"name": "P", ^"kye": true}]}]})"),
       R"(wmi.ROOT\WMI.classes[0].properties[0]: unknown key "kye")"},
      {"wmi method",
       WithWmi(R"({"classes": [{"name": "A", "methods": [{"name": "M", ^"inn": []}]}]})"),
       R"(wmi.ROOT\WMI.classes[0].methods[0]: unknown key "inn")"},
      {"wmi instance", WithInstances(R"({"P": 1, ^"Q": 1})"),
       R"(wmi.ROOT\WMI.instances.A[0]: class has no property "Q")"},
      {"wmi forced value", WithInstances(R"({"P": {"$vt": "i4", "$value": 1, ^"$lowr": 1}})"),
       R"(wmi.ROOT\WMI.instances.A[0].P: unknown key "$lowr")"},
      {"registry value",
       R"({"registry": {"HKLM\\S": {"V": {"type": "REG_DWORD", "value": 1, ^"vaule": 2}}}})",
       R"(registry "HKLM\S"."V": unknown key "vaule")"},
      {"fault", R"({"faults": [{"call": "Next", ^"traget": "X", "code": 1}]})",
       R"(faults[0]: unknown key "traget")"},
      {"disk entry", WithDisk(R"({^"inquriy": {}})"),
       R"(disks.6A0B1C20-01: unknown key "inquriy")"},
      {"inquiry", WithDisk(R"({"inquiry": {^"pageCod": 1}})"),
       R"(disks.6A0B1C20-01.inquiry: unknown key "pageCod")"},
      {"reservations", WithDisk(R"({"reservations": {^"generaton": 1}})"),
       R"(disks.6A0B1C20-01.reservations: unknown key "generaton")"},
      {"registration",
       WithDisk(
           R"({"reservations": {"registrations": [{"nexus": "2.0.0.1", "key": "4141414141414141", ^"kee": 1}]}})"),
       R"(disks.6A0B1C20-01.reservations.registrations[0]: unknown key "kee")"},
      {"reservation",
       WithDisk(R"({"reservations": {"registrations": [)" + kRegistered +
                R"(], "reservation": {"holder": "2.0.0.1", "type": 6, ^"scope": 0}}})"),
       R"(disks.6A0B1C20-01.reservations.reservation: unknown key "scope")"},
      {"remote machine", R"({"remote": {"SAN-B": {^"usr": "x"}}})",
       R"(remote.SAN-B: unknown key "usr")"},
      {"remote machine's san", R"({"remote": {"SAN-B": {"san": {"timers": {^"retryCont": 1}}}}})",
       R"(remote.SAN-B.san.timers: unknown key "retryCont")"},
      {"remote machine's wmi", R"({"remote": {"SAN-B": {"wmi": {"ROOT\\WMI": {^"clases": []}}}}})",
       R"(remote.SAN-B.wmi.ROOT\WMI: unknown key "clases")"},
      {"remote inside remote", R"({"remote": {"SAN-B": {^"remote": {}}}})",
       R"(remote.SAN-B: a remote machine has no remote machines of its own)"},
  });
}

TEST(StrictSectionsTest, MalformedValuesAreShownWhereTheyStand) {
  ExpectRefusals({
      {"san flag", R"({"san": {"adapters": [{"wwpn": "2100001B32814A10", ^"claimsUnits": 1}]}})",
       R"(san.adapters[0].claimsUnits: 1 is not true or false)"},
      {"san missing member", R"({"san": {"luns": [^{"serial": "6A0B1C20-01"}]}})",
       R"(san.luns[0] (6A0B1C20-01).paths: expected a list)"},
      {"wmi key flag",
       WithWmi(R"({"classes": [{"name": "A", "properties": [{"name": "P", ^"key": 1}]}]})"),
       R"(wmi.ROOT\WMI.classes[0].properties[0]: "key" must be true or false)"},
      {"wmi type name",
       WithWmi(R"({"classes": [{"name": "A", "properties": [{"name": "P", ^"type": 5}]}]})"),
       R"(wmi.ROOT\WMI.classes[0].properties[0]: "type" must be text)"},
      {"wmi class name", WithInstances(R"({^"$class": 1})"),
       R"(wmi.ROOT\WMI.instances.A[0]: "$class" must be a class name)"},
      {"wmi array element", WithInstances(R"({"L": {"$vt": "i4[]", "$value": [1, ^"x"]}})"),
       R"(wmi.ROOT\WMI.instances.A[0].L.$value[1]: expected an integer)"},
      {"registry value", R"({"registry": {"HKLM\\S": {^"V": {"type": "REG_DWORD", "value": -1}}}})",
       R"(registry "HKLM\S"."V": a REG_DWORD value must be a number from 0 to 4294967295)"},
      {"fault not an object", R"({"faults": [{"call": "Next", "code": 1}, ^3]})",
       R"(faults[1]: expected an object)"},
      {"fault without call", R"({"faults": [^{"code": 1}]})", R"(faults[0]: needs a "call" name)"},
      {"fault call", R"({"faults": [{^"call": "Nxt", "code": 1}]})",
       R"(faults[0]: unknown call "Nxt")"},
      {"fault code beyond 32 bits", R"({"faults": [{"call": "Next", ^"code": "0x1FFFFFFFF"}]})",
       R"(faults[0]: needs a "code" (a number or text such as "0x80041010"))"},
      {"fault count beyond 32 bits",
       R"({"faults": [{"call": "Next", "code": 1, ^"times": 4294967296}]})",
       R"(faults[0]: "after" and "times" must be counts)"},
      {"inquiry byte", WithDisk(R"({"inquiry": {^"pageLength": 256}})"),
       R"(disks.6A0B1C20-01.inquiry: "pageLength" must be a number from 0 to 255)"},
      {"full transfer flag", WithDisk(R"({^"reportsFullTransfer": "yes"})"),
       R"(disks.6A0B1C20-01: "reportsFullTransfer" must be true or false)"},
      {"generation", WithDisk(R"({"reservations": {^"generation": -1}})"),
       R"(disks.6A0B1C20-01.reservations: "generation" must be a number from 0 to 4294967295)"},
      {"short key",
       WithDisk(
           R"({"reservations": {"registrations": [{"nexus": "2.0.0.1", ^"key": "41414141414141"}]}})"),
       R"(disks.6A0B1C20-01.reservations.registrations[0]: "key" must be 16 hexadecimal digits)"},
      {"array bound status", WithInstances(R"({"L": {"$value": [], ^"$upperStatus": "x"}})"),
       R"(wmi.ROOT\WMI.instances.A[0].L: "$upperStatus" must be a failure code such as "0x8002000B")"},
      {"event delay", WithInstances(R"({"P": 1, ^"$delay": -5})"),
       R"(wmi.ROOT\WMI.instances.A[0]: "$delay" must be milliseconds from 0 to 3600000)"},
      {"remote section", R"({^"remote": [1]})",
       R"(remote: expected an object of machines by name)"},
      {"remote password alone", R"({"remote": {"SAN-B": {^"password": "x"}}})",
       R"(remote.SAN-B: a "password" needs a "user")"},
      {"remote user", R"({"remote": {"SAN-B": {^"user": 1}}})",
       R"(remote.SAN-B: "user" must be text)"},
      {"remote named as the local machine", R"({"remote": {^"LocalHost": {}}})",
       R"(remote: "LocalHost" names the local machine)"},
      {"remote named twice", R"({"remote": {"san-b": {}, ^"SAN-B": {}}})",
       R"(remote: "SAN-B" is named twice (letter case aside))"},
      {"remote machine's LUN",
       R"({"remote": {"SAN-B": {"san": {"luns": [^{"serial": "6A0B1C20-01"}]}}}})",
       R"(remote.SAN-B.san.luns[0] (6A0B1C20-01).paths: expected a list)"},
  });
}

TEST(StrictSectionsTest, ReservationStatesNoDeviceCanReachAreRefused) {
  const std::string reg = "disks.6A0B1C20-01.reservations.registrations";
  const std::string nexusForm = R"("nexus" must be four numbers 0 to 255, "port.bus.target.lun")";
  std::vector<Refusal> cases = {
      {"serial of no LUN", std::string("{") + kSan + R"(, "disks": {^"6A0B1C20-09": {}}})",
       R"(disks: no LUN of the san section has serial "6A0B1C20-09")"},
      {"no san section", R"({"disks": {^"6A0B1C20-01": {}}})",
       R"(disks: no LUN of the san section has serial "6A0B1C20-01")"},
      {"holder not registered",
       WithDisk(R"({"reservations": {"registrations": [)" + kRegistered +
                R"(], "reservation": {^"holder": "2.0.0.2", "type": 6}}})"),
       "disks.6A0B1C20-01.reservations.reservation: holder 2.0.0.2 is not registered"},
      {"reservation without registrations",
       WithDisk(R"({"reservations": {"reservation": {^"holder": "2.0.0.1", "type": 1}}})"),
       "disks.6A0B1C20-01.reservations.reservation: holder 2.0.0.1 is not registered"},
      {"nexus registered twice",
       WithDisk(R"({"reservations": {"registrations": [)" + kRegistered +
                R"(, {^"nexus": "2.0.0.1", "key": "4242424242424242"}]}})"),
       reg + "[1]: nexus 2.0.0.1 is registered twice"},
      {"key 0",
       WithDisk(
           R"({"reservations": {"registrations": [{"nexus": "2.0.0.1", ^"key": "0000000000000000"}]}})"),
       reg + "[0]: no registration has key 0 (registering 0 removes one)"},
      {"reservation type",
       WithDisk(R"({"reservations": {"registrations": [)" + kRegistered +
                R"(], "reservation": {"holder": "2.0.0.1", ^"type": 2}}})"),
       R"(disks.6A0B1C20-01.reservations.reservation: "type" must be 1, 3, 5, 6, 7 or 8)"},
      {"attention nexus",
       WithDisk(R"({"reservations": {"unitAttentions": {^"2.0.0": ["2A/04"]}}})"),
       R"(disks.6A0B1C20-01.reservations.unitAttentions: "2.0.0" is not four numbers 0 to 255, "port.bus.target.lun")"},
      {"no attention", WithDisk(R"({"reservations": {"unitAttentions": {^"2.0.0.1": []}}})"),
       R"(disks.6A0B1C20-01.reservations.unitAttentions: expected a non-empty list of "ASC/ASCQ" texts)"},
      {"attention in lower case",
       WithDisk(R"({"reservations": {"unitAttentions": {"2.0.0.1": ["2A/04", ^"2a/03"]}}})"),
       R"(disks.6A0B1C20-01.reservations.unitAttentions.2.0.0.1[1]: "2a/03" is not two upper-case hexadecimal digits, '/' and two more ("2A/04"))"},
      {"attention of three digits",
       WithDisk(R"({"reservations": {"unitAttentions": {"2.0.0.1": [^"2A/004"]}}})"),
       R"(disks.6A0B1C20-01.reservations.unitAttentions.2.0.0.1[0]: "2A/004" is not two upper-case hexadecimal digits, '/' and two more ("2A/04"))"},
  };
  for (const char* nexus : {"2.0.0", "256.0.0.1", "02.0.0.1", "2.0.0.1.5", "2.0.0.x", " 2.0.0.1",
                            "", "2..0.1", "2.0.0.1."}) {
    cases.push_back({nexus,
                     WithDisk(R"({"reservations": {"registrations": [{^"nexus": ")" +
                              std::string(nexus) + R"(", "key": "4141414141414141"}]}})"),
                     reg + "[0]: " + nexusForm});
  }
  ExpectRefusals(cases);
}

TEST(StrictSectionsTest, EveryStateADeviceCanReachIsTaken) {
  std::vector<std::string> texts = {
      WithDisk(R"({"inquiry": {"pageCode": 128, "pageLength": 52}, "reportsFullTransfer": true})"),
      WithDisk(R"({"reportsFullTransfer": false, "reservations": {"generation": 3,
          "registrations": [{"nexus": "2.0.0.1", "key": "4141414141414141"},
                            {"nexus": "255.255.255.255", "key": "00000000000000a0"}],
          "unitAttentions": {"2.0.0.1": ["2A/04", "2A/03"], "0.0.0.0": ["29/00"]}}})"),
      std::string("{") + kSan + R"(, "faults": [{"call": "Next", "target": "A", "method": "M",
          "after": 1, "times": 4294967295, "code": -2147217407, "data": [1, 2]}]})",
      R"({"san": {"adapters": [{"wwpn": "2100001B32814A10", "claimsUnits": true}]}})",
  };
  for (int type : {1, 3, 5, 6, 7, 8}) {
    texts.push_back(WithDisk(R"({"reservations": {"registrations": [)" + kRegistered +
                             R"(], "reservation": {"holder": "2.0.0.1", "type": )" +
                             std::to_string(type) + "}}}"));
  }
  for (const std::string& text : texts) {
    const std::string path = WritePath("taken", text);
    std::string error;
    EXPECT_NE(OpenMachine(path, &error), nullptr) << text << "\n" << error;
  }
}

// The deepest file allowed makes the raw WMI reader recurse through 250
// embedded objects; that must stay well within the stack.
TEST(StrictSectionsTest, TheDeepestFileAllowedIsRead) {
  auto nested = [](size_t levels) {
    std::string text;
    for (size_t i = 0; i < levels; ++i) text += R"({"InstanceName": "x", "O": )";
    return text + "{}" + std::string(levels, '}');
  };
  const std::string classes = R"({"classes": [{"name": "A", "properties": [
      {"name": "InstanceName", "type": "string", "key": true},
      {"name": "O", "type": "object", "class": "A"}]}], "instances": {"A": [)";
  // The instance stands 5 levels deep (wmi, namespace, instances, A, list).
  const std::string limit = WithWmi(classes + nested(251) + "]}}");
  std::string error;
  EXPECT_NE(OpenMachine(WritePath("limit", limit), &error), nullptr) << error;
  const std::string past = WithWmi(classes + nested(252) + "]}}");
  EXPECT_EQ(OpenMachine(WritePath("past", past), &error), nullptr);
  EXPECT_NE(error.find(": wmi: nesting deeper than 256 levels"), std::string::npos) << error;
}

TEST(StrictSectionsTest, DeepFilesAreRefusedNotOverflowed) {
  const size_t depth = 150000;  // 300 KB of brackets, far past any stack
  const std::string deep = std::string(depth, '[') + std::string(depth, ']');
  const std::string deepObject = [&] {
    std::string text;
    for (size_t i = 0; i < depth / 8; ++i) text += "{\"a\": ";
    return text + "1" + std::string(depth / 8, '}');
  }();
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } cases[] = {
      {"wmi",
       "{\"wmi\": {\"ROOT\\\\WMI\": {\"instances\": {\"A\": [{\"P\": " + deepObject + "}]}}}}",
       "line 1, column 1551: wmi: nesting deeper than 256 levels"},
      {"faults", "{\"faults\": [{\"call\": \"Next\", \"code\": 1,\n \"data\": " + deep + "}]}",
       "line 2, column 264: faults: nesting deeper than 256 levels"},
      {"top level", deep, "line 1, column 258: top level: nesting deeper than 256 levels"},
      {"unknown section", "{\"deep\": " + deep + "}",
       "line 1, column 266: deep: nesting deeper than 256 levels"},
  };
  for (const auto& c : cases) {
    const std::string path = WritePath("deep", c.text);
    std::string error;
    EXPECT_EQ(OpenMachine(path, &error), nullptr) << c.name;
    EXPECT_EQ(error, path + ": " + c.message) << c.name;
  }
}

}  // namespace
}  // namespace platform::sim
