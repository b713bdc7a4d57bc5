#include "base/LineList.h"

#include <algorithm>

namespace umbrane {

std::string LineList::Text() const {
  return TextFrom(0);
}

std::string LineList::TextFrom(std::size_t from) const {
  std::size_t size = 0;
  for (std::size_t i = from; i < lines_.size(); ++i) {
    size += lines_[i].size() + 2;
  }
  std::string text;
  text.reserve(size);
  for (std::size_t i = from; i < lines_.size(); ++i) {
    text += lines_[i];
    text += "\r\n";
  }
  return text;
}

void LineList::SetText(std::string_view text) {
  lines_.clear();
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    lines_.emplace_back(text.substr(start, i - start));
    i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    start = i;
  }
  if (start < text.size()) {
    lines_.emplace_back(text.substr(start));
  }
}

void LineList::RemoveFirst(std::size_t count) {
  lines_.erase(lines_.begin(),
               lines_.begin() + static_cast<std::ptrdiff_t>(std::min(count, lines_.size())));
}

}  // namespace umbrane
