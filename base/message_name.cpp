#include "base/message_name.h"

#include "base/case_fold.h"
#include "base/wildcard_match.h"

namespace mailsheaf {
namespace {

bool EndsWith(std::u16string_view lower, std::u16string_view end) {
  return lower.size() >= end.size() && lower.substr(lower.size() - end.size()) == end;
}

}  // namespace

bool IsMessageName(const std::u16string& name) { return MatchesWildcard(name, kMessagePattern); }

bool IsNeverMailFolder(std::u16string_view name, bool at_top) {
  return at_top && name == u"__MACOSX";
}

std::u16string WhyMailLikeFileIsLeftOut(std::u16string_view name, bool index_beside) {
  const std::u16string lower = CaseBlindText(name);
  const size_t dot = lower.rfind(u'.');
  if (EndsWith(lower, u".emlx")) {
    return u"an Apple Mail message file (.emlx), not a .eml message";
  }
  if (EndsWith(lower, u".msg")) return u"an Outlook message file (.msg), not a .eml message";
  if (EndsWith(lower, u".mbox") || EndsWith(lower, u".mbx") || lower == u"mbox" ||
      (index_beside && dot == std::u16string::npos)) {
    return u"a mailbox file (mbox) holding many messages, not one .eml message";
  }
  if (lower.find(u".eml.") != std::u16string::npos && !EndsWith(lower, u".meta")) {
    return u"named like a message, but its name does not end in .eml";
  }
  return {};
}

std::u16string KindOfOtherFile(std::u16string_view name) {
  const std::u16string lower = CaseBlindText(name);
  for (const char16_t* known : {u"Thumbs.db", u"desktop.ini", u".DS_Store"}) {
    if (lower == CaseBlindText(known)) return known;
  }
  // An unpacked Zimbra export keeps its item data beside each message: not mail, one line.
  if (EndsWith(lower, u".meta")) return u".meta (Zimbra's own data about an item)";
  const size_t dot = lower.rfind(u'.');
  return dot == std::u16string::npos || dot == 0 ? u"no extension" : lower.substr(dot);
}

}  // namespace mailsheaf
