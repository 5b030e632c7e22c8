#include "platform/sim/machine_file/machine_state.h"

#include <chrono>
#include <random>

#include "platform/files.h"
#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/machine_file/json_reader.h"
#include "platform/sim/machine_file/json_writer.h"

namespace platform::sim {
namespace {

// Line and column (from 1) of a byte offset, for JSON syntax errors.
void Position(const std::string& text, size_t offset, size_t* line, size_t* column) {
  *line = 1;
  *column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++*line;
      *column = 1;
    } else {
      ++*column;
    }
  }
}

bool Parse(const std::string& path, const std::string& text, nlohmann::ordered_json* document,
           std::string* error) {
  try {
    if (!ReadPlainJson(text, document)) *document = nlohmann::ordered_json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    size_t line = 0, column = 0;
    Position(text, e.byte == 0 ? 0 : e.byte - 1, &line, &column);
    std::string what = e.what();
    const std::string marker = "syntax error while parsing ";
    auto at = what.find(marker);
    std::string detail = at == std::string::npos ? "syntax error" : what.substr(at);
    *error = path + ": invalid JSON at line " + std::to_string(line) + ", column " +
             std::to_string(column) + ": " + detail;
    return false;
  } catch (const nlohmann::json::out_of_range& e) {
    // A number beyond the range of a double ("1e999") comes without a position.
    std::string what = e.what();
    *error = path + ": invalid JSON: " + what.substr(what.find("] ") + 2);
    return false;
  }
  if (!CheckJsonDepth(path, text, document, error)) return false;
  if (!document->is_object()) {
    *error = path + ": not a machine file: the top level must be a JSON object";
    return false;
  }
  return true;
}

// The size and hash of a machine file's text, to tell whether it changed.
std::pair<size_t, size_t> Fingerprint(const std::string& text) {
  return {text.size(), std::hash<std::string_view>{}(text)};
}

std::string TemporaryName(const std::string& path) {
  auto seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937_64 random(seed ^ std::random_device{}());
  return path + ".tmp" + std::to_string(random() % 1000000000ull);
}

}  // namespace

bool MachineState::Load(const std::string& path, std::string* error) {
  std::string text, reason;
  if (!ReadWholeFile(path, &text, &reason)) {
    *error = path + ": cannot read machine file: " + reason;
    return false;
  }
  path_ = path;
  edits_.clear();
  loaded_.reset();
  if (!Parse(path, text, &document_, error)) return false;
  loaded_ = Fingerprint(text);
  return true;
}

void MachineState::Adopt(nlohmann::ordered_json document, const std::string& path) {
  document_ = std::move(document);
  path_ = path;
  edits_.clear();
  loaded_.reset();
}

void MachineState::Change(Edit edit) {
  if (edit(document_)) {
    edits_.push_back(std::move(edit));
  } else {
    loaded_.reset();  // a refused edit may have changed part of the document
  }
}

bool MachineState::WriteBack(std::string* error) {
  if (edits_.empty() || path_.empty()) return true;
  std::string reason;
  FileLock lock;
  if (!lock.Acquire(path_ + ".lock", &reason)) {
    *error = path_ + ": cannot lock machine file: " + reason;
    return false;
  }
  std::string text;
  if (!ReadWholeFile(path_, &text, &reason)) {
    *error = path_ + ": cannot read machine file: " + reason;
    return false;
  }
  // A file nobody changed since it was loaded needs only the edits that the
  // document already holds.
  nlohmann::ordered_json latest;
  const bool unchanged = loaded_ == Fingerprint(text);
  if (!unchanged) {
    if (!Parse(path_, text, &latest, error)) return false;
    for (const Edit& edit : edits_) edit(latest);
  }
  text = DumpJson(unchanged ? document_ : latest, text.size() + text.size() / 8);
  text += '\n';
  const std::string temporary = TemporaryName(path_);
  if (!WriteWholeFile(temporary, text, &reason)) {
    *error = temporary + ": cannot write machine file: " + reason;
    return false;
  }
  if (!ReplaceFileAtomically(temporary, path_, &reason)) {
    *error = path_ + ": cannot replace machine file: " + reason;
    return false;
  }
  edits_.clear();
  loaded_.reset();
  return true;
}

}  // namespace platform::sim
