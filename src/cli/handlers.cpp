#include "cli/handlers.h"

#include <cstdio>
#include <string>

#include "dsm/commands.h"
#include "dsm/health.h"
#include "dsm/iostatus.h"
#include "dsm/json_listing.h"
#include "dsm/path_owner.h"
#include "events/listen.h"
#include "scsi/dsm_settings.h"
#include "scsi/pgr.h"
#include "wmilist/dsm_printers.h"
#include "wmilist/mpiolist.h"

namespace cli {

CommandHandlers TollardHandlers() {
  using platform::Output;
  CommandHandlers h = DefaultHandlers();
  h.listDevices = [](Output& out) { return dsm::ListDevices(out); };
  h.devinfoSetAll = [](std::string_view word, Output& out) {
    return dsm::DevinfoSetAll(out, std::string(word));
  };
  h.devinfoSetOne = [](std::string_view serial, std::string_view word, Output& out) {
    return dsm::DevinfoSetOne(out, std::string(serial), std::string(word));
  };
  h.listPaths = [](std::optional<std::string_view> kind, std::string_view value, Output& out) {
    std::optional<std::string> k;
    if (kind) k = std::string(*kind);
    return dsm::ListPaths(out, k, std::string(value));
  };
  h.setAdapterPathState = [](std::string_view wwpn, std::string_view word, Output& out) {
    return dsm::SetAdapterPathState(out, std::string(wwpn), std::string(word));
  };
  h.clearCounters = [](Output& out) { return dsm::ClearCounters(out); };
  h.setPathRole = [](uint64_t pathId, bool primary, Output& out) {
    return dsm::SetPathRole(out, pathId, primary);
  };
  h.setPathWeight = [](uint64_t pathId, int32_t weight, Output& out) {
    return dsm::SetPathWeight(out, pathId, weight);
  };
  h.set = [](int count, const char* const* words, Output& out) {
    return scsi::SetDsmParameter(out, count, words);
  };
  h.ioStatus = [](int count, const char* const* words, Output& out) {
    return dsm::ShowIoStatus(out, count, words);
  };
  h.printDsmObjects = [](std::string_view classWord, Output& out) {
    return wmilist::PrintDsmInstances(classWord, out);
  };
  // The shell reads its lines from the same stream, so what listen leaves
  // unread after its key is the shell's next line.
  h.listen = [](Output& out) { return events::RunListen(out, stdin); };
  h.pgr = [](int count, const char* const* words, Output& out) {
    // The DSM's path records name the disk behind an address; the SCSI code
    // takes them as a lookup and so does not depend on the DSM subsystem.
    return scsi::Pgr(out, count, words, dsm::PathOwnerOf);
  };
  h.mpiolist = [](int count, const char* const* words, Output& out) {
    return wmilist::RunMpiolist(count, words, out);
  };
  h.json = [](int count, const char* const* words, Output& out) {
    // Standard output carries the document alone.
    return dsm::RunJson(out, platform::StandardError(), count, words);
  };
  h.health = [](int count, const char* const* words, Output& out) {
    return dsm::RunHealth(out, count, words);
  };
  return h;
}

}  // namespace cli
