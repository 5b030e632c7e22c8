// `json devinfo`, `json pathinfo [sn|hba <value>]` and `json iostatus`: the
// records of the text listings, from the same loaders and joins, as one
// JSON document of the schema "tollard/1" (docs/tollard-1.schema.json).
#pragma once

#include <cstdint>
#include <memory_resource>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "dsm/iostatus.h"
#include "dsm/model.h"
#include "dsm/path_walk.h"
#include "dsm/read_failure.h"
#include "platform/output.h"

namespace dsm {

/// The allocator of documents: the process's default memory resource at the
/// time of each call (see JsonArena). A document must not outlive a change
/// of that resource.
template <typename T>
struct JsonAllocator {
  using value_type = T;
  JsonAllocator() = default;
  template <typename U>
  JsonAllocator(const JsonAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    return static_cast<T*>(std::pmr::get_default_resource()->allocate(n * sizeof(T), alignof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    std::pmr::get_default_resource()->deallocate(p, n * sizeof(T), alignof(T));
  }
  friend bool operator==(const JsonAllocator&, const JsonAllocator&) { return true; }
};

/// A document; members keep the order in which they were added.
using JsonDocument = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                          std::int64_t, std::uint64_t, double, JsonAllocator>;

/// While it lives, the parts of documents are carved from large blocks and
/// given back all at once: a listing of thousands of paths is hundreds of
/// thousands of small parts. Documents built under it must be gone before
/// it ends.
class JsonArena {
 public:
  JsonArena() : previous_(std::pmr::set_default_resource(&arena_)) {}
  ~JsonArena() { std::pmr::set_default_resource(previous_); }
  JsonArena(const JsonArena&) = delete;
  JsonArena& operator=(const JsonArena&) = delete;

 private:
  std::pmr::monotonic_buffer_resource arena_{1 << 20};
  std::pmr::memory_resource* previous_;
};

/// The listing a `json` command asks for.
struct JsonRequest {
  enum class Listing { kDevices, kPaths, kIoStatus } listing = Listing::kDevices;
  std::optional<std::string> filterKind;  // pathinfo only: "sn" or "hba" as typed
  std::string filterValue;
};

/// The request of `json <listing> ...` (words[0] is the command word), or
/// the word to report a syntax error near: the command word when no
/// listing is named, the listing word when its word count fits no form,
/// the unknown word otherwise. Listing words match as command words do.
std::variant<JsonRequest, std::string> ParseJsonWords(int count, const char* const* words);

/// A 64-bit id as the documents write it: "0x" and the listings' digits
/// (upper-case, at least eight).
std::string JsonId(uint64_t id);

/// The `devices` records: one per device, in device order.
JsonDocument DeviceRecords(const std::vector<DsmDevice>& devices, const PathIndex& index);

/// The `paths` and `pathsWithoutData` records of the paths that pathinfo
/// with `filter` lists; `drives` gives each path's physical drive.
JsonDocument PathDocument(const DsmLists& lists, const PathIndex& index, const PathFilter& filter,
                          const IoStatusJoin& drives);

/// The `iostatus` records: one per performance record, in list order.
JsonDocument IoStatusRecords(const std::vector<PathPerf>& perf, const IoStatusJoin& join);

/// The failure document of `command`.
JsonDocument FailureDocument(std::string_view command, const ReadFailure& failure);

/// Writes a document and a line end; text that is not UTF-8 is written
/// with replacement characters rather than refused.
void WriteJson(platform::Output& out, const JsonDocument& document);

/// Handler of `json ...`: the document on `out` and 0; the failure
/// document and 1 when the DSM cannot be reached or read; "syntax error
/// near <word>" and 1 for words that name no listing. Messages of the
/// drive scan go to `errors`, so `out` holds nothing but the document.
int RunJson(platform::Output& out, platform::Output& errors, int count, const char* const* words);

}  // namespace dsm
