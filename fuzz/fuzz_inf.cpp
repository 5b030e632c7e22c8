// Fuzzes the INF reader and the multi-string parsers: the input is read as
// an INF file, its lines are looked up and its integer fields parsed; the
// same bytes are read as a multi-string value and edited the way the
// installer edits the storage lists. Checks that nothing is read past the
// input and that the edits keep the list well formed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "install/storage_lists.h"
#include "platform/sim/setup/inf_engine.h"
#include "platform/sim/setup/inf_reader.h"

namespace {

void ReadAsInf(std::string_view text) {
  const platform::sim::InfDocument inf = platform::sim::InfDocument::Parse(text);
  for (const platform::sim::InfSection& section : inf.Sections()) {
    FUZZ_CHECK(inf.Find(section.name) != nullptr);
    for (const platform::sim::InfLine& line : section.lines) {
      if (line.hasKey) FUZZ_CHECK(inf.FindLine(section.name, line.key) != nullptr);
      for (const std::string& field : line.fields) {
        int32_t value = 0;
        platform::sim::ParseInfInt(field, &value);
      }
      platform::sim::JoinInfFields(line);
    }
  }
  inf.VersionValue("Signature");
}

void ReadAsList(std::string_view bytes) {
  const std::vector<std::string> entries = install::ListEntries(bytes);
  size_t used = 0;
  for (const std::string& entry : entries) {
    FUZZ_CHECK(!entry.empty());
    FUZZ_CHECK(entry.find('\0') == std::string::npos);
    used += entry.size() + 1;
  }
  FUZZ_CHECK(used <= bytes.size() + 1);
  FUZZ_CHECK(platform::sim::SplitMultiSz(bytes) == entries);
  // Written back, the list reads as the same entries and is terminated.
  const std::string written = install::ListBytes(entries);
  FUZZ_CHECK(install::ListEntries(written) == entries);
  FUZZ_CHECK(written.size() >= 1 && written.back() == '\0');
  install::RemovedDeviceIds ids;
  for (const std::string& entry : entries) ids.Append(entry);
  size_t total = 1;
  for (const std::string& id : ids.Ids()) total += id.size() + 1;
  FUZZ_CHECK(total <= install::RemovedDeviceIds::kCapacity);
  std::vector<std::string> converted = entries;
  install::BlanksToUnderscores(&converted);
  install::AnyEntryMatches(converted, entries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ReadAsInf(bytes);
  ReadAsList(bytes);
  return 0;
}
