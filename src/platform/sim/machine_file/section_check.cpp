#include "platform/sim/machine_file/section_check.h"

#include <algorithm>

namespace platform::sim {

DocPlace::DocPlace(const std::string& section) {
  if (section.empty()) {
    name_ = "top level";
  } else {
    path_.push_back(section);
    name_ = section;
  }
}

DocPlace DocPlace::Key(const std::string& key) const {
  DocPlace place;
  place.path_ = path_;
  place.path_.push_back(key);
  place.name_ = name_ + "." + key;
  return place;
}

DocPlace DocPlace::Index(size_t index) const {
  DocPlace place;
  place.path_ = path_;
  place.path_.push_back(std::to_string(index));
  place.name_ = name_ + "[" + std::to_string(index) + "]";
  return place;
}

std::string DocPlace::Error(const std::string& problem) const {
  return LocatedError(path_, name_ + ": " + problem);
}

std::string DocPlace::KeyError(const std::string& key, const std::string& problem) const {
  JsonPath path = path_;
  path.push_back(key);
  return LocatedError(path, name_ + ": " + problem);
}

bool CheckKnownKeys(const nlohmann::ordered_json& object, const DocPlace& place,
                    std::initializer_list<std::string_view> known, std::string* error) {
  if (!object.is_object()) return true;
  for (const auto& [key, value] : object.items()) {
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      *error = place.KeyError(key, "unknown key \"" + key + "\"");
      return false;
    }
  }
  return true;
}

bool CheckMachineSections(const nlohmann::ordered_json& document, std::string* error) {
  return CheckKnownKeys(document, DocPlace(""),
                        {"san", "wmi", "registry", "disks", "faults", "remote", "system", "files",
                         "devices"},
                        error);
}

}  // namespace platform::sim
