#include "install/installer.h"

namespace install {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool RemovedDeviceIds::Append(std::string_view id) {
  if (id.empty()) return true;
  if (used_ + id.size() + 1 > kCapacity) return false;
  ids_.emplace_back(id);
  used_ += id.size() + 1;
  return true;
}

void RemovedDeviceIds::BlanksToUnderscores() {
  for (std::string& id : ids_) {
    for (char& c : id) {
      if (c == ' ') c = '_';
    }
  }
}

bool JoinPath(std::string_view folder, std::string_view name, std::string* path) {
  if (folder.size() + 1 + name.size() > kMaxPath) return false;
  *path = std::string(folder) + "\\" + std::string(name);
  return true;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithText(a, b);
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

}  // namespace install
