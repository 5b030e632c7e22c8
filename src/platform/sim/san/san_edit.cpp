#include "platform/sim/san/san_edit.h"

#include <optional>
#include <unordered_map>

#include "platform/sim/san/san_model.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

Json* Section(Json& document) {
  if (!document.is_object()) return nullptr;
  auto san = document.find("san");
  return san == document.end() || !san->is_object() ? nullptr : &*san;
}

bool HasSerial(const Json& lun, const std::string& serial) {
  if (!lun.is_object()) return false;
  auto s = lun.find("serial");
  return s != lun.end() && s->is_string() && s->get_ref<const std::string&>() == serial;
}

std::optional<size_t> FindLun(const Json& section, const LunKey& key) {
  auto luns = section.find("luns");
  if (luns == section.end() || !luns->is_array()) return std::nullopt;
  if (key.index < luns->size() && HasSerial((*luns)[key.index], key.serial)) return key.index;
  for (size_t i = 0; i < luns->size(); ++i) {
    if (HasSerial((*luns)[i], key.serial)) return i;
  }
  return std::nullopt;
}

/// The positions of the LUN's paths by id, as ParseSan reads the ids
/// (given or derived from the SCSI address).
bool PathPositions(const Json& section, size_t lunIndex,
                   std::unordered_map<uint64_t, size_t>* positions) {
  SanLun lun;
  std::string error;
  if (!ParseSanLun(section, lunIndex, &lun, &error)) return false;
  for (size_t p = 0; p < lun.paths.size(); ++p) positions->emplace(lun.paths[p].id, p);
  return true;
}

/// Sets a member; one that is absent stays absent when the new value is
/// its default, so hand-written files stay short.
void Put(Json& object, const char* key, Json value, bool isDefault) {
  if (isDefault && !object.contains(key)) return;
  object[key] = std::move(value);
}

Json PolicyJson(uint32_t policy) {
  const std::string name = PolicyName(policy);
  return name.empty() ? Json(policy) : Json(name);
}

Json FailBackJson(uint32_t failBack) {
  if (failBack == 1 || failBack == 2) return Json(failBack == 1);
  return Json(failBack);
}

Json StateJson(uint8_t state) {
  const std::string name = PathStateName(state);
  return name.empty() ? Json(state) : Json(name);
}

/// Finds the LUN `key` in `document` and calls `change(lun, paths,
/// positions)`; false when the document no longer holds the LUN.
template <typename Change>
bool EditLun(Json& document, const LunKey& key, Change change) {
  Json* section = Section(document);
  if (section == nullptr) return false;
  auto index = FindLun(*section, key);
  std::unordered_map<uint64_t, size_t> positions;
  if (!index || !PathPositions(*section, *index, &positions)) return false;
  Json& lun = (*section)["luns"][*index];
  return change(lun, lun["paths"], positions);
}

}  // namespace

Edit SetPolicyEdit(LunKey key, uint32_t policy, uint32_t failBack,
                   std::vector<PathSetting> paths) {
  return [lunKey = std::move(key), policy, failBack, paths = std::move(paths)](Json& document) {
    return EditLun(document, lunKey, [&](Json& lun, Json& list, const auto& positions) {
      for (const PathSetting& s : paths) {
        if (!positions.count(s.id)) return false;
      }
      for (const PathSetting& s : paths) {
        Json& path = list[positions.at(s.id)];
        Put(path, "weight", Json(s.weight), s.weight == 0);
        Put(path, "primary", Json(s.primary), !s.primary);
      }
      // After the paths: a member added to the LUN may move `list`.
      Put(lun, "policy", PolicyJson(policy), policy == 2);
      Put(lun, "failback", FailBackJson(failBack), failBack == 2);
      return true;
    });
  };
}

Edit SetPathStatesEdit(PathStates states) {
  return [states = std::move(states)](Json& document) {
    bool all = true;
    for (const auto& lunStates : states) {
      // A named reference: clang 14 cannot capture a structured binding.
      const auto& changes = lunStates.second;
      all = EditLun(document, lunStates.first,
                    [&](Json&, Json& list, const auto& positions) {
                      for (const auto& change : changes) {
                        if (!positions.count(change.first)) return false;
                      }
                      for (const auto& [id, state] : changes) {
                        Put(list[positions.at(id)], "state", StateJson(state), state == 1);
                      }
                      return true;
                    }) &&
            all;
    }
    return all;
  };
}

Edit ClearCountersEdit(LunKey lun) {
  return [lunKey = std::move(lun)](Json& document) {
    return EditLun(document, lunKey, [](Json&, Json& list, const auto&) {
      for (Json& path : list) {
        auto counters = path.find("counters");
        if (counters == path.end() || !counters->is_object()) continue;
        for (const char* key : {"bytesRead", "bytesWritten", "reads", "writes"}) {
          counters->erase(key);
        }
        if (counters->empty()) path.erase("counters");
      }
      return true;
    });
  };
}

}  // namespace platform::sim
