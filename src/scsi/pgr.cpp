#include "scsi/pgr.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "scsi/bytes.h"
#include "scsi/drives.h"
#include "scsi/dsm_settings.h"
#include "scsi/scsi_command.h"

namespace scsi {

namespace {

constexpr uint32_t kReserveInLength = 4096;
constexpr uint32_t kParameterListLength = 24;
constexpr size_t kKeyLength = 8;

struct Keyword {
  const char* word;
  PgrAction action;
};

constexpr Keyword kKeywords[] = {
    {"enable", PgrAction::kEnable},         {"disable", PgrAction::kDisable},
    {"list", PgrAction::kList},             {"register", PgrAction::kRegister},
    {"unregister", PgrAction::kUnregister}, {"clear", PgrAction::kClear},
    {"reserve", PgrAction::kReserve},       {"release", PgrAction::kRelease},
    {"tur", PgrAction::kTur},
};

bool IsPrefixOf(std::string_view word, std::string_view keyword) {
  if (word.size() > keyword.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
  }
  return true;
}

char Printable(uint8_t byte) { return byte >= 0x21 && byte <= 0x7E ? static_cast<char>(byte) : '.'; }

void DumpCharacters(std::string& line, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) line += Printable(bytes[i]);
  line += '\n';
}

// The "result:" line every disk action but list ends with.
void PrintResult(platform::Output& out, bool result, const ScsiCommand& command) {
  const ScsiOutcome& o = command.Outcome();
  char line[96];
  std::snprintf(line, sizeof line, "result: %d status: 0x%x sense: 0x%02x 0x%02x 0x%02x\n",
                result ? 1 : 0, o.Status, o.Sense[2] & 0x0F, o.Sense[12], o.Sense[13]);
  out.Write(line);
  out.Flush();
}

// One PERSISTENT RESERVE IN into `buffer`, dumped under `title` when it
// brought back an answer.
void ReadAndDump(platform::Output& out, ScsiCommand& command, uint8_t serviceAction,
                 std::vector<uint8_t>& buffer, const char* title) {
  command.SetCdb(ReserveInCdb(serviceAction));
  command.SetDataIn(buffer.data(), kReserveInLength);
  if (!command.Execute(out)) return;
  uint32_t transferred = ReserveInAnswerLength(buffer.data(), command.Transferred());
  if (transferred == 0) return;
  out.Write(command.Name() + title);
  out.Flush();
  HexDump(out, buffer.data(), transferred);
}

void ListDisk(platform::Output& out, const std::string& path, const PathOwnerLookup& pathOwner) {
  ScsiCommand command(path, pathOwner);
  std::vector<uint8_t> buffer(kReserveInLength, 0);
  ReadAndDump(out, command, 0x00, buffer, " registered keys:\n");
  ReadAndDump(out, command, 0x01, buffer, " reservations:\n");
}

void ReserveOut(platform::Output& out, const std::string& path, const PathOwnerLookup& pathOwner,
                PgrAction action, std::string_view key) {
  ScsiCommand command(path, pathOwner);
  std::array<uint8_t, 24> parameters = ReserveOutParameters(action, key);
  command.SetCdb(ReserveOutCdb(action));
  command.SetDataOut(parameters.data(), kParameterListLength);
  bool result = command.Execute(out);
  PrintResult(out, result, command);
}

void TestUnitReady(platform::Output& out, const std::string& path,
                   const PathOwnerLookup& pathOwner) {
  ScsiCommand command(path, pathOwner);
  command.SetCdb({});
  bool result = command.Execute(out);
  PrintResult(out, result, command);
}

// The device path of a typed disk, or null after saying why it is refused.
std::optional<std::string> DiskPath(platform::Output& out, const char* word) {
  std::optional<std::string> path = ResolveDiskArgument(word);
  if (!path) {
    out.Line(std::string("Invalid disk: ") + word +
             " (give a drive number or port.bus.target.lun)");
  }
  return path;
}

void RunDiskAction(platform::Output& out, PgrAction action, int count, const char* const* words,
                   const PathOwnerLookup& pathOwner) {
  bool needsKey = action != PgrAction::kTur && action != PgrAction::kList;
  if (count < 3 || (needsKey && (count < 4 || std::strlen(words[3]) != kKeyLength))) return;
  std::optional<std::string> path = DiskPath(out, words[2]);
  if (!path) return;
  if (action == PgrAction::kList) {
    ListDisk(out, *path, pathOwner);
  } else if (action == PgrAction::kTur) {
    TestUnitReady(out, *path, pathOwner);
  } else {
    ReserveOut(out, *path, pathOwner, action, words[3]);
  }
}

}  // namespace

PgrAction PgrActionOf(std::string_view word) {
  for (const Keyword& keyword : kKeywords) {
    if (IsPrefixOf(word, keyword.word)) return keyword.action;
  }
  return PgrAction::kShow;
}

std::array<uint8_t, 16> ReserveOutCdb(PgrAction action) {
  std::array<uint8_t, 16> cdb{};
  cdb[0] = 0x5F;
  switch (action) {
    case PgrAction::kRegister:
    case PgrAction::kUnregister: cdb[1] = 0x06; cdb[2] = 0x06; break;
    case PgrAction::kClear: cdb[1] = 0x03; break;
    case PgrAction::kReserve: cdb[1] = 0x01; cdb[2] = 0x06; break;
    case PgrAction::kRelease: cdb[1] = 0x02; cdb[2] = 0x06; break;
    default: break;
  }
  PutBigEndian(&cdb[5], kParameterListLength, 4);
  return cdb;
}

std::array<uint8_t, 24> ReserveOutParameters(PgrAction action, std::string_view key) {
  std::array<uint8_t, 24> list{};
  // Registering puts the key in the service action key; every other action
  // names the registration it acts for in the reservation key.
  size_t at = action == PgrAction::kRegister ? 8 : 0;
  std::memcpy(&list[at], key.data(), std::min(key.size(), kKeyLength));
  return list;
}

uint32_t ReserveInAnswerLength(const uint8_t* answer, uint32_t transferred) {
  if (transferred < kReserveInLength) return transferred;
  if (transferred > kReserveInLength) return 0;
  // Many adapters report the whole buffer as moved; the answer says how
  // long it is itself.
  const uint64_t length = 8 + GetBigEndian(answer + 4, 4);
  return static_cast<uint32_t>(std::min<uint64_t>(length, kReserveInLength));
}

std::array<uint8_t, 16> ReserveInCdb(uint8_t serviceAction) {
  std::array<uint8_t, 16> cdb{};
  cdb[0] = 0x5E;
  cdb[1] = serviceAction;
  PutBigEndian(&cdb[7], kReserveInLength, 2);
  return cdb;
}

void HexDump(platform::Output& out, const uint8_t* bytes, size_t size) {
  std::string line;
  for (size_t i = 0; i < size; ++i) {
    char field[4];
    std::snprintf(field, sizeof field, "%02X ", bytes[i]);
    line += field;
    if (i % 16 == 15) {
      DumpCharacters(line, bytes + i - 15, 16);
      out.Write(line);
      out.Flush();
      line.clear();
    }
  }
  size_t tail = size % 16;
  if (tail == 0) return;
  line.append(3 * (16 - tail), ' ');
  DumpCharacters(line, bytes + size - tail, tail);
  out.Write(line);
  out.Flush();
}

int Pgr(platform::Output& out, int count, const char* const* words,
        const PathOwnerLookup& pathOwner) {
  PgrAction action = count >= 2 ? PgrActionOf(words[1]) : PgrAction::kShow;
  switch (action) {
    case PgrAction::kShow: ShowReservationSettings(out); break;
    case PgrAction::kEnable: {
      std::string key = count >= 3 ? words[2] : "";
      WriteReservationSettings(out, true, key.size() == kKeyLength ? &key : nullptr);
      break;
    }
    case PgrAction::kDisable: WriteReservationSettings(out, false, nullptr); break;
    case PgrAction::kList:
      if (count < 3) {
        ForEachPhysicalDrive([&](const std::string& path) { ListDisk(out, path, pathOwner); });
        break;
      }
      [[fallthrough]];
    default:
      RunDiskAction(out, action, count, words, pathOwner);
      break;
  }
  return 0;
}

}  // namespace scsi
