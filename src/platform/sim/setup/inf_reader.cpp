#include "platform/sim/setup/inf_reader.h"

#include <cstdlib>

namespace platform::sim {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && Blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && Blank(text.back())) text.remove_suffix(1);
  return text;
}

// A physical line without its comment and trailing blanks; `continued`
// tells whether it ended in a backslash outside quotes (then removed).
std::string StripComment(std::string_view line, bool* continued) {
  std::string out;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) break;
    out += c;
  }
  while (!out.empty() && (Blank(out.back()) || out.back() == '\r')) out.pop_back();
  *continued = !out.empty() && out.back() == '\\' && !quoted;
  if (*continued) out.pop_back();
  return out;
}

// Splits the logical lines of a text, joining continued ones.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string pending;
  bool joining = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    bool continued = false;
    pending += StripComment(text.substr(start, end - start), &continued);
    joining = continued;
    if (!joining) {
      lines.push_back(std::move(pending));
      pending.clear();
    }
    start = end + 1;
  }
  if (joining) lines.push_back(std::move(pending));
  return lines;
}

// One field of raw text: outer blanks dropped, quotes removed ("" inside
// quotes is one quote).
std::string Unquote(std::string_view raw) {
  raw = Trim(raw);
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c != '"') {
      out += c;
      continue;
    }
    if (quoted && i + 1 < raw.size() && raw[i + 1] == '"') {
      out += '"';
      ++i;
      continue;
    }
    quoted = !quoted;
  }
  return out;
}

// Splits a line at unquoted commas; the key is the text before the first
// unquoted '=' that stands before any comma.
InfLine SplitLine(std::string_view text) {
  InfLine line;
  std::vector<std::string_view> raw;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ',';
    if (c == '"') quoted = !quoted;
    if (quoted && i < text.size()) continue;
    if (c == '=' && !line.hasKey && raw.empty()) {
      line.hasKey = true;
      line.key = Unquote(text.substr(0, i));
      start = i + 1;
    } else if (c == ',') {
      raw.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  // "key =" with nothing after it has no fields.
  if (line.hasKey && raw.size() == 1 && Trim(raw[0]).empty()) raw.clear();
  for (std::string_view r : raw) line.fields.push_back(Unquote(r));
  return line;
}

std::string Substitute(const std::string& text, const InfSection* strings) {
  if (text.find('%') == std::string::npos) return text;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('%', i);
    const size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) {
      out.append(text, i);
      break;
    }
    out.append(text, i, open - i);
    const std::string_view name(text.data() + open + 1, close - open - 1);
    const InfLine* value = nullptr;
    for (size_t k = 0; strings != nullptr && k < strings->lines.size(); ++k) {
      const InfLine& l = strings->lines[k];
      if (l.hasKey && InfSameText(l.key, name)) value = &l;
    }
    if (name.empty()) {
      out += '%';
    } else if (value != nullptr) {
      out += value->fields.empty() ? std::string() : value->fields[0];
    } else {
      out.append(text, open, close - open + 1);  // a directory id such as %12%
    }
    i = close + 1;
  }
  return out;
}

}  // namespace

bool InfSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

InfDocument InfDocument::Parse(std::string_view text) {
  InfDocument doc;
  InfSection* current = nullptr;
  for (const std::string& logical : LogicalLines(text)) {
    const std::string_view line = Trim(logical);
    if (line.empty()) continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const std::string name(Trim(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
      current = nullptr;
      for (InfSection& s : doc.sections_) {
        if (InfSameText(s.name, name)) current = &s;
      }
      if (current == nullptr) current = &doc.sections_.emplace_back(InfSection{name, {}});
      continue;
    }
    if (current != nullptr) current->lines.push_back(SplitLine(line));
  }
  const InfSection* strings = doc.Find("Strings");
  std::vector<InfSection> substituted = doc.sections_;
  for (InfSection& s : substituted) {
    if (InfSameText(s.name, "Strings")) continue;
    for (InfLine& l : s.lines) {
      l.key = Substitute(l.key, strings);
      for (std::string& f : l.fields) f = Substitute(f, strings);
    }
  }
  doc.sections_ = std::move(substituted);
  return doc;
}

const InfSection* InfDocument::Find(std::string_view name) const {
  for (const InfSection& s : sections_) {
    if (InfSameText(s.name, name)) return &s;
  }
  return nullptr;
}

const InfLine* InfDocument::FindLine(std::string_view section, std::string_view key) const {
  const InfSection* s = Find(section);
  if (s == nullptr) return nullptr;
  for (const InfLine& l : s->lines) {
    if (l.hasKey && InfSameText(l.key, key)) return &l;
  }
  return nullptr;
}

std::string InfDocument::VersionValue(std::string_view key) const {
  const InfLine* line = FindLine("Version", key);
  return line == nullptr || line->fields.empty() ? std::string() : line->fields[0];
}

bool ParseInfInt(std::string_view text, int32_t* value) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && Lower(text[1]) == 'x') {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9'                 ? c - '0'
                : Lower(c) >= 'a' && Lower(c) <= 'f' ? Lower(c) - 'a' + 10
                                                     : 99;
    if (digit >= base) return false;
    number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  if (number > 0xFFFFFFFFull) return false;
  const auto bits = static_cast<uint32_t>(number);
  *value = static_cast<int32_t>(negative ? 0u - bits : bits);
  return true;
}

std::string JoinInfFields(const InfLine& line) {
  std::string text;
  for (size_t i = 0; i < line.fields.size(); ++i) {
    if (i != 0) text += ',';
    text += line.fields[i];
  }
  return text;
}

}  // namespace platform::sim
