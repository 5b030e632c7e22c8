#include "platform/sim/machine_file/json_locate.h"

#include "platform/files.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

// Separates the path from the message in a located error. It cannot occur
// in the path (escaped there) and no message holds it.
constexpr char kMark = '\x1E';

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | code >> 18));
    out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

/// Walks JSON text token by token; every step is a loop, never a call per
/// nesting level.
class Walker {
 public:
  explicit Walker(std::string_view text) : text_(text) {}

  /// The offset where the member `path` starts, or npos.
  size_t Find(const JsonPath& path) {
    Space();
    size_t found = at_;
    for (const std::string& token : path) {
      if (at_ >= text_.size()) return std::string_view::npos;
      if (text_[at_] == '{') {
        found = Member(token);
      } else if (text_[at_] == '[') {
        found = Element(token);
      } else {
        return std::string_view::npos;
      }
      if (found == std::string_view::npos) return found;
    }
    return found;
  }

 private:
  void Space() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }
  bool At(char c) const { return at_ < text_.size() && text_[at_] == c; }

  // The member named `token` of the object at the cursor: the offset of its
  // key; the cursor is left on its value.
  size_t Member(const std::string& token) {
    ++at_;
    size_t key = std::string_view::npos, value = 0;
    Space();
    while (!At('}')) {
      const size_t start = at_;
      std::string name;
      if (!String(&name)) return std::string_view::npos;
      Space();
      if (!At(':')) return std::string_view::npos;
      ++at_;
      Space();
      if (name == token) {
        key = start;
        value = at_;
      }
      if (!Skip()) return std::string_view::npos;
      Space();
      if (!At(',')) break;
      ++at_;
      Space();
    }
    if (key != std::string_view::npos) at_ = value;
    return key;
  }

  // The element numbered `token` of the array at the cursor.
  size_t Element(const std::string& token) {
    size_t index = 0;
    if (token.empty() || token.size() > 18) return std::string_view::npos;
    for (char c : token) {
      if (c < '0' || c > '9') return std::string_view::npos;
      index = index * 10 + static_cast<size_t>(c - '0');
    }
    ++at_;
    for (size_t i = 0;; ++i) {
      Space();
      if (at_ >= text_.size() || At(']')) return std::string_view::npos;
      if (i == index) return at_;
      if (!Skip()) return std::string_view::npos;
      Space();
      if (!At(',')) return std::string_view::npos;
      ++at_;
    }
  }

  // A string at the cursor, decoded into `out` (when given).
  bool String(std::string* out) {
    if (!At('"')) return false;
    for (++at_; at_ < text_.size(); ++at_) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c != '\\') {
        if (out != nullptr) out->push_back(c);
        continue;
      }
      if (++at_ >= text_.size()) return false;
      if (text_[at_] == 'u') {
        if (!Unicode(out)) return false;
        continue;
      }
      static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
      const size_t escape = kFrom.find(text_[at_]);
      if (escape == std::string_view::npos) return false;
      if (out != nullptr) out->push_back(kTo[escape]);
    }
    return false;
  }

  // Four hex digits after "\u" (the cursor on the 'u'); a surrogate pair
  // takes the next escape too. The cursor ends on the last digit.
  bool Unicode(std::string* out) {
    uint32_t code = 0;
    if (!Hex4(&code)) return false;
    if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_ + 1, 2) == "\\u") {
      at_ += 2;
      uint32_t low = 0;
      if (!Hex4(&low)) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    if (out != nullptr) AppendUtf8(code, out);
    return true;
  }
  bool Hex4(uint32_t* code) {
    if (at_ + 4 >= text_.size()) return false;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexValue(text_[++at_]);
      if (digit < 0) return false;
      *code = *code << 4 | static_cast<uint32_t>(digit);
    }
    return true;
  }

  // Passes over one value, counting brackets instead of descending.
  bool Skip() {
    if (At('"')) return String(nullptr);
    if (!At('{') && !At('[')) {
      const size_t start = at_;
      while (at_ < text_.size() && !IsSpace(text_[at_]) && text_[at_] != ',' && text_[at_] != '}' &&
             text_[at_] != ']') {
        ++at_;
      }
      return at_ != start;
    }
    size_t depth = 0;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        if (!String(nullptr)) return false;
        continue;
      }
      ++at_;
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return true;
    }
    return false;
  }

  std::string_view text_;
  size_t at_ = 0;
};

std::string Escape(const std::string& token) {
  std::string out;
  for (char c : token) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else if (c == kMark)
      out += "~2";
    else
      out += c;
  }
  return out;
}

// Splits a located error into its path and its message; false for a plain one.
bool Split(const std::string& error, JsonPath* path, std::string* message) {
  const size_t open = error.find(kMark);
  const size_t close = open == std::string::npos ? open : error.find(kMark, open + 1);
  if (close == std::string::npos) return false;
  *message = error.substr(0, open) + error.substr(close + 1);
  path->clear();
  for (size_t i = open + 1; i < close; ++i) {
    const char c = error[i];
    if (c == '/') {
      path->emplace_back();
    } else if (path->empty()) {
      return false;
    } else if (c == '~' && i + 1 < close) {
      const char e = error[++i];
      path->back() += e == '0' ? '~' : e == '1' ? '/' : kMark;
    } else {
      path->back() += c;
    }
  }
  return true;
}

std::string Token(const Json& container, size_t index) {
  if (container.is_object()) {
    return (container.get_ref<const Json::object_t&>().begin() + static_cast<ptrdiff_t>(index))
        ->first;
  }
  return std::to_string(index);
}

const Json& Child(const Json& container, size_t index) {
  if (container.is_object()) {
    return (container.get_ref<const Json::object_t&>().begin() + static_cast<ptrdiff_t>(index))
        ->second;
  }
  return container.get_ref<const Json::array_t&>()[index];
}

}  // namespace

void TextPosition(std::string_view text, size_t offset, size_t* line, size_t* column) {
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

bool LocateMember(std::string_view text, const JsonPath& path, size_t* line, size_t* column) {
  const size_t offset = Walker(text).Find(path);
  if (offset == std::string_view::npos || offset >= text.size()) return false;
  TextPosition(text, offset, line, column);
  return true;
}

std::string LocatedError(const JsonPath& path, const std::string& message) {
  std::string located(1, kMark);
  for (const std::string& token : path) located += "/" + Escape(token);
  return located + kMark + message;
}

std::string RelocatedError(const JsonPath& prefix, const std::string& prefixName,
                           const std::string& error) {
  JsonPath path;
  std::string message;
  if (!Split(error, &path, &message)) return prefixName + "." + error;
  JsonPath whole = prefix;
  whole.insert(whole.end(), path.begin(), path.end());
  return LocatedError(whole, prefixName + "." + message);
}

std::string MachineFileError(const std::string& file, std::string_view text,
                             const std::string& error) {
  JsonPath path;
  std::string message;
  if (!Split(error, &path, &message)) return file + ": " + error;
  size_t line = 0, column = 0;
  if (!LocateMember(text, path, &line, &column)) return file + ": " + message;
  return file + ": line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
         message;
}

std::string MachineFileError(const std::string& file, const std::string& error) {
  if (error.find(kMark) == std::string::npos) return file + ": " + error;
  std::string text, reason;
  if (file.empty() || !ReadWholeFile(file, &text, &reason)) text.clear();
  return MachineFileError(file, text, error);
}

bool WithinJsonDepth(const Json& document, JsonPath* path) {
  struct Frame {
    const Json* container;
    size_t next;
  };
  std::vector<Frame> frames;
  if (document.is_structured()) frames.push_back({&document, 0});
  while (!frames.empty()) {
    Frame& top = frames.back();
    if (top.next >= top.container->size()) {
      frames.pop_back();
      continue;
    }
    const Json& child = Child(*top.container, top.next++);
    if (frames.size() > kMaxJsonDepth) {
      if (path != nullptr) {
        path->clear();
        for (const Frame& f : frames) path->push_back(Token(*f.container, f.next - 1));
      }
      return false;
    }
    if (child.is_structured()) frames.push_back({&child, 0});
  }
  return true;
}

bool CheckJsonDepth(const std::string& file, std::string_view text, Json* document,
                    std::string* error) {
  JsonPath path;
  if (WithinJsonDepth(*document, &path)) return true;
  const std::string where = document->is_object() ? path.front() : "top level";
  *error = MachineFileError(file, text,
                            LocatedError(path, where + ": nesting deeper than " +
                                                   std::to_string(kMaxJsonDepth) + " levels"));
  *document = nullptr;  // nlohmann frees nested values without recursion
  return false;
}

}  // namespace platform::sim
