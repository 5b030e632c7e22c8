// The machine file of a simulated machine: loading, validation and the
// write-back of changes under an exclusive lock with an atomic rename.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace platform::sim {

/// A change of the machine document. It returns false when the document
/// does not hold what it changes; what it did change is kept all the same.
using Edit = std::function<bool(nlohmann::ordered_json& document)>;

/// The document of a machine file and the changes made to it. It knows
/// nothing of locks: the machine holds the file's lock from Load to
/// WriteBack, so the document is the file's latest state and is written
/// back as it stands.
class MachineState {
 public:
  /// Reads and parses `path`. False with `error` set to one line naming
  /// the file and the problem (line and column for JSON syntax errors).
  bool Load(const std::string& path, std::string* error);
  /// Takes an already parsed document (the demo machine, tests); it is
  /// written back to `path` if it changes. An empty path keeps it in memory.
  void Adopt(nlohmann::ordered_json document, const std::string& path);

  const nlohmann::ordered_json& Document() const { return document_; }
  const std::string& Path() const { return path_; }

  /// Applies `edit` to the document; the document then counts as changed.
  void Change(const Edit& edit);
  bool Changed() const { return changed_; }

  /// Writes a changed document to a temporary file beside the machine
  /// file and renames it over the old one. True when there was nothing to
  /// do or it worked; false with `error` set otherwise (the old file stays
  /// whole and the document still counts as changed).
  bool WriteBack(std::string* error);

 private:
  nlohmann::ordered_json document_;
  std::string path_;
  bool changed_ = false;
  size_t loadedSize_ = 0;  // to reserve room for the text written back
};

}  // namespace platform::sim
