#include "platform/sim/machine_file/json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kIndentStep = 2;

/// Writes into a buffer that it sizes itself: appending to a string piece
/// by piece cost more than the formatting.
class Writer {
 public:
  explicit Writer(size_t sizeHint) : out_(std::max<size_t>(sizeHint, 64), '\0') {}

  /// False as soon as something is not plain; the text is then incomplete.
  bool Value(const Json& value, int indent);
  std::string Take() {
    out_.resize(size_);
    return std::move(out_);
  }

 private:
  /// Room for `count` more characters.
  char* Room(size_t count) {
    if (size_ + count > out_.size()) out_.resize(std::max(out_.size() * 2, size_ + count));
    return out_.data() + size_;
  }
  void Put(std::string_view text) {
    std::memcpy(Room(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  void Indent(int columns) {
    std::memset(Room(static_cast<size_t>(columns)), ' ', static_cast<size_t>(columns));
    size_ += static_cast<size_t>(columns);
  }
  template <typename Number>
  void Integer(Number number) {
    char* at = Room(24);
    size_ += static_cast<size_t>(std::to_chars(at, at + 24, number).ptr - at);
  }
  bool Text(const std::string& text);
  bool Object(const Json::object_t& object, int indent);
  bool Array(const Json::array_t& array, int indent);

  std::string out_;
  size_t size_ = 0;
};

/// Which bytes a text may hold to be copied as it is: printable ASCII but
/// the quote and the backslash.
constexpr std::array<bool, 256> PlainBytes() {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7F; ++c) plain[static_cast<size_t>(c)] = c != '"' && c != '\\';
  return plain;
}
constexpr std::array<bool, 256> kPlain = PlainBytes();

/// True when `text` needs no escape; most texts of a machine file do not.
bool Plain(const std::string& text) {
  for (char c : text) {
    if (!kPlain[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

bool Writer::Text(const std::string& text) {
  if (Plain(text)) {
    char* at = Room(text.size() + 2);
    at[0] = '"';
    std::memcpy(at + 1, text.data(), text.size());
    at[text.size() + 1] = '"';
    size_ += text.size() + 2;
    return true;
  }
  char* at = Room(text.size() * 2 + 2);  // every character escaped, and the quotes
  char* p = at;
  *p++ = '"';
  for (char c : text) {
    if (c < 0x20 || c >= 0x7F) return false;  // escapes and UTF-8 checks: nlohmann's
    if (c == '"' || c == '\\') *p++ = '\\';
    *p++ = c;
  }
  *p++ = '"';
  size_ += static_cast<size_t>(p - at);
  return true;
}

bool Writer::Object(const Json::object_t& object, int indent) {
  if (object.empty()) {
    Put("{}");
    return true;
  }
  Put("{\n");
  bool first = true;
  for (const auto& [key, member] : object) {
    if (!first) Put(",\n");
    first = false;
    Indent(indent + kIndentStep);
    if (!Text(key)) return false;
    Put(": ");
    if (!Value(member, indent + kIndentStep)) return false;
  }
  Put("\n");
  Indent(indent);
  Put("}");
  return true;
}

bool Writer::Array(const Json::array_t& array, int indent) {
  if (array.empty()) {
    Put("[]");
    return true;
  }
  Put("[\n");
  bool first = true;
  for (const Json& element : array) {
    if (!first) Put(",\n");
    first = false;
    Indent(indent + kIndentStep);
    if (!Value(element, indent + kIndentStep)) return false;
  }
  Put("\n");
  Indent(indent);
  Put("]");
  return true;
}

bool Writer::Value(const Json& value, int indent) {
  switch (value.type()) {
    case Json::value_t::null:
      Put("null");
      return true;
    case Json::value_t::boolean:
      Put(*value.get_ptr<const Json::boolean_t*>() ? "true" : "false");
      return true;
    case Json::value_t::number_integer:
      Integer(*value.get_ptr<const Json::number_integer_t*>());
      return true;
    case Json::value_t::number_unsigned:
      Integer(*value.get_ptr<const Json::number_unsigned_t*>());
      return true;
    case Json::value_t::string:
      return Text(*value.get_ptr<const Json::string_t*>());
    case Json::value_t::object:
      return Object(*value.get_ptr<const Json::object_t*>(), indent);
    case Json::value_t::array:
      return Array(*value.get_ptr<const Json::array_t*>(), indent);
    default:
      return false;  // reals, binary values
  }
}

}  // namespace

std::string DumpJson(const nlohmann::ordered_json& document, size_t sizeHint) {
  Writer writer(sizeHint);
  if (writer.Value(document, 0)) return writer.Take();
  return document.dump(kIndentStep);
}

}  // namespace platform::sim
