// Helpers shared by the readers of the machine file's sections: a place in
// the document that names itself in messages and locates itself in the
// text, and the refusal of unknown keys.
#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "platform/sim/machine_file/json_locate.h"

namespace platform::sim {

/// A value of the machine document: its path from the top and its name as
/// messages write it ("faults[0]", "wmi.ROOT\WMI.classes[2]").
class DocPlace {
 public:
  /// The top-level member `section` (named "top level" when empty).
  explicit DocPlace(const std::string& section);
  /// The member `key` of this object ("<name>.<key>").
  DocPlace Key(const std::string& key) const;
  /// The element `index` of this array ("<name>[<index>]").
  DocPlace Index(size_t index) const;

  const std::string& Name() const { return name_; }
  const JsonPath& Path() const { return path_; }

  /// "<name>: <problem>", located at this value.
  std::string Error(const std::string& problem) const;
  /// "<name>: <problem>", located at this object's member `key`.
  std::string KeyError(const std::string& key, const std::string& problem) const;

 private:
  DocPlace() = default;
  JsonPath path_;
  std::string name_;
};

/// False with `error` set (located at the key) when `object` has a member
/// that is not in `known`: "<place>: unknown key "<key>"". True for a
/// value that is not an object (its readers refuse it with their words).
bool CheckKnownKeys(const nlohmann::ordered_json& object, const DocPlace& place,
                    std::initializer_list<std::string_view> known, std::string* error);

/// Refuses top-level members other than the sections a machine file has
/// (san, wmi, registry, disks, faults, remote, and the installer's system,
/// files and devices).
bool CheckMachineSections(const nlohmann::ordered_json& document, std::string* error);

}  // namespace platform::sim
