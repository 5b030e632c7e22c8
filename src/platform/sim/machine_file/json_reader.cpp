#include "platform/sim/machine_file/json_reader.h"

#include "platform/sim/machine_file/json_locate.h"

#include <charconv>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kMaxDepth = static_cast<int>(kMaxJsonDepth);

/// Character classes, looked up once per character: machine files are
/// mostly indentation.
struct CharClasses {
  bool space[256] = {};
  bool plain[256] = {};  // text characters that need no care

  constexpr CharClasses() {
    for (char c : {' ', '\n', '\r', '\t'}) space[static_cast<unsigned char>(c)] = true;
    for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '"' && c != '\\';
  }
};
constexpr CharClasses kClasses;

bool IsSpace(char c) { return kClasses.space[static_cast<unsigned char>(c)]; }
bool IsPlain(char c) { return kClasses.plain[static_cast<unsigned char>(c)]; }

class Reader {
 public:
  explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool Document(Json* out) {
    SkipSpace();
    if (!Value(out, 0)) return false;
    SkipSpace();
    return p_ == end_;
  }

 private:
  bool Value(Json* out, int depth);
  bool Object(Json* out, int depth);
  bool Array(Json* out, int depth);
  bool String(std::string* out);
  bool Number(Json* out);
  bool Word(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) {
      return false;
    }
    p_ += word.size();
    return true;
  }
  bool At(char c) const { return p_ != end_ && *p_ == c; }
  void SkipSpace() {
    while (p_ != end_ && IsSpace(*p_)) ++p_;
  }

  const char* p_;
  const char* end_;
  // Members and elements are gathered here, one list per depth, and moved
  // into containers of their final size: growing an ordered_map copies its
  // keys, which cannot be moved.
  std::deque<std::vector<std::pair<std::string, Json>>> members_;
  std::deque<std::vector<Json>> elements_;
};

bool Reader::Value(Json* out, int depth) {
  if (p_ == end_ || depth > kMaxDepth) return false;
  switch (*p_) {
    case '{':
      return Object(out, depth);
    case '[':
      return Array(out, depth);
    case '"': {
      std::string text;
      if (!String(&text)) return false;
      *out = Json(std::move(text));
      return true;
    }
    case 't':
      *out = true;
      return Word("true");
    case 'f':
      *out = false;
      return Word("false");
    case 'n':
      *out = nullptr;
      return Word("null");
    default:
      return Number(out);
  }
}

bool Reader::Object(Json* out, int depth) {
  ++p_;
  if (members_.size() <= static_cast<size_t>(depth))
    members_.resize(static_cast<size_t>(depth) + 1);
  std::vector<std::pair<std::string, Json>>& members = members_[static_cast<size_t>(depth)];
  members.clear();
  SkipSpace();
  if (At('}')) {
    ++p_;
  } else {
    while (true) {
      SkipSpace();
      std::string key;
      if (!At('"') || !String(&key)) return false;
      SkipSpace();
      if (!At(':')) return false;
      ++p_;
      SkipSpace();
      Json value;
      if (!Value(&value, depth + 1)) return false;
      members.emplace_back(std::move(key), std::move(value));
      SkipSpace();
      if (At(',')) {
        ++p_;
      } else if (At('}')) {
        ++p_;
        break;
      } else {
        return false;
      }
    }
  }
  *out = Json::object();
  auto& object = out->get_ref<Json::object_t&>();
  object.reserve(members.size());
  for (auto& [key, value] : members) {
    // A repeated key is left to nlohmann's rules.
    if (!object.emplace(std::move(key), std::move(value)).second) return false;
  }
  return true;
}

bool Reader::Array(Json* out, int depth) {
  ++p_;
  if (elements_.size() <= static_cast<size_t>(depth))
    elements_.resize(static_cast<size_t>(depth) + 1);
  std::vector<Json>& elements = elements_[static_cast<size_t>(depth)];
  elements.clear();
  SkipSpace();
  if (At(']')) {
    ++p_;
  } else {
    while (true) {
      SkipSpace();
      Json value;
      if (!Value(&value, depth + 1)) return false;
      elements.push_back(std::move(value));
      SkipSpace();
      if (At(',')) {
        ++p_;
      } else if (At(']')) {
        ++p_;
        break;
      } else {
        return false;
      }
    }
  }
  *out = Json::array();
  auto& array = out->get_ref<Json::array_t&>();
  array.reserve(elements.size());
  for (Json& value : elements) array.push_back(std::move(value));
  return true;
}

char Unescaped(char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return 0;
  }
}

bool Reader::String(std::string* out) {
  ++p_;
  while (true) {
    const char* run = p_;
    while (p_ != end_ && IsPlain(*p_)) ++p_;
    out->append(run, p_);
    if (p_ == end_) return false;
    if (*p_ == '"') {
      ++p_;
      return true;
    }
    if (*p_ != '\\' || end_ - p_ < 2) return false;  // control or non-ASCII character
    const char c = Unescaped(p_[1]);
    if (c == 0) return false;  // \u escapes and malformed ones
    out->push_back(c);
    p_ += 2;
  }
}

bool Reader::Number(Json* out) {
  const char* start = p_;
  if (At('-')) ++p_;
  if (p_ == end_ || *p_ < '0' || *p_ > '9') return false;
  if (*p_ == '0') {
    ++p_;
  } else {
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
  }
  if (At('.') || At('e') || At('E')) return false;  // reals: nlohmann's conversion
  if (*start == '-') {
    int64_t value = 0;
    if (std::from_chars(start, p_, value).ec != std::errc()) return false;
    *out = Json(static_cast<Json::number_integer_t>(value));
  } else {
    uint64_t value = 0;
    if (std::from_chars(start, p_, value).ec != std::errc()) return false;
    *out = Json(static_cast<Json::number_unsigned_t>(value));
  }
  return true;
}

}  // namespace

bool ReadPlainJson(std::string_view text, nlohmann::ordered_json* document) {
  return Reader(text).Document(document);
}

}  // namespace platform::sim
