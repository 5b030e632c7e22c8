#include "dsm/json_listing.h"

#include <iomanip>
#include <ostream>
#include <streambuf>
#include <utility>

#include "cli/words.h"
#include "dsm/columns.h"
#include "scsi/drives.h"

namespace dsm {
namespace {

constexpr const char* kSchema = "tollard/1";

const char* CommandOf(JsonRequest::Listing listing) {
  switch (listing) {
    case JsonRequest::Listing::kDevices:
      return "devinfo";
    case JsonRequest::Listing::kPaths:
      return "pathinfo";
    case JsonRequest::Listing::kIoStatus:
      break;
  }
  return "iostatus";
}

// An object with room for all its fields: the members of an ordered object
// are copied, not moved, whenever it grows, and a copy of a member that
// holds the paths is a copy of every path.
JsonDocument NewObject(size_t fields) {
  JsonDocument object = JsonDocument::object();
  object.get_ref<JsonDocument::object_t&>().reserve(fields);
  return object;
}

JsonDocument NewDocument(std::string_view command) {
  JsonDocument document = NewObject(5);
  document["schema"] = kSchema;
  document["command"] = command;
  return document;
}

// A path's record. Its members are appended directly: the keys are
// distinct, so the search for an existing key that [] makes is saved, once
// for each of the fifteen fields of thousands of paths.
JsonDocument PathRecord(const WalkedPath& walked, const IoStatusJoin& drives) {
  const DsmPathEntry& path = *walked.path;
  const PathPerf& perf = *walked.perf;
  const int32_t drive = drives.DriveOfKey(perf.SerialNumber);
  JsonDocument record = NewObject(15);
  auto& members = record.get_ref<JsonDocument::object_t&>();
  members.emplace_back("device", walked.deviceNumber);
  members.emplace_back("policy", walked.device->PolicyName);
  members.emplace_back("serialNumber", *walked.serial);
  members.emplace_back("pathId", JsonId(path.PathId));
  members.emplace_back("weight", path.Weight);
  members.emplace_back("primary", path.Primary);
  members.emplace_back("scsiAddress", perf.ScsiAddressKey);
  members.emplace_back("hbaWwpn", perf.HbaWwpn);
  members.emplace_back("ctrlPortWwpn", perf.CtrlPortWwpn);
  members.emplace_back("state", perf.State);
  members.emplace_back("bytesRead", perf.BytesRead);
  members.emplace_back("bytesWritten", perf.BytesWritten);
  members.emplace_back("numberReads", perf.NumberReads);
  members.emplace_back("numberWrites", perf.NumberWrites);
  members.emplace_back("physicalDrive", drive < 0 ? JsonDocument() : JsonDocument(drive));
  return record;
}

JsonDocument MissingRecord(const WalkedPath& walked) {
  JsonDocument record = NewObject(4);
  record["device"] = walked.deviceNumber;
  record["serialNumber"] = *walked.serial;
  record["pathId"] = JsonId(walked.path->PathId);
  // The listing stops at this path: the device's later paths are not shown.
  record["pathsNotListed"] =
      static_cast<size_t>(walked.device->Paths.data() + walked.device->Paths.size() - walked.path);
  return record;
}

// Typed text as valid UTF-8, each byte that is not replaced by U+FFFD, so
// the document can be written as it is built.
std::string Utf8Text(const std::string& text) {
  const JsonDocument value(text);
  return JsonDocument::parse(value.dump(-1, ' ', false, JsonDocument::error_handler_t::replace))
      .get<std::string>();
}

// Hands the written document to an Output in blocks: a listing of thousands
// of paths is megabytes of text that need not be held whole.
class OutputBuffer : public std::streambuf {
 public:
  explicit OutputBuffer(platform::Output& out) : out_(out) { setp(block_, block_ + sizeof block_); }
  ~OutputBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    sync();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  int sync() override {
    out_.Write(std::string_view(pbase(), static_cast<size_t>(pptr() - pbase())));
    setp(block_, block_ + sizeof block_);
    return 0;
  }

 private:
  platform::Output& out_;
  char block_[1 << 16];
};

JsonDocument FilterRecord(const JsonRequest& request) {
  if (!request.filterKind) return JsonDocument();
  JsonDocument filter = NewObject(2);
  filter["kind"] = cli::EqualsIgnoreCase(*request.filterKind, "sn") ? "sn" : "hba";
  filter["value"] = Utf8Text(request.filterValue);
  return filter;
}

// The physical drives of the machine, scanned afresh for each document.
std::vector<scsi::DriveIdentity> ScanDrives(platform::Output& errors) {
  std::vector<scsi::DriveIdentity> drives;
  scsi::CollectDriveIdentities(drives, errors);
  return drives;
}

int WriteFailure(platform::Output& out, std::string_view command, const ReadFailure& failure) {
  WriteJson(out, FailureDocument(command, failure));
  return 1;
}

int WriteListing(platform::Output& out, platform::Output& errors, const JsonRequest& request) {
  const JsonArena arena;  // before the documents: it must outlive them
  const char* command = CommandOf(request.listing);
  JsonDocument document = NewDocument(command);
  if (request.listing == JsonRequest::Listing::kIoStatus) {
    std::vector<PathPerf> perf;
    std::vector<PathDescriptor> descriptors;
    platform::HResult status = platform::status::kOk;
    if (int r = LoadPathPerf(perf); r != 0) {
      return WriteFailure(out, command, {"CreateInstanceEnum", "ORNDSM_PERFINFO", r});
    }
    if (LoadPathDescriptors(descriptors, &status) != 0) {
      return WriteFailure(out, command, {"CreateInstanceEnum", "MPIO_GET_DESCRIPTOR", status});
    }
    document["iostatus"] = IoStatusRecords(perf, IoStatusJoin(descriptors, ScanDrives(errors)));
    WriteJson(out, document);
    return 0;
  }
  DsmLists lists;
  if (auto failure = LoadListsOrFailure(lists)) return WriteFailure(out, command, *failure);
  const PathIndex index(lists.descriptors, lists.perf);
  if (request.listing == JsonRequest::Listing::kDevices) {
    document["devices"] = DeviceRecords(lists.devices, index);
  } else {
    document["filter"] = FilterRecord(request);
    // Only the drives are looked up here: no descriptor index.
    const IoStatusJoin drives({}, ScanDrives(errors));
    const PathFilter filter = MakePathFilter(request.filterKind, request.filterValue);
    JsonDocument paths = PathDocument(lists, index, filter, drives);
    document["paths"] = std::move(paths["paths"]);
    document["pathsWithoutData"] = std::move(paths["pathsWithoutData"]);
  }
  WriteJson(out, document);
  return 0;
}

}  // namespace

std::variant<JsonRequest, std::string> ParseJsonWords(int count, const char* const* words) {
  if (count < 2) return std::string(words[0]);
  const std::string_view listing = words[1];
  JsonRequest request;
  if (cli::MatchCommandWord(listing, "devinfo")) {
    if (count != 2) return std::string(listing);
    request.listing = JsonRequest::Listing::kDevices;
  } else if (cli::MatchCommandWord(listing, "pathinfo")) {
    request.listing = JsonRequest::Listing::kPaths;
    if (count == 4) {
      if (!cli::EqualsIgnoreCase(words[2], "sn") && !cli::EqualsIgnoreCase(words[2], "hba")) {
        return std::string(words[2]);
      }
      request.filterKind = words[2];
      request.filterValue = words[3];
    } else if (count != 2) {
      return std::string(listing);
    }
  } else if (cli::MatchCommandWord(listing, "iostatus")) {
    if (count != 2) return std::string(listing);
    request.listing = JsonRequest::Listing::kIoStatus;
  } else {
    return std::string(listing);
  }
  return request;
}

std::string JsonId(uint64_t id) { return "0x" + PathIdText(id); }

JsonDocument DeviceRecords(const std::vector<DsmDevice>& devices, const PathIndex& index) {
  JsonDocument records = JsonDocument::array();
  for (size_t number = 0; number < devices.size(); ++number) {
    const DsmDevice& device = devices[number];
    JsonDocument record = NewObject(6);
    record["device"] = number;
    record["serialNumber"] = DeviceSerialNumber(device, index);
    record["policy"] = device.PolicyName;
    record["failBack"] = DeviceFailBackText(device);
    record["pathCount"] = device.Paths.size();
    JsonDocument ids = JsonDocument::array();
    for (const DsmPathEntry& path : device.Paths) ids.push_back(JsonId(path.PathId));
    record["pathIds"] = std::move(ids);
    records.push_back(std::move(record));
  }
  return records;
}

JsonDocument PathDocument(const DsmLists& lists, const PathIndex& index, const PathFilter& filter,
                          const IoStatusJoin& drives) {
  JsonDocument paths = JsonDocument::array();
  paths.get_ref<JsonDocument::array_t&>().reserve(lists.perf.size());
  JsonDocument missing = JsonDocument::array();
  WalkPaths(
      lists, index, filter,
      [&](const WalkedPath& walked) { paths.push_back(PathRecord(walked, drives)); },
      [&](const WalkedPath& walked) { missing.push_back(MissingRecord(walked)); });
  JsonDocument document = NewObject(2);
  document["paths"] = std::move(paths);
  document["pathsWithoutData"] = std::move(missing);
  return document;
}

JsonDocument IoStatusRecords(const std::vector<PathPerf>& perf, const IoStatusJoin& join) {
  JsonDocument records = JsonDocument::array();
  for (const PathPerf& record : perf) {
    JsonDocument row = NewObject(6);
    row["pathId"] = JsonId(join.PathIdOfKey(record.ScsiAddressKey));
    row["pendingIOs"] = record.PendingIOs;
    // The table's counter: a 32-bit sum that wraps.
    row["ioCounter"] = static_cast<uint32_t>(record.NumberReads + record.NumberWrites);
    row["device"] = join.DriveOfKey(record.SerialNumber);
    row["serialNumber"] = record.SerialNumber;
    row["status"] = record.State;
    records.push_back(std::move(row));
  }
  return records;
}

JsonDocument FailureDocument(std::string_view command, const ReadFailure& failure) {
  JsonDocument error = NewObject(5);
  error["step"] = failure.step;
  if (!failure.className.empty()) error["class"] = failure.className;
  error["status"] = static_cast<uint32_t>(failure.status);
  error["statusHex"] = StatusHex(failure.status);
  error["statusName"] = StatusNameOf(failure.status);
  JsonDocument document = NewDocument(command);
  document["error"] = std::move(error);
  return document;
}

void WriteJson(platform::Output& out, const JsonDocument& document) {
  OutputBuffer buffer(out);
  std::ostream stream(&buffer);
  stream << std::setw(2) << document << '\n';
}

int RunJson(platform::Output& out, platform::Output& errors, int count, const char* const* words) {
  auto parsed = ParseJsonWords(count, words);
  if (auto* word = std::get_if<std::string>(&parsed)) {
    out.Line("syntax error near " + *word);
    return 1;
  }
  const auto& request = std::get<JsonRequest>(parsed);
  if (auto failure = ConnectionFailure()) {
    return WriteFailure(out, CommandOf(request.listing), *failure);
  }
  return WriteListing(out, errors, request);
}

}  // namespace dsm
