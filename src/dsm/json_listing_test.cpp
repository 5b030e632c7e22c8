#include "dsm/json_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

#include "dsm/commands.h"
#include "dsm/fake_wmi_test.h"
#include "dsm/properties.h"
#include "scsi/fake_device_test.h"

namespace dsm {
namespace {

using namespace dsm::testing;
using Json = nlohmann::json;

class JsonListingTest : public FakeWmiTest {
 protected:
  void SetUp() override {
    FakeWmiTest::SetUp();
    platform::SetMachine(&machine_);
  }
  void TearDown() override {
    platform::SetMachine(nullptr);
    FakeWmiTest::TearDown();
  }

  // Three devices: FailOver with two paths (one on standby, big counters),
  // RoundRobin with one, an unknown policy with a 36-bit path id.
  void InstallThree() {
    SanPath a = ListedPath(0x1a, 2, kHbaA);
    a.weight = 1;
    a.primary = true;
    a.bytesRead = 1000;
    a.bytesWritten = 18446744073709551615u;
    a.reads = 4294967295u;
    a.writes = 2;
    SanPath b = ListedPath(0x1b, 3, kHbaB);
    b.state = 7;
    SanPath c = ListedPath(0x123456789, 4, kHbaA);
    c.state = 9;
    Install(*wmi_, {{L"A", 1, 2, 0x0123ABCD, 1, {a, b}},
                    {L"B", 2, 2, 0x0123ABCD, 2, {ListedPath(0x2a, 5, kHbaB)}},
                    {L"C", 9, 2, 0x0123ABCD, 3, {c}}});
  }

  // A physical drive whose identification page names the serial number.
  void AddDrive(int number, std::array<uint8_t, 5> serial) {
    scsi::testing::AddSerialDrive(machine_, number, serial);
  }

  struct Answer {
    int result;
    std::string text;
    std::string errors;
  };
  Answer Run(std::vector<const char*> words) {
    words.insert(words.begin(), "json");
    platform::StringOutput out;
    platform::StringOutput errors;
    int result = RunJson(out, errors, static_cast<int>(words.size()), words.data());
    return {result, out.Text(), errors.Text()};
  }
  // The document of a run that must succeed.
  Json Document(std::vector<const char*> words) {
    Answer answer = Run(std::move(words));
    EXPECT_EQ(answer.result, 0) << answer.text;
    EXPECT_EQ(answer.text.back(), '\n');
    return Json::parse(answer.text);
  }

  scsi::testing::FakeDeviceMachine machine_;
};

TEST(JsonWordsTest, ListingsAndTheirForms) {
  struct Case {
    std::vector<const char*> words;
    std::string error;  // empty for a request
    JsonRequest::Listing listing;
    std::optional<std::string> kind;
    std::string value;
  } cases[] = {
      {{"json", "devinfo"}, "", JsonRequest::Listing::kDevices, std::nullopt, ""},
      {{"JSO", "DEV"}, "", JsonRequest::Listing::kDevices, std::nullopt, ""},
      {{"json", "pathinfo"}, "", JsonRequest::Listing::kPaths, std::nullopt, ""},
      {{"json", "pat", "SN", "0123ABCD-01"}, "", JsonRequest::Listing::kPaths, "SN", "0123ABCD-01"},
      {{"json", "pathinfo", "hba", "x"}, "", JsonRequest::Listing::kPaths, "hba", "x"},
      {{"json", "iostatus"}, "", JsonRequest::Listing::kIoStatus, std::nullopt, ""},
      {{"json", "IOS"}, "", JsonRequest::Listing::kIoStatus, std::nullopt, ""},
      {{"json"}, "json", {}, {}, ""},
      {{"JSo"}, "JSo", {}, {}, ""},
      {{"json", "de"}, "de", {}, {}, ""},
      {{"json", "devinfos"}, "devinfos", {}, {}, ""},
      {{"json", "policies"}, "policies", {}, {}, ""},
      {{"json", "devinfo", "all"}, "devinfo", {}, {}, ""},
      {{"json", "pathinfo", "sn"}, "pathinfo", {}, {}, ""},
      {{"json", "pathinfo", "sn", "a", "b"}, "pathinfo", {}, {}, ""},
      {{"json", "pathinfo", "snx", "a"}, "snx", {}, {}, ""},
      {{"json", "pathinfo", "2100001B32000001", "online"}, "2100001B32000001", {}, {}, ""},
      {{"json", "iostatus", "rescan"}, "iostatus", {}, {}, ""},
  };
  for (const Case& c : cases) {
    auto parsed = ParseJsonWords(static_cast<int>(c.words.size()), c.words.data());
    const std::string label = c.words.back();
    if (!c.error.empty()) {
      ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << label;
      EXPECT_EQ(std::get<std::string>(parsed), c.error) << label;
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<JsonRequest>(parsed)) << label;
    const auto& request = std::get<JsonRequest>(parsed);
    EXPECT_EQ(request.listing, c.listing) << label;
    EXPECT_EQ(request.filterKind, c.kind) << label;
    EXPECT_EQ(request.filterValue, c.value) << label;
  }
}

TEST(JsonWordsTest, IdsAreTheListingsDigitsAfter0x) {
  struct Case {
    uint64_t id;
    const char* text;
  } cases[] = {
      {0, "0x00000000"},
      {0x1a, "0x0000001A"},
      {0xabcdef12, "0xABCDEF12"},
      {0x123456789, "0x123456789"},
      {UINT64_MAX, "0xFFFFFFFFFFFFFFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonId(c.id), c.text);
}

TEST_F(JsonListingTest, DevicesCarryTheDeviceTable) {
  InstallThree();
  Answer answer = Run({"devinfo"});
  EXPECT_EQ(answer.result, 0);
  EXPECT_EQ(answer.text.rfind("{\n  \"schema\": \"tollard/1\",\n  \"command\": \"devinfo\",", 0),
            0u)
      << answer.text;
  EXPECT_EQ(Json::parse(answer.text), Json::parse(R"({
    "schema": "tollard/1", "command": "devinfo",
    "devices": [
      {"device": 0, "serialNumber": "0123ABCD-01", "policy": "FailOver",
       "failBack": "failback-off", "pathCount": 2, "pathIds": ["0x0000001A", "0x0000001B"]},
      {"device": 1, "serialNumber": "0123ABCD-02", "policy": "RoundRobin",
       "failBack": "N/A", "pathCount": 1, "pathIds": ["0x0000002A"]},
      {"device": 2, "serialNumber": "0123ABCD-03", "policy": "Unknown",
       "failBack": "N/A", "pathCount": 1, "pathIds": ["0x123456789"]}]})"));
}

TEST_F(JsonListingTest, EmptyMachineGivesEmptyLists) {
  EXPECT_EQ(Document({"devinfo"})["devices"], Json::array());
  Json paths = Document({"pathinfo"});
  EXPECT_EQ(paths["paths"], Json::array());
  EXPECT_EQ(paths["pathsWithoutData"], Json::array());
  EXPECT_EQ(paths["filter"], nullptr);
  EXPECT_EQ(Document({"iostatus"})["iostatus"], Json::array());
}

// The blocks of a text pathinfo listing, label to value, and the number of
// "Error occured!" lines.
std::pair<std::vector<std::map<std::string, std::string>>, size_t> TextBlocks(
    const std::string& text) {
  std::vector<std::map<std::string, std::string>> blocks;
  size_t errors = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line == "Error occured!") ++errors;
    if (line.size() < 16 || line[0] != ' ') continue;
    std::string label = line.substr(1, line.find(':') - 1);
    if (label == "Policy") blocks.emplace_back();
    blocks.back()[label] = line.substr(16);
  }
  return {blocks, errors};
}

std::string AsText(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
  return value.dump();
}

TEST_F(JsonListingTest, PathsMatchTheTextListingFieldByField) {
  InstallThree();
  // Device A's second path loses its performance record: the text prints
  // "Error occured!" and leaves the device there.
  auto perf = ReadObjectArray(*wmi_->instances[L"ORNDSM_PERFINFO"][0], L"PerfInfo").Elements;
  static_cast<FakeObject&>(*perf[1]).Set(L"Identifier", Bytes({9, 9, 9, 9}));
  const std::map<std::string, std::string> labels = {{"Policy", "policy"},
                                                     {"SerialNumber", "serialNumber"},
                                                     {"PathId", "pathId"},
                                                     {"Weight", "weight"},
                                                     {"Primary", "primary"},
                                                     {"ScsiAddress", "scsiAddress"},
                                                     {"HbaWWPN", "hbaWwpn"},
                                                     {"CtrlPortWWPN", "ctrlPortWwpn"},
                                                     {"State", "state"},
                                                     {"BytesRead", "bytesRead"},
                                                     {"BytesWritten", "bytesWritten"},
                                                     {"NumberReads", "numberReads"},
                                                     {"NumberWrites", "numberWrites"}};
  struct Case {
    std::vector<const char*> words;
    size_t paths;
  } cases[] = {
      {{"pathinfo"}, 3},
      {{"pathinfo", "sn", "0123ABCD-02"}, 1},
      {{"pathinfo", "SN", "0123abcd-02"}, 0},
      {{"pathinfo", "hba", "2100001B32000001"}, 2},
      {{"pathinfo", "HBA", "2100001B32000002"}, 1},
      {{"pathinfo", "hba", "2100001b32000001"}, 0},
  };
  for (const Case& c : cases) {
    const std::string label = c.words.back();
    out_.Clear();
    std::optional<std::string> kind;
    if (c.words.size() == 3) kind = c.words[1];
    ASSERT_EQ(ListPaths(out_, kind, c.words.size() == 3 ? c.words[2] : ""), 0);
    auto [blocks, errors] = TextBlocks(out_.Text());
    Json document = Document(c.words);
    const Json& paths = document["paths"];
    ASSERT_EQ(paths.size(), c.paths) << label;
    ASSERT_EQ(blocks.size(), paths.size()) << label;
    for (size_t i = 0; i < blocks.size(); ++i) {
      for (const auto& [text, field] : labels) {
        std::string value = AsText(paths[i][field]);
        if (field == "pathId") value = value.substr(2);
        EXPECT_EQ(value, blocks[i][text]) << label << " " << field;
      }
    }
    EXPECT_EQ(document["pathsWithoutData"].size(), errors) << label;
  }
}

TEST_F(JsonListingTest, PathsTellTheirDeviceDriveAndTheOnesLeftOut) {
  InstallThree();
  auto perf = ReadObjectArray(*wmi_->instances[L"ORNDSM_PERFINFO"][0], L"PerfInfo").Elements;
  static_cast<FakeObject&>(*perf[0]).Set(L"Identifier", Bytes({9, 9, 9, 9}));
  AddDrive(7, {0x01, 0x23, 0xAB, 0xCD, 0x02});
  Json document = Document({"pathinfo", "sn", "0123ABCD-02"});
  EXPECT_EQ(document["filter"], Json::parse(R"({"kind": "sn", "value": "0123ABCD-02"})"));
  ASSERT_EQ(document["paths"].size(), 1u);
  EXPECT_EQ(document["paths"][0]["device"], 1);
  EXPECT_EQ(document["paths"][0]["physicalDrive"], 7);
  // Device A's first path has no record: its two paths are not listed.
  EXPECT_EQ(document["pathsWithoutData"], Json::parse(R"([{"device": 0,
      "serialNumber": "N/A", "pathId": "0x0000001A", "pathsNotListed": 2}])"));
  document = Document({"pathinfo"});
  ASSERT_EQ(document["paths"].size(), 2u);
  EXPECT_EQ(document["paths"][1]["physicalDrive"], nullptr);
  EXPECT_EQ(document["paths"][1]["pathId"], "0x123456789");
  EXPECT_EQ(document["paths"][1]["state"], "Unknown");
}

TEST_F(JsonListingTest, FilterValuesThatAreNotUtf8AreWrittenNotRefused) {
  InstallThree();
  Answer answer = Run({"pathinfo", "sn", "\xff\xfe-01"});
  EXPECT_EQ(answer.result, 0);
  Json document = Json::parse(answer.text);
  EXPECT_EQ(document["filter"]["value"], "\xEF\xBF\xBD\xEF\xBF\xBD-01");
  EXPECT_EQ(document["paths"], Json::array());
}

// The rows of the text table (PathId, PendingIOs, IOCounter, Device,
// SerialNumber, Status), split at blanks.
std::vector<std::vector<std::string>> TableRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> row;
    for (std::string word; words >> word;) row.push_back(word);
    if (row.size() == 6 && row[0] != "PathId") rows.push_back(row);
  }
  return rows;
}

TEST_F(JsonListingTest, IoStatusRowsMatchTheTable) {
  InstallThree();
  AddDrive(4, {0x01, 0x23, 0xAB, 0xCD, 0x01});
  DiskNameList() = {};
  const char* words[] = {"iostatus"};
  ASSERT_EQ(ShowIoStatus(out_, 1, words), 0);
  const auto rows = TableRows(out_.Text());
  Json document = Document({"iostatus"});
  const Json& records = document["iostatus"];
  ASSERT_EQ(rows.size(), 4u);
  ASSERT_EQ(records.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string id = records[i]["pathId"].get<std::string>().substr(2);
    for (char& ch : id) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(id, rows[i][0]) << i;
    EXPECT_EQ(AsText(records[i]["pendingIOs"]), rows[i][1]) << i;
    EXPECT_EQ(AsText(records[i]["ioCounter"]), rows[i][2]) << i;
    EXPECT_EQ(AsText(records[i]["device"]), rows[i][3]) << i;
    EXPECT_EQ(AsText(records[i]["serialNumber"]), rows[i][4]) << i;
    EXPECT_EQ(AsText(records[i]["status"]), rows[i][5]) << i;
  }
  EXPECT_EQ(records[0]["ioCounter"], 1);  // 4294967295 + 2 wraps as in the table
  EXPECT_EQ(records[0]["device"], 4);
  EXPECT_EQ(records[2]["device"], -1);
}

TEST_F(JsonListingTest, UnreadableClassesGiveTheFailureDocument) {
  struct Case {
    const char* listing;
    const wchar_t* cls;
    platform::HResult code;
    const char* name;
  } cases[] = {
      {"devinfo", L"ORNDSM_QueryLBPolicy", status::kWbemAccessDenied, "WBEM_E_ACCESS_DENIED"},
      {"devinfo", L"ORNDSM_PERFINFO", status::kWbemInvalidClass, "WBEM_E_INVALID_CLASS"},
      {"pathinfo", L"MPIO_GET_DESCRIPTOR", status::kAccessDenied, "E_ACCESSDENIED"},
      {"pathinfo", L"ORNDSM_QueryLBPolicy", status::kFail, "E_FAIL"},
      {"iostatus", L"ORNDSM_PERFINFO", status::kWbemTransportFailure, "WBEM_E_TRANSPORT_FAILURE"},
      {"iostatus", L"MPIO_GET_DESCRIPTOR", platform::MakeHResult(0x80071234), "0x80071234"},
  };
  for (const Case& c : cases) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    InstallThree();
    wmi_->faults->openEnum[c.cls] = c.code;
    Answer answer = Run({c.listing});
    const std::string cls = platform::ToConsoleText(c.cls);
    EXPECT_EQ(answer.result, 1) << cls;
    Json expected = {{"schema", "tollard/1"},
                     {"command", c.listing},
                     {"error",
                      {{"step", "CreateInstanceEnum"},
                       {"class", cls},
                       {"status", static_cast<uint32_t>(c.code)},
                       {"statusHex", StatusHex(c.code)},
                       {"statusName", c.name}}}};
    EXPECT_EQ(Json::parse(answer.text), expected) << cls;
  }
}

TEST_F(JsonListingTest, IoStatusReadsNoDevices) {
  InstallThree();
  wmi_->faults->openEnum[L"ORNDSM_QueryLBPolicy"] = status::kWbemAccessDenied;
  EXPECT_EQ(Document({"iostatus"})["iostatus"].size(), 4u);
}

TEST_F(JsonListingTest, NoConnectionGivesTheFailureDocument) {
  WmiServices().reset();
  Answer answer = Run({"pathinfo"});
  EXPECT_EQ(answer.result, 1);
  Json error = Json::parse(answer.text)["error"];
  const ConnectFailure& failure = LastConnectFailure();
  EXPECT_EQ(error["step"], failure.step.empty() ? "ConnectServer" : failure.step);
  EXPECT_FALSE(error.contains("class"));
}

TEST_F(JsonListingTest, WordsThatNameNoListingAreASyntaxError) {
  InstallThree();
  for (std::vector<const char*> words : std::vector<std::vector<const char*>>{
           {}, {"devices"}, {"pathinfo", "x", "online"}, {"devinfo", "all", "RoundRobin"}}) {
    Answer answer = Run(words);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.text.rfind("syntax error near ", 0), 0u) << answer.text;
    EXPECT_EQ(std::count(answer.text.begin(), answer.text.end(), '\n'), 1);
    EXPECT_TRUE(wmi_->enumerations.empty());
  }
}

}  // namespace
}  // namespace dsm

namespace dsm {
namespace {

// Counts what is taken from it and given back.
class CountingResource : public std::pmr::memory_resource {
 public:
  size_t live = 0;
  size_t calls = 0;

 private:
  void* do_allocate(size_t bytes, size_t align) override {
    live += bytes;
    ++calls;
    return std::pmr::new_delete_resource()->allocate(bytes, align);
  }
  void do_deallocate(void* p, size_t bytes, size_t align) override {
    live -= bytes;
    std::pmr::new_delete_resource()->deallocate(p, bytes, align);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

TEST(JsonArenaTest, DocumentsUseTheDefaultResourceAndGiveBackWhatTheyTook) {
  CountingResource counting;
  std::pmr::memory_resource* before = std::pmr::set_default_resource(&counting);
  {
    JsonDocument document = JsonDocument::object();
    document["paths"] = JsonDocument::array();
    for (int i = 0; i < 100; ++i) document["paths"].push_back({{"pathId", JsonId(i)}});
    EXPECT_GT(counting.calls, 100u);
  }
  EXPECT_EQ(counting.live, 0u);
  {
    const JsonArena arena;  // takes its blocks from the resource it replaces
    EXPECT_NE(std::pmr::get_default_resource(), &counting);
    JsonDocument document = {{"schema", "tollard/1"}};
  }
  EXPECT_EQ(std::pmr::get_default_resource(), &counting);
  EXPECT_EQ(counting.live, 0u);
  std::pmr::set_default_resource(before);
}

}  // namespace
}  // namespace dsm
