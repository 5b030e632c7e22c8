#include "dsm/iostatus.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace dsm {

namespace {

// Any non-empty prefix of "rescan", in any letter case.
bool AsksForRescan(std::string_view word) {
  constexpr std::string_view kRescan = "rescan";
  if (word.empty() || word.size() > kRescan.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != kRescan[i]) return false;
  }
  return true;
}

std::string TableRow(const PathPerf& record, const std::vector<PathDescriptor>& descriptors) {
  uint32_t ioCounter = record.NumberReads + record.NumberWrites;
  char head[96];
  std::snprintf(head, sizeof head, " %08" PRIx64 "  %-14" PRIu32 "%-12" PRIu32 "%-8" PRId32,
                PathIdOfKey(record.ScsiAddressKey, descriptors), record.PendingIOs, ioCounter,
                DriveOfKey(record.SerialNumber, DiskNameList().drives));
  std::string row = head + record.SerialNumber;
  if (record.SerialNumber.size() < 14) row.append(14 - record.SerialNumber.size(), ' ');
  return row + record.State;
}

}  // namespace

DiskNames& DiskNameList() {
  static DiskNames names;
  return names;
}

uint64_t PathIdOfKey(const std::string& scsiAddressKey,
                     const std::vector<PathDescriptor>& descriptors) {
  for (const PathDescriptor& descriptor : descriptors) {
    if (descriptor.ScsiAddressKey == scsiAddressKey) return descriptor.PathIdentifier;
  }
  return 0;
}

int32_t DriveOfKey(const std::string& serialNumber,
                   const std::vector<scsi::DriveIdentity>& drives) {
  for (const scsi::DriveIdentity& drive : drives) {
    if (drive.Identifier == serialNumber) return drive.Number;
  }
  return -1;
}

int ShowIoStatus(platform::Output& out, int count, const char* const* words) {
  DiskNames& names = DiskNameList();
  if (names.scanNeeded || (count >= 2 && AsksForRescan(words[1]))) {
    // A fresh list: an earlier scan's numbers would win over the current ones.
    names.drives.clear();
    scsi::CollectDriveIdentities(names.drives, out);
    names.scanNeeded = false;
  }
  std::vector<PathPerf> perf;
  std::vector<PathDescriptor> descriptors;
  LoadPathPerf(perf);
  LoadPathDescriptors(descriptors);
  if (perf.empty()) return 0;
  out.Line("");
  out.Line(" PathId    PendingIOs    IOCounter   Device  SerialNumber  Status  ");
  out.Line(" " + std::string(66, '-'));
  for (const PathPerf& record : perf) out.Line(TableRow(record, descriptors));
  out.Line("");
  return 0;
}

}  // namespace dsm
