// The sink through which WMI hands `listen` the multipath framework's
// events, on threads of its own, and the texts an event prints as.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output.h"
#include "platform/wmi.h"

namespace events {

/// "Fatal Error" (1), "Error" (2), "Warning" (3), "Information" (4),
/// "Unknown" for every other value.
std::string_view SeverityName(int32_t severity);

/// A time stamp in 100-ns units since 1 January 1601 (UTC) in the 24
/// characters of asctime ("Thu Jan  1 00:00:00 1970"), local time, whole
/// seconds. Empty when it cannot be shown: before 1970, after the year
/// 3000, or when the local time cannot be found.
std::string EventTimeText(uint64_t stamp);

/// The seven lines of one MPIO_EventEntry event, last the empty line.
/// A property that is missing or of another kind than expected prints
/// nothing after its label.
std::string EventText(const platform::wmi::Object& event);

/// The listener's sink. WMI holds it through the unsecured apartment's
/// stub and calls it on its own threads; the shared_ptr that owns it keeps
/// an atomically counted reference count, so the last of the command and
/// the stub to let go destroys it.
class VdsEventSink : public platform::wmi::EventSink {
 public:
  /// Events go to `out`, which must outlive the sink.
  explicit VdsEventSink(platform::Output& out) : out_(out) {}

  /// Writes each event's lines as one block under the sink's lock, then
  /// flushes, so events never interleave with each other or with Stop.
  /// Returns 0 (WBEM_S_NO_ERROR).
  platform::HResult Indicate(const std::vector<platform::wmi::ObjectPtr>& objects) override;
  /// Status reports are ignored; returns 0.
  platform::HResult SetStatus(int32_t flags, platform::HResult result, const std::wstring* param,
                              const platform::wmi::ObjectPtr& object) override;
  /// Waits for an event being written, then lets later events print
  /// nothing. Called once the wait has ended, before the cancellation, so
  /// a delivery still running inside the cancellation prints nothing.
  void Stop();

 private:
  platform::Output& out_;
  std::mutex mutex_;
  bool stopped_ = false;
};

}  // namespace events
