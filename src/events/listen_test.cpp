#include "events/listen.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "events/event_sink.h"
#include "events/fake_events_test.h"

namespace events {
namespace {

using namespace events::testing;
using platform::wmi::Value;
namespace vt = platform::wmi::vt;
namespace status = platform::status;

// Local time is UTC for the duration of a test; the zone before is put back.
class UtcTime {
 public:
  UtcTime() {
    if (const char* tz = std::getenv("TZ")) before_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~UtcTime() {
    if (before_) {
      setenv("TZ", before_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> before_;
};

constexpr uint64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 in 100-ns units since 1601
constexpr uint64_t kSecond = 10000000;

TEST(EventTimeTextTest, ShowsLocalTimeInTheAsctimeForm) {
  UtcTime utc;
  struct Row {
    uint64_t stamp;
    const char* expected;
  };
  const std::vector<Row> rows = {
      {kUnixEpoch, "Thu Jan  1 00:00:00 1970"},
      {kUnixEpoch + kSecond - 1, "Thu Jan  1 00:00:00 1970"},  // the remainder is dropped
      {kUnixEpoch + 1733580000 * kSecond, "Sat Dec  7 14:00:00 2024"},
      {kUnixEpoch + 32535215999 * kSecond, "Wed Dec 31 23:59:59 3000"},
      {kUnixEpoch - 1, ""},  // before 1970
      {0, ""},
      {kUnixEpoch + 32535216000 * kSecond, ""},  // the year 3001
      {UINT64_MAX, ""},
  };
  for (const Row& row : rows) EXPECT_EQ(EventTimeText(row.stamp), row.expected) << row.stamp;
}

TEST(SeverityNameTest, NamesTheFourLevels) {
  const std::vector<std::pair<int32_t, const char*>> rows = {
      {1, "Fatal Error"}, {2, "Error"},   {3, "Warning"},  {4, "Information"},    {0, "Unknown"},
      {5, "Unknown"},     {7, "Unknown"}, {-1, "Unknown"}, {INT32_MIN, "Unknown"}};
  for (const auto& [value, name] : rows) EXPECT_EQ(SeverityName(value), name) << value;
}

std::shared_ptr<dsm::testing::FakeObject> Event(FakeServices& wmi) {
  auto event = wmi.New(L"MPIO_EventEntry");
  event->Set(L"InstanceName", Value::Bstr(L"MPIO\\Event_0"))
      .Set(L"Active", Value::Bool(true))
      .Set(L"TimeStamp", Value::Bstr(std::to_wstring(kUnixEpoch + 60 * kSecond)))
      .Set(L"Severity", Value::I4(3))
      .Set(L"Component", Value::Bstr(L"tevdsm"))
      .Set(L"EventDescription", Value::Bstr(L"Path 0x1A failed"));
  return event;
}

const char kEventText[] =
    " InstanceName : MPIO\\Event_0\n"
    " Active : -1\n"
    " TimeStamp : Thu Jan  1 00:01:00 1970\n"
    " Severity : Warning\n"
    " Component : tevdsm\n"
    " EventDescription : Path 0x1A failed\n"
    "\n";

TEST(EventTextTest, PrintsSevenLines) {
  UtcTime utc;
  FakeServices wmi;
  EXPECT_EQ(EventText(*Event(wmi)), kEventText);
}

// One property changed at a time; the line it prints.
TEST(EventTextTest, OddPropertiesPrintTheLabelOnly) {
  UtcTime utc;
  struct Row {
    const wchar_t* name;
    Value value;
    const char* line;
  };
  const std::vector<Row> rows = {
      {L"Active", Value::Bool(false), " Active : 0\n"},
      {L"Active", Value::I4(65535), " Active : -1\n"},
      {L"Active", Value::I4(0x18000), " Active : -32768\n"},
      {L"Active", Value::Bstr(L"1"), " Active : \n"},
      {L"Active", Value::Null(), " Active : \n"},
      {L"Severity", Value::I4(7), " Severity : Unknown\n"},
      {L"Severity", Value::Int(vt::kUi1, 1), " Severity : Fatal Error\n"},
      {L"Severity", Value::Bstr(L"3"), " Severity : \n"},
      {L"TimeStamp", Value::Bstr(L"junk"), " TimeStamp : \n"},
      {L"TimeStamp", Value::Bstr(L" 116444736000000000x"),
       " TimeStamp : Thu Jan  1 00:00:00 1970\n"},
      {L"TimeStamp", Value::Int(vt::kI8, int64_t(kUnixEpoch)),
       " TimeStamp : Thu Jan  1 00:00:00 1970\n"},
      {L"TimeStamp", Value::Real(vt::kR8, 1e17), " TimeStamp : \n"},
      {L"InstanceName", Value::I4(4), " InstanceName : \n"},
      {L"Component", Value::Unknown(nullptr), " Component : \n"},
      {L"EventDescription", Value::Empty(), " EventDescription : \n"},
      {L"EventDescription", Value::Bstr(std::wstring(L"Path\0\0junk", 10)),
       " EventDescription : Path\n"},
      {L"InstanceName", Value::Bstr(std::wstring(L"\0x", 2)), " InstanceName : \n"},
  };
  FakeServices wmi;
  for (const Row& row : rows) {
    auto event = Event(wmi);
    event->Set(row.name, row.value);
    EXPECT_NE(EventText(*event).find(row.line), std::string::npos) << row.line;
  }
  EXPECT_EQ(EventText(*wmi.New(L"MPIO_EventEntry")),
            " InstanceName : \n Active : \n TimeStamp : \n Severity : \n Component : \n"
            " EventDescription : \n\n");
}

TEST(WaitForKeyTest, ConsumesOneCharacterAfterAnyNuls) {
  struct Row {
    std::string input;
    int key;
    long consumed;
  };
  const std::vector<Row> rows = {
      {"", EOF, 0},
      {std::string("\0\0", 2), EOF, 2},
      {"\n", '\n', 1},
      {"xyz\n", 'x', 1},
      {std::string("\0\0x\n", 4), 'x', 3},
      // CR LF is one line end; a CR before anything else is a character.
      {"\r\nquit\n", '\n', 2},
      {std::string("\0\r\n", 3), '\n', 3},
      {"\rx", '\r', 1},
      {"\r", '\r', 1},
      {"\r\r\n", '\r', 1},
  };
  for (const Row& row : rows) {
    std::FILE* in = InputOf(row.input);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(WaitForKey(in), row.key) << row.input;
    EXPECT_EQ(std::ftell(in), row.consumed) << row.input;
    std::fclose(in);
  }
}

class ListenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    in_ = InputOf("xyz\n");
    machine_ = std::make_unique<FakeMachine>(log_, in_);
    platform::SetMachine(machine_.get());
    dsm::WmiServices() = wmi_;
  }
  void TearDown() override {
    dsm::WmiServices().reset();
    platform::SetMachine(nullptr);
    std::fclose(in_);
  }

  Log log_;
  std::FILE* in_ = nullptr;
  std::unique_ptr<FakeMachine> machine_;
  std::shared_ptr<NotifyingServices> wmi_ = std::make_shared<NotifyingServices>(log_);
  platform::StringOutput out_;
};

TEST_F(ListenTest, PrintsEventsWhileItWaitsWithoutHoldingTheMachine) {
  UtcTime utc;
  wmi_->events = {Event(*wmi_), nullptr, Event(*wmi_)};
  EXPECT_EQ(RunListen(out_, in_), 0);
  EXPECT_EQ(out_.Text(),
            std::string("\n listening mode, press ENTER to stop...\n") + kEventText + kEventText);
  EXPECT_EQ(wmi_->language, L"WQL");
  EXPECT_EQ(wmi_->query, L"SELECT * FROM MPIO_EventEntry");
  EXPECT_EQ(wmi_->flags, 128);
  // Only "x" is read, between giving up the machine and taking it back.
  EXPECT_EQ(log_, (Log{"stub", "subscribe", "release@0", "cancel", "acquire@1"}));
  EXPECT_EQ(std::fgetc(in_), 'y');
  EXPECT_TRUE(machine_->runtime.lastStub.expired());
  EXPECT_TRUE(machine_->runtime.lastSink.expired());
}

TEST_F(ListenTest, EventsAfterTheCancellationPrintNothing) {
  wmi_->keep = true;
  EXPECT_EQ(RunListen(out_, in_), 0);
  out_.Clear();
  ASSERT_NE(wmi_->kept, nullptr);
  EXPECT_EQ(wmi_->kept->Indicate({Event(*wmi_)}), 0);
  EXPECT_EQ(out_.Text(), "");
  wmi_->kept.reset();
  EXPECT_TRUE(machine_->runtime.lastSink.expired());
}

TEST_F(ListenTest, EventsDeliveredDuringTheCancellationPrintNothing) {
  UtcTime utc;
  wmi_->events = {Event(*wmi_)};
  wmi_->lateEvents = {Event(*wmi_)};
  EXPECT_EQ(RunListen(out_, in_), 0);
  EXPECT_EQ(out_.Text(), std::string("\n listening mode, press ENTER to stop...\n") + kEventText);
}

TEST_F(ListenTest, FailuresGiveOneAndReleaseEverything) {
  struct Row {
    const char* what;
    HResult stub;
    HResult subscribe;
    int release;
    int acquire;
    const char* output;
    Log log;
  };
  const std::string listening = "\n listening mode, press ENTER to stop...\n";
  const std::vector<Row> rows = {
      {"no apartment", status::kClassNotReg, 0, 0, 0, "", {"stub"}},
      {"refused", 0, status::kWbemNotFound, 0, 0, listening.c_str(), {"stub", "subscribe"}},
      {"machine not taken back",
       0,
       0,
       0,
       1,
       listening.c_str(),
       {"stub", "subscribe", "release@0", "cancel", "acquire@1"}},
      {"machine not written",
       0,
       0,
       1,
       0,
       listening.c_str(),
       {"stub", "subscribe", "release@0", "cancel", "acquire@1"}},
  };
  for (const Row& row : rows) {
    log_.clear();
    out_.Clear();
    std::rewind(in_);
    machine_->runtime.stubResult = row.stub;
    wmi_->subscribeResult = row.subscribe;
    machine_->releaseResult = row.release;
    machine_->acquireResult = row.acquire;
    EXPECT_EQ(RunListen(out_, in_), 1) << row.what;
    EXPECT_EQ(out_.Text(), row.output) << row.what;
    EXPECT_EQ(log_, row.log) << row.what;
    EXPECT_TRUE(machine_->runtime.lastSink.expired()) << row.what;
    EXPECT_TRUE(machine_->runtime.lastStub.expired()) << row.what;
  }
}

TEST_F(ListenTest, APositiveSubscriptionResultIsNoRefusal) {
  wmi_->subscribeResult = status::kWbemSFalse;
  EXPECT_EQ(RunListen(out_, in_), 0);
  EXPECT_EQ(log_, (Log{"stub", "subscribe", "release@0", "cancel", "acquire@1"}));
}

}  // namespace
}  // namespace events
