#include "platform/sim/san/san_edit.h"

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

/// The LUN `key` addresses and its path list, both checked: null when the
/// document does not hold that LUN there (the edit then changes nothing).
Json* FindLun(Json& document, const LunKey& key, Json** paths) {
  Json* section = Section(document);
  if (section == nullptr) return nullptr;
  auto luns = section->find("luns");
  if (luns == section->end() || !luns->is_array() || key.index >= luns->size()) return nullptr;
  Json& lun = (*luns)[key.index];
  if (!HasSerial(lun, key.serial)) return nullptr;
  auto list = lun.find("paths");
  if (list == lun.end() || !list->is_array()) return nullptr;
  *paths = &*list;
  return &lun;
}

/// The path at `position` of `paths`, or null.
Json* PathAt(Json& paths, size_t position) {
  if (position >= paths.size() || !paths[position].is_object()) return nullptr;
  return &paths[position];
}

/// Sets a member; one that is absent stays absent when the new value is
/// its default, so hand-written files stay short.
void Put(Json& object, const char* key, Json value, bool isDefault) {
  auto member = object.find(key);
  if (member != object.end()) {
    *member = std::move(value);
  } else if (!isDefault) {
    object.emplace(key, std::move(value));
  }
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

}  // namespace

Edit SetPolicyEdit(LunKey key, uint32_t policy, uint32_t failBack, std::vector<PathSetting> paths) {
  return [lunKey = std::move(key), policy, failBack, paths = std::move(paths)](Json& document) {
    Json* list = nullptr;
    Json* lun = FindLun(document, lunKey, &list);
    if (lun == nullptr) return false;
    for (const PathSetting& s : paths) {
      if (PathAt(*list, s.position) == nullptr) return false;
    }
    for (const PathSetting& s : paths) {
      Json& path = *PathAt(*list, s.position);
      Put(path, "weight", Json(s.weight), s.weight == 0);
      Put(path, "primary", Json(s.primary), !s.primary);
    }
    // After the paths: a member added to the LUN may move the path list.
    Put(*lun, "policy", PolicyJson(policy), policy == 2);
    Put(*lun, "failback", FailBackJson(failBack), failBack == 2);
    return true;
  };
}

Edit SetPathStatesEdit(PathStates states) {
  return [states = std::move(states)](Json& document) {
    bool all = true;
    for (const auto& [key, changes] : states) {
      Json* list = nullptr;
      bool whole = FindLun(document, key, &list) != nullptr;
      for (size_t i = 0; whole && i < changes.size(); ++i) {
        whole = PathAt(*list, changes[i].first) != nullptr;
      }
      if (!whole) {
        all = false;
        continue;
      }
      for (const auto& change : changes) {
        Put(*PathAt(*list, change.first), "state", StateJson(change.second), change.second == 1);
      }
    }
    return all;
  };
}

Edit ClearCountersEdit(LunKey lun) {
  return [lunKey = std::move(lun)](Json& document) {
    Json* list = nullptr;
    if (FindLun(document, lunKey, &list) == nullptr) return false;
    for (Json& path : *list) {
      if (!path.is_object()) continue;
      auto counters = path.find("counters");
      if (counters == path.end() || !counters->is_object()) continue;
      for (const char* key : {"bytesRead", "bytesWritten", "reads", "writes"}) {
        counters->erase(key);
      }
      if (counters->empty()) path.erase("counters");
    }
    return true;
  };
}

}  // namespace platform::sim
