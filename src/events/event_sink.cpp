#include "events/event_sink.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>

#include "dsm/properties.h"

namespace events {
namespace {

using platform::HResult;
using platform::wmi::Object;
using platform::wmi::Value;
namespace vt = platform::wmi::vt;

// Seconds from 1601-01-01 to 1970-01-01, and the last second of the year
// 3000 after 1970: the range that the Windows C library converts too, so
// both builds print the same.
constexpr uint64_t kEpochSeconds = 11644473600;
constexpr uint64_t kLastSecond = 32535215999;

// Integers of every width, and VARIANT_BOOL, which carries 0 or -1.
bool IsInteger(uint16_t type) { return vt::IsInteger(type) || type == vt::kBool; }

bool Read(const Object& object, std::wstring_view name, Value* value) {
  return platform::Succeeded(object.Get(name, value, nullptr)) && !value->IsNull();
}

std::optional<int64_t> ReadInteger(const Object& object, std::wstring_view name) {
  Value value;
  if (!Read(object, name, &value) || !IsInteger(value.type)) return std::nullopt;
  return value.integer;
}

void AppendText(std::string& text, const Object& object, std::wstring_view name) {
  Value value;
  if (Read(object, name, &value) && value.type == vt::kBstr) {
    text += platform::ToConsoleCString(value.text);
  }
}

void AppendTime(std::string& text, const Object& object) {
  Value value;
  if (!Read(object, L"TimeStamp", &value)) return;
  if (value.type == vt::kBstr) {
    text += EventTimeText(dsm::ParseUint64(value.text));
  } else if (IsInteger(value.type)) {
    text += EventTimeText(static_cast<uint64_t>(value.integer));
  }
}

bool LocalTime(std::time_t t, std::tm* local) {
#ifdef _WIN32
  return localtime_s(local, &t) == 0;
#else
  return localtime_r(&t, local) != nullptr;
#endif
}

}  // namespace

std::string_view SeverityName(int32_t severity) {
  static constexpr std::array<std::string_view, 5> kNames = {"Unknown", "Fatal Error", "Error",
                                                             "Warning", "Information"};
  return severity >= 1 && severity <= 4 ? kNames[static_cast<size_t>(severity)] : kNames[0];
}

std::string EventTimeText(uint64_t stamp) {
  const uint64_t seconds = stamp / 10000000;
  if (seconds < kEpochSeconds || seconds - kEpochSeconds > kLastSecond) return {};
  const uint64_t unix = seconds - kEpochSeconds;
  if (unix > static_cast<uint64_t>(std::numeric_limits<std::time_t>::max())) return {};
  std::tm local{};
  if (!LocalTime(static_cast<std::time_t>(unix), &local)) return {};
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) return {};
  char text[64];
  const int n = std::snprintf(text, sizeof(text), "%s %s%3d %.2d:%.2d:%.2d %d",
                              kDays[static_cast<size_t>(local.tm_wday)],
                              kMonths[static_cast<size_t>(local.tm_mon)], local.tm_mday,
                              local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(text)) return {};
  return std::string(text, static_cast<size_t>(n));
}

std::string EventText(const Object& event) {
  std::string text = " InstanceName : ";
  AppendText(text, event, L"InstanceName");
  text += "\n Active : ";
  if (auto active = ReadInteger(event, L"Active")) {
    text += std::to_string(static_cast<int16_t>(static_cast<uint16_t>(*active)));
  }
  text += "\n TimeStamp : ";
  AppendTime(text, event);
  text += "\n Severity : ";
  if (auto severity = ReadInteger(event, L"Severity")) {
    text += SeverityName(static_cast<int32_t>(static_cast<uint32_t>(*severity)));
  }
  text += "\n Component : ";
  AppendText(text, event, L"Component");
  text += "\n EventDescription : ";
  AppendText(text, event, L"EventDescription");
  text += "\n\n";
  return text;
}

HResult VdsEventSink::Indicate(const std::vector<platform::wmi::ObjectPtr>& objects) {
  for (const platform::wmi::ObjectPtr& event : objects) {
    if (!event) continue;
    const std::string text = EventText(*event);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) break;
    out_.Write(text);
    out_.Flush();
  }
  return platform::status::kOk;
}

HResult VdsEventSink::SetStatus(int32_t, HResult, const std::wstring*,
                                const platform::wmi::ObjectPtr&) {
  return platform::status::kOk;
}

void VdsEventSink::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
}

}  // namespace events
