// An ordered list of text lines that can also be read and set as one text.
//
// Read as text, every entry is followed by CR LF, the last one included. Set
// from text, the text is split at CR LF, CR or LF, and a last piece without a
// line end becomes an entry of its own. The activity log, the agent's output
// buffer and the browser preference files are all kept in this form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace umbrane {

class LineList {
 public:
  LineList() = default;

  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  // Drops the first `count` entries (all of them when there are fewer).
  void RemoveFirst(std::size_t count);

  // Every entry followed by CR LF.
  std::string Text() const;
  // Entries [from, Count()) as text, each followed by CR LF.
  std::string TextFrom(std::size_t from) const;
  // Replaces the entries with the lines of `text`.
  void SetText(std::string_view text);

 private:
  std::vector<std::string> lines_;
};

}  // namespace umbrane
