#include "scsi/dsm_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <utility>

#include "dsm/wmi_connection.h"
#include "platform/machine.h"
#include "scsi/fake_registry_test.h"

namespace scsi {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TEVDSM\\DsmParameters";

// Runs `action` on a machine whose DSM parameter key holds `values` (no
// key at all when null), with `faults`; returns the output and leaves the
// registry afterwards in `*after` ({"registry": {key: values}}). Without a
// WMI connection the counter reset of `set` prints nothing.
std::string RunOn(const char* values, const char* faults,
                  const std::function<int(platform::Output&)>& action, int* result, Json* after) {
  testing::FakeRegistryMachine machine;
  testing::LoadFakeRegistry(values, faults, &machine.registry);
  platform::SetMachine(&machine);
  platform::StringOutput out;
  auto services = std::exchange(dsm::WmiServices(), nullptr);
  *result = action(out);
  dsm::WmiServices() = std::move(services);
  platform::SetMachine(nullptr);
  *after = Json::object();
  if (machine.registry.values) (*after)["registry"][kKey] = testing::DumpFakeRegistry(machine.registry);
  return out.Text();
}

constexpr const char* kEnabled = R"({
    "DsmUsePersistentReservation": {"type": "REG_DWORD", "value": 1},
    "DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "4142434445464748"}})";
constexpr const char* kKeyLine = "                   Key: ";

TEST(ShowReservationSettings, ShowsTheFlagAndKeyOrWhyNot) {
  struct Case {
    const char* name;
    const char* values;
    const char* faults;
    std::string output;
  } cases[] = {
      {"enabled", kEnabled, "[]",
       "Persistent Reservation: Enable\n" + std::string(kKeyLine) + "ABCDEFGH\n"},
      {"disabled", R"({"DsmUsePersistentReservation": {"type": "REG_DWORD", "value": 0},
                       "DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "41"}})",
       "[]", "Persistent Reservation: Disable\n"},
      {"a flag with only a high byte set is nonzero",
       R"({"DsmUsePersistentReservation": {"type": "REG_DWORD", "value": 256},
           "DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "4142000043"}})",
       "[]", "Persistent Reservation: Enable\n" + std::string(kKeyLine) + "AB\n"},
      {"a short flag fills the low bytes",
       R"({"DsmUsePersistentReservation": {"type": "REG_BINARY", "value": "01"},
           "DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "5859"}})",
       "[]", "Persistent Reservation: Enable\n" + std::string(kKeyLine) + "XY\n"},
      {"no key", nullptr, "[]",
       "Could not open the registry key DsmParameters\nPersistent Reservation: Disable\n"},
      {"open fails", kEnabled, R"([{"call": "RegOpenKeyExA", "code": 5}])",
       "Could not open the registry key DsmParameters\nPersistent Reservation: Disable\n"},
      {"no flag", R"({"DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "41"}})", "[]",
       "Could not read the registry DsmUsePersistentReservation\n"
       "Persistent Reservation: Disable\n"},
      {"a key too long to read", R"({
           "DsmUsePersistentReservation": {"type": "REG_DWORD", "value": 1},
           "DsmPersistentReservationKey": {"type": "REG_BINARY", "value": "414243444546474849"}})",
       "[]",
       "Could not read the registry DsmPersistentReservationKey\n"
       "Persistent Reservation: Enable\n" +
           std::string(kKeyLine) + "\n"},
      {"the key's read fails", kEnabled,
       R"([{"call": "RegQueryValueExA", "target": "DsmPersistentReservationKey", "code": 5}])",
       "Could not read the registry DsmPersistentReservationKey\n"
       "Persistent Reservation: Enable\n" +
           std::string(kKeyLine) + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int result = -2;
    Json after;
    EXPECT_EQ(RunOn(c.values, c.faults, ShowReservationSettings, &result, &after), c.output);
    EXPECT_EQ(result, 0);
  }
}

TEST(WriteReservationSettings, StoresTheFlagAndOnlyAnEightCharacterKey) {
  struct Case {
    const char* name;
    const char* values;
    const char* faults;
    bool enable;
    const char* key;
    std::string output;
    Json flag;    // the flag's value afterwards (null: absent)
    Json stored;  // the key's value afterwards
  } cases[] = {
      {"enable with a key", kEnabled, "[]", true, "12345678", "", 1, "3132333435363738"},
      {"enable without a key creates the flag", "{}", "[]", true, nullptr, "", 1, nullptr},
      {"a key of another length is not stored", kEnabled, "[]", true, "123456789", "", 1,
       "4142434445464748"},
      {"disable leaves the key", kEnabled, "[]", false, "12345678", "", 0, "4142434445464748"},
      {"the flag cannot be set, the key still is", kEnabled,
       R"([{"call": "RegSetValueExA", "target": "DsmUsePersistentReservation", "code": 5}])", true,
       "ZZZZZZZZ", "Could not set the registry DsmUsePersistentReservation\n", 1,
       "5A5A5A5A5A5A5A5A"},
      {"the key cannot be set", kEnabled,
       R"([{"call": "RegSetValueExA", "target": "DsmPersistentReservationKey", "code": 5}])", true,
       "ZZZZZZZZ", "Could not set the registry DsmPersistentReservationKey\n", 1,
       "4142434445464748"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int result = -2;
    Json after;
    const std::string key = c.key == nullptr ? "" : c.key;
    auto write = [&](platform::Output& out) {
      return WriteReservationSettings(out, c.enable, c.key == nullptr ? nullptr : &key);
    };
    EXPECT_EQ(RunOn(c.values, c.faults, write, &result, &after), c.output);
    EXPECT_EQ(result, 0);
    const Json& values = after["registry"][kKey];
    EXPECT_EQ(values.value("DsmUsePersistentReservation", Json::object()).value("value", Json()),
              c.flag);
    EXPECT_EQ(values.value("DsmPersistentReservationKey", Json::object()).value("value", Json()),
              c.stored);
  }
}

TEST(WriteReservationSettings, AMissingKeyIsReportedAndNothingWritten) {
  int result = -2;
  Json after;
  auto enable = [](platform::Output& out) {
    const std::string key = "ABCDEFGH";
    return WriteReservationSettings(out, true, &key);
  };
  EXPECT_EQ(RunOn(nullptr, "[]", enable, &result, &after),
            "Could not open the registry key DsmParameters\n");
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(after.contains("registry"));
}

TEST(SetDsmParameter, ReadsAndWritesSigned32BitValues) {
  struct Case {
    std::vector<const char*> words;
    const char* values;
    int result;
    std::string output;
    Json stored;  // the value of "V" afterwards
  } cases[] = {
      {{"set", "v"},
       R"({"V": {"type": "REG_DWORD", "value": 4294967295}})",
       0,
       "v=-1\n",
       4294967295u},
      {{"set", "V"}, "{}", 0, "Could not read the registry V\nV=0\n", nullptr},
      {{"set", "V", "42"}, "{}", 0, "", 42},
      {{"set", "V", "-5"}, "{}", 0, "", 4294967291u},
      {{"set", "V", "99999999999"}, "{}", 0, "", 2147483647},
      {{"set", "V", "x1"}, "{}", 0, "", 0},
      {{"set", "V"}, nullptr, -1, "Could not open the registry key DsmParameters\n", nullptr},
      {{"set", "V", "1"}, nullptr, -1, "Could not open the registry key DsmParameters\n", nullptr},
      {{"set"}, "{}", 0, "", nullptr},
      {{"set", "V", "1", "2"}, "{}", 0, "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    int result = -2;
    Json after;
    auto set = [&](platform::Output& out) {
      return SetDsmParameter(out, static_cast<int>(c.words.size()), c.words.data());
    };
    EXPECT_EQ(RunOn(c.values, "[]", set, &result, &after), c.output);
    EXPECT_EQ(result, c.result);
    const Json values = after.contains("registry") ? after["registry"][kKey] : Json::object();
    EXPECT_EQ(values.value("V", Json::object()).value("value", Json()), c.stored);
  }
}

TEST(SetDsmParameter, AFailedStoreIsReported) {
  int result = -2;
  Json after;
  auto set = [](platform::Output& out) {
    const char* words[] = {"set", "V", "3"};
    return SetDsmParameter(out, 3, words);
  };
  EXPECT_EQ(RunOn("{}", R"([{"call": "RegSetValueExA", "code": 5}])", set, &result, &after),
            "Could not set the registry V\n");
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace scsi
