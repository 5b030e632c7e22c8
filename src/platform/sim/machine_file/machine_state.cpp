#include "platform/sim/machine_file/machine_state.h"

#include <chrono>
#include <random>

#include "platform/files.h"
#include "platform/sim/machine_file/json_locate.h"
#include "platform/sim/machine_file/json_reader.h"
#include "platform/sim/machine_file/json_writer.h"

namespace platform::sim {
namespace {

bool Parse(const std::string& path, const std::string& text, nlohmann::ordered_json* document,
           std::string* error) {
  try {
    if (!ReadPlainJson(text, document)) *document = nlohmann::ordered_json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    size_t line = 0, column = 0;
    TextPosition(text, e.byte == 0 ? 0 : e.byte - 1, &line, &column);
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
  changed_ = false;
  loadedSize_ = text.size();
  return Parse(path, text, &document_, error);
}

void MachineState::Adopt(nlohmann::ordered_json document, const std::string& path) {
  document_ = std::move(document);
  path_ = path;
  changed_ = false;
  loadedSize_ = 0;
}

void MachineState::Change(const Edit& edit) {
  edit(document_);
  changed_ = true;
}

bool MachineState::WriteBack(std::string* error) {
  if (!changed_ || path_.empty()) return true;
  std::string text = DumpJson(document_, loadedSize_ + loadedSize_ / 8);
  text += '\n';
  std::string reason;
  const std::string temporary = TemporaryName(path_);
  if (!WriteWholeFile(temporary, text, &reason)) {
    *error = temporary + ": cannot write machine file: " + reason;
    return false;
  }
  if (!ReplaceFileAtomically(temporary, path_, &reason)) {
    *error = path_ + ": cannot replace machine file: " + reason;
    return false;
  }
  changed_ = false;
  loadedSize_ = text.size();
  return true;
}

}  // namespace platform::sim
