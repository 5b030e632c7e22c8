#include "platform/sim/setup/sim_files.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/sim/machine_file/machine_state.h"
#include "platform/sim/machine_file/section_check.h"
#include "platform/sim/setup/inf_reader.h"

namespace platform::sim {

using Json = nlohmann::ordered_json;

std::string NormalPath(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '/', '\\');
  while (out.size() > 1 && out.back() == '\\') out.pop_back();
  return out;
}

std::string ParentPath(std::string_view path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
  const size_t slash = path.rfind('\\');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string CollapsePath(std::string_view path) {
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) {
    return std::string(path);
  }
  std::vector<std::string_view> segments;
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out(path.substr(0, 2));
  out += '\\';
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) out += '\\';
    out += segments[i];
  }
  return out;
}

namespace {

// True when `path` lies somewhere below `folder`.
bool Below(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path[folder.size()] == '\\' &&
         InfSameText(path.substr(0, folder.size()), folder);
}

bool ReadEntry(const Json& value, const DocPlace& place, const std::string& machineFolder,
               bool* directory, std::string* content, std::string* host, std::string* error) {
  if (!value.is_object()) {
    *error = place.Error("expected an object with \"text\", \"host\" or \"directory\"");
    return false;
  }
  if (!CheckKnownKeys(value, place, {"text", "host", "directory"}, error)) return false;
  if (value.size() != 1) {
    *error = place.Error("needs exactly one of \"text\", \"host\" and \"directory\"");
    return false;
  }
  const auto first = value.begin();
  const std::string key = first.key();
  const Json& member = first.value();
  if (key == "directory") {
    if (!member.is_boolean() || !member.get<bool>()) {
      *error = place.KeyError(key, "\"directory\" must be true");
      return false;
    }
    *directory = true;
    return true;
  }
  if (!member.is_string()) {
    *error = place.KeyError(key, "\"" + key + "\" must be text");
    return false;
  }
  if (key == "text") {
    *content = member.get<std::string>();
    return true;
  }
  *host = member.get<std::string>();
  const std::string file =
      host->size() > 0 && host->front() == '/' ? *host : machineFolder + "/" + *host;
  std::string reason;
  if (!ReadWholeFile(file, content, &reason)) {
    *error = place.KeyError(key, "cannot read " + file + ": " + reason);
    return false;
  }
  return true;
}

}  // namespace

bool SimFiles::Load(const Json& section, const std::string& machineFolder,
                    std::vector<std::string> fixedDirectories, std::string* error) {
  entries_.clear();
  fixed_.clear();
  for (const std::string& d : fixedDirectories) fixed_.push_back(NormalPath(d));
  if (section.is_null()) return true;
  const DocPlace place("files");
  if (!section.is_object()) {
    *error = place.Error("expected an object of Windows paths");
    return false;
  }
  for (const auto& [name, value] : section.items()) {
    Entry entry;
    entry.path = NormalPath(name);
    const DocPlace at = place.Key(name);
    if (entry.path.size() < 3 || entry.path[1] != ':' || entry.path[2] != '\\') {
      *error = at.Error("a path must start with a drive, as C:\\");
      return false;
    }
    if (Find(entry.path) != nullptr) {
      *error = at.Error("listed twice (paths are not case-sensitive)");
      return false;
    }
    if (!ReadEntry(value, at, machineFolder, &entry.directory, &entry.content, &entry.host,
                   error)) {
      return false;
    }
    entries_.push_back(std::move(entry));
  }
  return true;
}

const SimFiles::Entry* SimFiles::Find(std::string_view path) const {
  for (const Entry& e : entries_) {
    if (InfSameText(e.path, path)) return &e;
  }
  return nullptr;
}

bool SimFiles::IsDirectory(std::string_view path) const {
  const std::string p = NormalPath(path);
  if (p.size() == 2 && p[1] == ':') return true;  // a drive's root
  if (const Entry* e = Find(p)) return e->directory;
  for (const std::string& d : fixed_) {
    if (InfSameText(d, p) || Below(d, p)) return true;
  }
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return Below(e.path, p); });
}

Win32Error SimFiles::Probe(std::string_view path) const {
  const std::string p = NormalPath(path);
  if (Find(p) != nullptr || IsDirectory(p)) return win32_error::kSuccess;
  return IsDirectory(ParentPath(p)) ? win32_error::kFileNotFound : win32_error::kPathNotFound;
}

Win32Error SimFiles::List(std::string_view directory, std::vector<DirectoryEntry>* entries) const {
  entries->clear();
  const std::string dir = NormalPath(directory);
  if (!IsDirectory(dir)) return win32_error::kPathNotFound;
  entries->push_back({".", true});
  entries->push_back({"..", true});
  auto add = [&](const std::string& path, bool isDirectory) {
    if (!Below(path, dir)) return;
    std::string rest = path.substr(dir.size() + 1);
    const size_t slash = rest.find('\\');
    if (slash != std::string::npos) {
      rest.resize(slash);
      isDirectory = true;
    }
    for (const DirectoryEntry& e : *entries) {
      if (InfSameText(e.name, rest)) return;
    }
    entries->push_back({rest, isDirectory});
  };
  for (const std::string& d : fixed_) add(d, true);
  for (const Entry& e : entries_) add(e.path, e.directory);
  return win32_error::kSuccess;
}

Win32Error SimFiles::Read(std::string_view path, std::string* content) const {
  const Entry* e = Find(NormalPath(path));
  if (e == nullptr) return Probe(path) == 0 ? win32_error::kAccessDenied : Probe(path);
  if (e->directory) return win32_error::kAccessDenied;
  *content = e->content;
  return win32_error::kSuccess;
}

Win32Error SimFiles::Write(std::string_view path, const std::string& content) {
  const std::string p = NormalPath(path);
  if (!IsDirectory(ParentPath(p))) return win32_error::kPathNotFound;
  for (Entry& e : entries_) {
    if (!InfSameText(e.path, p)) continue;
    if (e.directory) return win32_error::kAccessDenied;
    e.content = content;
    e.host.clear();
    return win32_error::kSuccess;
  }
  if (IsDirectory(p)) return win32_error::kAccessDenied;
  entries_.push_back(Entry{p, false, content, {}});
  return win32_error::kSuccess;
}

Win32Error SimFiles::Remove(std::string_view path) {
  const std::string p = NormalPath(path);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (!InfSameText(it->path, p)) continue;
    if (it->directory) return win32_error::kAccessDenied;
    entries_.erase(it);
    return win32_error::kSuccess;
  }
  return IsDirectory(p) ? win32_error::kAccessDenied : Probe(p);
}

std::vector<std::string> SimFiles::FilesIn(std::string_view directory) const {
  std::vector<std::string> names;
  const std::string dir = NormalPath(directory);
  for (const Entry& e : entries_) {
    if (!e.directory && InfSameText(ParentPath(e.path), dir)) names.push_back(BaseName(e.path));
  }
  return names;
}

Json SimFiles::ToJson() const {
  Json section = Json::object();
  for (const Entry& e : entries_) {
    if (e.directory) {
      section[e.path] = Json{{"directory", true}};
    } else if (!e.host.empty()) {
      section[e.path] = Json{{"host", e.host}};
    } else {
      section[e.path] = Json{{"text", e.content}};
    }
  }
  return section;
}

void SimFiles::Save(MachineState& state) const {
  state.Change([json = ToJson()](Json& document) {
    if (!document.is_object()) return false;
    document["files"] = json;
    return true;
  });
}

}  // namespace platform::sim
