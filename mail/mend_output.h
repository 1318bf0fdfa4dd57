#pragma once
// Where a mend's bytes go as it streams: counted, checked and dropped, or handed on in pieces of
// a useful size. Small writes (a byte of base64, a line end) are gathered here, not passed one by
// one to whoever takes them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mail/mail_lines.h"

namespace mailsheaf {

class MendOutput {
 public:
  // Nothing is kept: only the size and the longest line are followed.
  MendOutput() = default;
  // Nothing at all: a pass that only looks.
  static MendOutput Ignored() {
    MendOutput out;
    out.follow_lines_ = false;
    return out;
  }
  // Every byte goes to `take`, in pieces of up to kPiece; false from it stops the output.
  explicit MendOutput(std::function<bool(std::string_view)> take) : take_(std::move(take)) {}
  MendOutput(MendOutput&&) = default;
  MendOutput(const MendOutput&) = delete;
  MendOutput& operator=(const MendOutput&) = delete;

  static constexpr size_t kPiece = 256 * 1024;

  void Put(std::string_view bytes) {
    size_ += bytes.size();
    if (!take_) {
      if (follow_lines_) lines_.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      return;
    }
    pending_.append(bytes);
    if (pending_.size() >= kPiece) Flush();
  }
  void Put(char byte) { Put(std::string_view(&byte, 1)); }
  // Hands on what is gathered; false once `take` said no.
  bool Flush() {
    if (take_ && ok_ && !pending_.empty()) ok_ = take_(pending_);
    pending_.clear();
    return ok_;
  }
  bool Ok() const { return ok_; }
  uint64_t Size() const { return size_; }
  uint64_t LongestLine() const { return lines_.Longest(); }

 private:
  std::function<bool(std::string_view)> take_;
  std::string pending_;
  bool ok_ = true;
  bool follow_lines_ = true;
  uint64_t size_ = 0;
  LineLengthCheck lines_;
};

}  // namespace mailsheaf
