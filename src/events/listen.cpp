#include "events/listen.h"

#include <memory>

#include "dsm/wmi_connection.h"
#include "events/event_sink.h"
#include "platform/machine.h"

namespace events {

int WaitForKey(std::FILE* in) {
  int c = 0;
  do {
    c = std::fgetc(in);
  } while (c == '\0');
  // CR LF is one line end, as Windows' text-mode input reads it and as the
  // shell reads its lines: the shell's next line must not be the lone LF.
  if (c == '\r') {
    const int next = std::fgetc(in);
    if (next == '\n') return next;
    if (next != EOF) std::ungetc(next, in);
  }
  return c;
}

int RunListen(platform::Output& out, std::FILE* in) {
  const platform::wmi::ServicesPtr services = dsm::WmiServices();
  if (!services) return 1;
  platform::Machine& machine = platform::CurrentMachine();
  // Declared in this order, the stub (with the apartment it came from) is
  // released before the command's own reference to the sink.
  auto sink = std::make_shared<VdsEventSink>(out);
  platform::wmi::EventSinkPtr stub;
  if (platform::Failed(machine.Wmi().CreateSinkStub(sink, &stub)) || !stub) return 1;
  out.Write("\n listening mode, press ENTER to stop...\n");
  out.Flush();
  if (platform::Failed(services->ExecNotificationQueryAsync(
          kQueryLanguage, kEventQuery, platform::wmi::kFlagSendStatus, stub))) {
    return 1;
  }
  // Nobody else may wait for the machine while we wait for a key.
  const bool released = machine.Release() == 0;
  WaitForKey(in);
  // Stopped first: WMI may still be inside a delivery when the cancellation
  // returns, and nothing may print once the wait has ended.
  sink->Stop();
  services->CancelAsyncCall(stub);
  // Taken back only once no event can arrive: events are read on the
  // machine's own thread, which must not see the machine reloaded under it.
  const bool taken = machine.Acquire() == 0;
  return released && taken ? 0 : 1;
}

}  // namespace events
