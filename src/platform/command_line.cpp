#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {

// The rules of the Microsoft C runtime (2008 and later): outside quotes a
// blank or tab ends a word; 2n backslashes before a quote give n
// backslashes and the quote toggles quoting, 2n+1 give n backslashes and a
// literal quote; inside quotes a doubled quote gives one quote and stays
// inside; other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n) {
      char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == '"') {
          word.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            word.push_back('"');
            ++i;
          }
        } else {
          word.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          word.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      word.push_back(c);
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace platform
