// The machine file of a simulated machine: loading, validation and the
// write-back of changes under an exclusive lock with an atomic rename.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace platform::sim {

/// An edit of the machine document. It must address what it changes by
/// stable keys (a LUN's serial number, a path id, a registry key), because
/// it is applied twice: at once to the loaded document, and again when the
/// command ends to the file's latest contents, so that commands running at
/// the same time lose nothing. It returns false when the document no
/// longer holds what it edits (the edit is then dropped).
using Edit = std::function<bool(nlohmann::ordered_json& document)>;

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

  /// Applies `edit` to the loaded document and records it for write-back.
  void Change(Edit edit);
  bool Changed() const { return !edits_.empty(); }

  /// Writes the recorded edits back: locks the file, reads it afresh,
  /// applies the edits in order, writes a temporary file beside it and
  /// renames it over the old one. True when there was nothing to do or it
  /// worked; false with `error` set otherwise (the old file stays whole).
  bool WriteBack(std::string* error);

 private:
  nlohmann::ordered_json document_;
  std::string path_;
  std::vector<Edit> edits_;
  // The size and a hash of the file's text as loaded, while the document
  // differs from it by the recorded edits alone (else nothing): a
  // write-back that finds the file still holding that text need not read
  // and edit the file again. A hash, not the text: that would be the
  // largest block of memory a command holds.
  std::optional<std::pair<size_t, size_t>> loaded_;
};

}  // namespace platform::sim
