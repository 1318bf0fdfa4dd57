#pragma once
// The long-line mend's one pass over a message's lines (long_lines.h says what each of its three
// passes does): the parts found as they stream by, one frame each, an enclosing delimiter ending
// whatever is open inside it, and each line going to its part as it is or through the part's
// encoder. The line flow is in mend_pass.cpp, what each part becomes as its header section or
// its body ends in mend_entities.cpp. Only the mend uses it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/body_encoders.h"
#include "mail/line_splitter.h"
#include "mail/long_lines.h"
#include "mail/mend_output.h"

namespace mailsheaf::mend {


// Real mail nests a few levels; past this the content is left as it is, so that no message can
// exhaust the stack or the time of a run.
constexpr int kDeepestPart = 100;
// Held while it is read and folded; real header sections are a few KiB.
constexpr size_t kLargestHeader = 4 << 20;
// What the survey keeps per part is small, but not nothing.
constexpr size_t kMostParts = 1 << 20;
constexpr uint64_t kTickEvery = 1 << 20;

enum class Pass { kSurvey, kCount, kWrite };

inline bool Plain(const std::string& encoding) {
  return encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
}

inline bool AllBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

inline char EolKind(std::string_view eol) { return eol == "\r\n" ? 'c' : eol == "\n" ? 'n' : 'r'; }
inline std::string EolText(char kind) { return kind == 'n' ? "\n" : kind == 'r' ? "\r" : "\r\n"; }

struct Frame {
  enum class State { kHeader, kLeaf, kPreamble, kInPart, kEpilogue, kNested, kOpaque };
  State state = State::kHeader;
  size_t id = 0;
  int depth = 0;
  bool is_message = false;  // the message itself, or the body of a message/rfc822
  bool covered = false;     // inside what a multipart/signed signs
  bool in_digest = false;   // a part of a multipart/digest: message/rfc822 unless it says
  std::string header;       // the header section, held until it has ended
  bool header_ended = false;
  bool first_line = true;
  std::string first_eol;
  std::string eol = "\r\n";
  std::string type;
  std::string encoding;
  std::string delimiter;  // of a multipart: "--" and its boundary
  bool is_signed = false;
  size_t parts = 0;
  bool unfoldable_encoding_field = false;
  std::unique_ptr<BodyEncoder> encoder;
  bool line_open = false;
  uint64_t line = 0;      // the open line's length so far
  uint64_t longest = 0;   // of the region being read
  uint64_t whole = 0;     // of a multipart's whole body
};

// One pass over the message's lines: the parts are found as they stream by, an enclosing
// delimiter ending whatever is open inside it, and each line goes to its part as it is or
// through the part's encoder. The line end before a delimiter belongs to the delimiter, so
// each line end is held until the next line shows whose it is.
class MendPass final : public LineSink {
 public:
  MendPass(Pass pass, MendPlan& plan, MendOutput& out, const std::function<bool()>& tick);

  bool Line(std::string_view head, bool whole) override;

  bool Rest(std::string_view piece) override;

  bool End(std::string_view eol) override;

  // After the last line.
  bool Finish();

  size_t edits() const { return edits_; }

 private:
  bool Going(uint64_t bytes);

  bool Cannot(std::u16string reason);

  bool Survey() const { return pass_ == Pass::kSurvey; }

  static bool IsDelimiterOf(const Frame& f, std::string_view line, bool& closing);
  MendPlan::Entity Facts(const Frame& f) const;

  bool Push(int depth, bool is_message, bool covered, bool in_digest = false);

  void Put(Frame& f, std::string_view text);

  // A change to the message: what it breaks.
  void Changed(const Frame& f, bool in_header);

  bool Hold(Frame& f, std::string_view text);

  bool StartLine(Frame& f, std::string_view head);

  bool DeliverEnd(Frame& f, std::string_view eol);

  // Closes the region being read (a body, a preamble, an epilogue); its longest line.
  uint64_t EndRegion(Frame& f);

  Delimiters DelimitersAround(const Frame& last) const;

  // A preamble or an epilogue, which no reader shows: wrapped when a line there is too long.
  void StartUnseen(Frame& f, bool too_long);

  bool Delimiter(size_t index, std::string_view line, bool closing);

  void StartWithoutHeader(Frame& f);

  bool EndHeader(Frame& f);

  // Ends the innermost entity; what the survey learnt of it is kept.
  bool EndEntity();

  bool HeaderRefused();

  const Pass pass_;
  MendPlan& plan_;
  MendOutput& out_;
  const std::function<bool()>& tick_;
  std::vector<std::unique_ptr<Frame>> frames_;
  std::string pending_eol_;
  bool in_delimiter_line_ = false;
  size_t next_id_ = 0;
  bool dkim_ = false;
  size_t edits_ = 0;
  uint64_t since_tick_ = 0;
};


}  // namespace mailsheaf::mend
