#include <string>
#include <vector>

#include "dsm/columns.h"
#include "dsm/commands.h"
#include "dsm/model.h"

namespace dsm {
namespace {

std::string DeviceRow(size_t number, const DsmDevice& device, const PathIndex& index) {
  std::string row = " ";
  row += PadRight(std::to_string(number), 8);
  row += PadRight(DeviceSerialNumber(device, index), 13);
  row += PadRight(device.PolicyName, 18);
  row += PadRight(std::to_string(device.Paths.size()), 8);
  row += DeviceFailBackText(device);
  return row;
}

}  // namespace

int ListDevices(platform::Output& out) {
  DsmLists lists;
  if (int r = LoadDsmLists(lists); r != 0) return r;
  if (lists.devices.empty()) return 0;
  const auto& [devices, perf, descriptors] = lists;

  PathIndex index(descriptors, perf);
  out.Line("");
  out.Line(" Device# SerialNumber Policy            nPaths  FailBack");
  out.Line(" " + std::string(58, '-'));
  for (size_t i = 0; i < devices.size(); ++i) out.Line(DeviceRow(i, devices[i], index));
  out.Line("");
  return 0;
}

}  // namespace dsm
