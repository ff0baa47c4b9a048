// Small reads of /proc and /sys files. Every reader here returns absent rather
// than throwing; `lastReadFailure` tells why, for the few callers that must tell
// a vanished process from one they may not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::platform::text_file {

enum class ReadFailure {
  none,
  vanished,  // ENOENT, ESRCH: the file or the process behind it is gone
  denied,    // EACCES, EPERM: it exists but is not ours to read
  other,
};

// One place to translate errno for every reader.
ReadFailure classifyErrno(int err);

struct ReadResult {
  std::optional<std::string> text;
  ReadFailure failure = ReadFailure::none;
};

// Reads up to `maxBytes` (procfs files report size 0, so the size is not trusted).
ReadResult read(const std::filesystem::path& path, size_t maxBytes = 1u << 20);

// The text, or absent on any failure.
std::optional<std::string> readText(const std::filesystem::path& path, size_t maxBytes = 1u << 20);

// The first line without surrounding white space; absent when missing or empty.
std::optional<std::string> readLine(const std::filesystem::path& path);

// A whole decimal integer file such as sysfs attributes ("42\n").
std::optional<int64_t> readInt(const std::filesystem::path& path);

std::string_view trim(std::string_view text);

// Strict decimal parses of a whole token; absent for anything else.
std::optional<uint64_t> parseUnsigned(std::string_view token);
std::optional<int64_t> parseSigned(std::string_view token);
std::optional<double> parseDouble(std::string_view token);

// Splits on runs of spaces and tabs; never yields an empty field.
std::vector<std::string_view> fields(std::string_view line);

// The lines of a text without their '\n', for a range-for; a last line without
// '\n' counts, an empty text has none, and blank lines are kept.
class Lines {
 public:
  class iterator {
   public:
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    iterator(std::string_view text, size_t pos) : text_(text), pos_(pos) { findEnd(); }
    std::string_view operator*() const { return text_.substr(pos_, end_ - pos_); }
    iterator& operator++() {
      pos_ = end_ + 1;
      findEnd();
      return *this;
    }
    bool operator==(const iterator& other) const { return pos_ == other.pos_; }

   private:
    void findEnd() {
      if (pos_ >= text_.size()) {
        pos_ = end_ = std::string_view::npos;
        return;
      }
      end_ = text_.find('\n', pos_);
      if (end_ == std::string_view::npos) end_ = text_.size();
    }
    std::string_view text_;
    size_t pos_ = std::string_view::npos;
    size_t end_ = std::string_view::npos;
  };

  explicit Lines(std::string_view text) : text_(text) {}
  iterator begin() const { return {text_, 0}; }
  iterator end() const { return {}; }

 private:
  std::string_view text_;
};

inline Lines lines(std::string_view text) { return Lines(text); }

// Calls `f` with each of `lines(text)`.
template <typename F>
void forEachLine(std::string_view text, F&& f) {
  for (std::string_view line : lines(text)) f(line);
}

}  // namespace norvo::platform::text_file
