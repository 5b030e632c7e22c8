// The simulated machine's files: the "files" section, Windows paths of
// files (their text given inline or read from a file beside the machine
// file) and of directories. Changes are written back as the whole section.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/system.h"

namespace platform::sim {

class MachineState;

/// A Windows path without trailing backslashes, compared without regard
/// to ASCII case.
std::string NormalPath(std::string_view path);
/// The directory part of a path ("" for a name alone).
std::string ParentPath(std::string_view path);
/// The part after the last backslash.
std::string BaseName(std::string_view path);
/// A drive path ("C:\...") as Windows makes it full: repeated separators
/// are one, "." segments go and ".." takes the segment before it away
/// (never the drive). Other paths come back unchanged.
std::string CollapsePath(std::string_view path);

class SimFiles {
 public:
  /// Reads the section (null: no files). Host files are read relative to
  /// `machineFolder`. `fixedDirectories` always exist (the Windows
  /// directory and its system folders). False with `error` set (located).
  bool Load(const nlohmann::ordered_json& section, const std::string& machineFolder,
            std::vector<std::string> fixedDirectories, std::string* error);

  /// 0 when a file or directory is there, kFileNotFound when its folder
  /// exists, kPathNotFound otherwise.
  Win32Error Probe(std::string_view path) const;
  bool IsDirectory(std::string_view path) const;
  Win32Error List(std::string_view directory, std::vector<DirectoryEntry>* entries) const;
  Win32Error Read(std::string_view path, std::string* content) const;
  /// Creates or replaces a file; kPathNotFound when its folder is missing.
  Win32Error Write(std::string_view path, const std::string& content);
  Win32Error Remove(std::string_view path);
  /// The file names of `directory`, in the section's order.
  std::vector<std::string> FilesIn(std::string_view directory) const;

  /// Writes the section back into the machine document with the next changes.
  void Save(MachineState& state) const;

 private:
  struct Entry {
    std::string path;
    bool directory = false;
    std::string content;
    std::string host;  // the file beside the machine file it was read from
  };
  const Entry* Find(std::string_view path) const;
  nlohmann::ordered_json ToJson() const;

  std::vector<Entry> entries_;
  std::vector<std::string> fixed_;
};

}  // namespace platform::sim
