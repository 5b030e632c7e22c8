#include "platform/sim/registry/registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kPath = "SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters";

TEST(SimRegistryValues, NaturalFormsGiveTheStoredBytesAndComeBackUnchanged) {
  struct Case {
    const char* json;
    uint32_t type;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {R"({"type": "REG_DWORD", "value": 4294967295})", reg::kDword, {255, 255, 255, 255}},
      {R"({"type": "REG_DWORD", "value": 258})", reg::kDword, {2, 1, 0, 0}},
      {R"({"type": "REG_BINARY", "value": "41FF00"})", reg::kBinary, {0x41, 0xFF, 0}},
      {R"({"type": "REG_BINARY", "value": ""})", reg::kBinary, {}},
      {R"({"type": "REG_SZ", "value": "ab"})", reg::kSz, {'a', 'b', 0}},
      {R"({"type": "REG_EXPAND_SZ", "value": ""})", reg::kExpandSz, {0}},
      {R"({"type": "REG_MULTI_SZ", "value": ["a", "bc"]})",
       reg::kMultiSz,
       {'a', 0, 'b', 'c', 0, 0}},
      {R"({"type": "REG_MULTI_SZ", "value": []})", reg::kMultiSz, {0}},
      // Bytes without a natural form keep the raw one.
      {R"({"type": "REG_DWORD", "hex": "0102"})", reg::kDword, {1, 2}},
      {R"({"type": "REG_SZ", "hex": "6162"})", reg::kSz, {'a', 'b'}},
      {R"({"type": "REG_SZ", "hex": "C300"})", reg::kSz, {0xC3, 0}},
      {R"({"type": "REG_MULTI_SZ", "hex": "0000"})", reg::kMultiSz, {0, 0}},
      {R"({"type": 11, "hex": "01"})", 11, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(ParseRegistryValue(Json::parse(c.json), &type, &bytes, &error)) << error;
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(RegistryValueJson(type, bytes), Json::parse(c.json));
  }
}

TEST(SimRegistryValues, MalformedEntriesAreRefusedWithTheReason) {
  struct Case {
    const char* json;
    const char* error;
  } cases[] = {
      {R"(1)", "expected an object"},
      {R"({"type": "REG_DWORD", "value": 1, "size": 4})", "unknown key \"size\""},
      {R"({"type": "REG_QWORD", "value": 1})", "\"type\" must be"},
      {R"({"value": 1})", "\"type\" must be"},
      {R"({"type": "REG_DWORD"})", "exactly one of"},
      {R"({"type": "REG_DWORD", "value": 1, "hex": "01"})", "exactly one of"},
      {R"({"type": "REG_DWORD", "value": -1})", "from 0 to 4294967295"},
      {R"({"type": "REG_DWORD", "value": 4294967296})", "from 0 to 4294967295"},
      {R"({"type": "REG_DWORD", "value": "1"})", "from 0 to 4294967295"},
      {R"({"type": "REG_BINARY", "value": "414"})", "two digits per byte"},
      {R"({"type": "REG_BINARY", "value": "4G"})", "two digits per byte"},
      {R"({"type": "REG_SZ", "value": 5})", "must be text"},
      {R"({"type": "REG_MULTI_SZ", "value": ["a", ""]})", "non-empty texts"},
      {R"({"type": "REG_MULTI_SZ", "value": "a"})", "non-empty texts"},
      {R"({"type": "REG_NONE", "value": "a"})", "needs \"hex\""},
      {R"({"type": "REG_SZ", "hex": "x1"})", "\"hex\" must be"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(ParseRegistryValue(Json::parse(c.json), &type, &bytes, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(SimRegistry, MalformedSectionsAreRefused) {
  struct Case {
    const char* json;
    const char* error;
  } cases[] = {
      {R"({"registry": []})", "\"registry\" must be an object"},
      {R"({"registry": {"SYSTEM\\X": {}}})", "must start with HKLM\\"},
      {R"({"registry": {"HKLM\\": {}}})", "must start with HKLM\\"},
      {R"({"registry": {"HKLM\\A": {}, "hklm\\a": {}}})", "registry \"hklm\\a\": key listed twice"},
      {R"({"registry": {"HKLM\\A": 1}})", "expected an object of values"},
      {R"({"registry": {"HKLM\\A": {"V": {"type": "REG_SZ", "value": "x"}, "v": {}}}})",
       "registry \"HKLM\\A\".\"v\": value listed twice"},
      {R"({"registry": {"HKLM\\A": {"V": {"type": "REG_DWORD", "value": "x"}}}})",
       "registry \"HKLM\\A\".\"V\": a REG_DWORD value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    MachineState state;
    state.Adopt(Json::parse(c.json), "");
    std::string error;
    EXPECT_EQ(MakeRegistry(state, std::make_shared<Faults>(), &error), nullptr);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

class SimRegistryTest : public ::testing::Test {
 protected:
  void Load(const char* faults = "[]") {
    Json document = Json::parse(R"({"registry": {
        "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters": {
          "DsmUsePersistentReservation": {"type": "REG_DWORD", "value": 1},
          "DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "4142434445464748"}}}})");
    state_.Adopt(document, "");
    auto f = std::make_shared<Faults>();
    std::string error;
    ASSERT_TRUE(f->Load(Json::parse(faults), &error)) << error;
    registry_ = MakeRegistry(state_, f, &error);
    ASSERT_NE(registry_, nullptr) << error;
  }

  std::unique_ptr<RegistryKey> Open(std::string_view path, RegistryAccess access,
                                    Win32Error expected = win32_error::kSuccess) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry_->OpenKey(RegistryRoot::kLocalMachine, path, access, &key), expected)
        << path;
    EXPECT_EQ(key != nullptr, expected == win32_error::kSuccess);
    return key;
  }

  MachineState state_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(SimRegistryTest, KeysOpenWithoutRegardToCaseAndImplyTheirParents) {
  Load();
  Open("system\\currentcontrolset\\services\\tevdsm\\DSMPARAMETERS", RegistryAccess::kRead);
  Open("SYSTEM\\CurrentControlSet\\Services", RegistryAccess::kAllAccess);
  Open("SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters\\Sub", RegistryAccess::kRead,
       win32_error::kFileNotFound);
  Open("SYSTEM\\CurrentControlSet\\Services\\TEVD", RegistryAccess::kRead,
       win32_error::kFileNotFound);
}

TEST_F(SimRegistryTest, QueryFollowsTheSizeRulesOfTheRealCall) {
  Load();
  auto key = Open(kPath, RegistryAccess::kRead);
  uint32_t type = 0, size = 0;
  // No buffer: the type and size only.
  EXPECT_EQ(key->QueryValue("dsmpersistentreservationkey", &type, nullptr, &size), 0u);
  EXPECT_EQ(type, reg::kBinary);
  EXPECT_EQ(size, 8u);
  char bytes[8] = {};
  size = 4;
  EXPECT_EQ(key->QueryValue("DsmPersistentReservationKey", &type, bytes, &size),
            win32_error::kMoreData);
  EXPECT_EQ(size, 8u);
  size = sizeof bytes;
  EXPECT_EQ(key->QueryValue("DsmPersistentReservationKey", nullptr, bytes, &size), 0u);
  EXPECT_EQ(std::string(bytes, 8), "ABCDEFGH");
  EXPECT_EQ(key->QueryValue("Missing", &type, bytes, &size), win32_error::kFileNotFound);
  EXPECT_EQ(key->QueryValue("DsmPersistentReservationKey", &type, bytes, nullptr),
            win32_error::kInvalidParameter);
}

TEST_F(SimRegistryTest, SetNeedsFullAccessAndIsRecordedForWriteBack) {
  Load();
  const uint8_t zero[4] = {};
  EXPECT_EQ(Open(kPath, RegistryAccess::kRead)->SetValue("X", reg::kDword, zero, 4),
            win32_error::kAccessDenied);
  EXPECT_FALSE(state_.Changed());

  auto key = Open(kPath, RegistryAccess::kAllAccess);
  EXPECT_EQ(key->SetValue("dsmusepersistentreservation", reg::kDword, zero, 4), 0u);
  EXPECT_EQ(key->SetValue("Extra", reg::kBinary, "\x01\x02", 2), 0u);
  uint32_t value = 1, size = 4;
  EXPECT_EQ(key->QueryValue("DsmUsePersistentReservation", nullptr, &value, &size), 0u);
  EXPECT_EQ(value, 0u);
  // A key known only as a parent gets its own entry.
  EXPECT_EQ(Open("SYSTEM\\CurrentControlSet", RegistryAccess::kAllAccess)
                ->SetValue("Text", reg::kSz, "ok", 3),
            0u);

  const Json& section = state_.Document()["registry"];
  const Json& params = section[std::string("HKLM\\") + kPath];
  // An existing name keeps its spelling; new ones are added as given.
  EXPECT_EQ(params["DsmUsePersistentReservation"],
            Json::parse(R"({"type":"REG_DWORD","value":0})"));
  EXPECT_EQ(params["Extra"], Json::parse(R"({"type":"REG_BINARY","value":"0102"})"));
  EXPECT_EQ(section["HKLM\\SYSTEM\\CurrentControlSet"]["Text"],
            Json::parse(R"({"type":"REG_SZ","value":"ok"})"));
}

TEST_F(SimRegistryTest, ValuesSetAreWrittenBack) {
  const std::string path = ::testing::TempDir() + "/sim_registry_writeback.json";
  Load();
  state_.Adopt(state_.Document(), path);
  const uint8_t one[4] = {1, 0, 0, 0};
  ASSERT_EQ(Open(kPath, RegistryAccess::kAllAccess)->SetValue("New", reg::kDword, one, 4), 0u);
  std::string error;
  ASSERT_TRUE(state_.WriteBack(&error)) << error;
  std::ifstream in(path);
  const Json written = Json::parse(in);
  const Json& params =
      written["registry"]["HKLM\\SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters"];
  EXPECT_EQ(params["DsmUsePersistentReservation"]["value"], 1);
  EXPECT_EQ(params["New"]["value"], 1);
  EXPECT_EQ(written["registry"].size(), 1u);
  std::remove(path.c_str());
}

TEST_F(SimRegistryTest, FaultsFireOnTheirCallAndTarget) {
  Load(
      R"([{"call": "RegOpenKeyExA", "target": "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters", "code": 5, "times": 1},
           {"call": "RegQueryValueExA", "target": "DsmPersistentReservationKey", "code": 1117},
           {"call": "RegSetValueExA", "code": 1}])");
  Open(kPath, RegistryAccess::kRead, win32_error::kAccessDenied);
  auto key = Open(kPath, RegistryAccess::kRead);
  uint32_t value = 0, size = 4;
  EXPECT_EQ(key->QueryValue("DsmUsePersistentReservation", nullptr, &value, &size), 0u);
  size = 4;
  EXPECT_EQ(key->QueryValue("DsmPersistentReservationKey", nullptr, &value, &size),
            win32_error::kIoDevice);
  EXPECT_EQ(key->SetValue("X", reg::kDword, &value, 4), 1u);
  EXPECT_FALSE(state_.Changed());
}

}  // namespace
}  // namespace platform::sim
