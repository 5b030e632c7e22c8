#include <string>
#include <vector>

#include "dsm/columns.h"
#include "dsm/commands.h"
#include "dsm/model.h"
#include "dsm/path_walk.h"

namespace dsm {
namespace {

using platform::Output;

void Field(Output& out, std::string_view label, const std::string& value) {
  out.Line(PadRight(label, 16) + value);
}

void PrintPathBlock(Output& out, const WalkedPath& walked) {
  const DsmPathEntry& path = *walked.path;
  const PathPerf& perf = *walked.perf;
  out.Line("");
  Field(out, " Policy:", walked.device->PolicyName);
  Field(out, " SerialNumber:", *walked.serial);
  Field(out, " PathId:", PathIdText(path.PathId));
  Field(out, " Weight:", std::to_string(path.Weight));
  Field(out, " Primary:", path.Primary ? "true" : "false");
  Field(out, " ScsiAddress:", perf.ScsiAddressKey);
  Field(out, " HbaWWPN:", perf.HbaWwpn);
  Field(out, " CtrlPortWWPN:", perf.CtrlPortWwpn);
  Field(out, " State:", perf.State);
  Field(out, " BytesRead:", std::to_string(perf.BytesRead));
  Field(out, " BytesWritten:", std::to_string(perf.BytesWritten));
  Field(out, " NumberReads:", std::to_string(perf.NumberReads));
  Field(out, " NumberWrites:", std::to_string(perf.NumberWrites));
}

}  // namespace

int ListPaths(Output& out, std::optional<std::string> kind, std::string value) {
  DsmLists lists;
  if (int r = LoadDsmLists(lists); r != 0) return r;
  if (lists.devices.empty()) return 0;

  const PathFilter filter = MakePathFilter(kind, std::move(value));
  const PathIndex index(lists.descriptors, lists.perf);
  WalkPaths(
      lists, index, filter, [&](const WalkedPath& walked) { PrintPathBlock(out, walked); },
      [&](const WalkedPath&) { out.Line("Error occured!"); });
  out.Line("");
  return 0;
}

}  // namespace dsm
