#include "mail/folder_names.h"

#include <algorithm>

#include "base/case_fold.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr size_t kLongestName = 255;

bool Refused(char16_t c) {
  return c < 0x20 || c == u':' || c == u'"' || c == 0xFFFE || c == 0xFFFF;
}

std::u16string_view WithoutTrailingSpaces(std::u16string_view name) {
  while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
  return name;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  return CaseBlindText(WithoutTrailingSpaces(a)) == CaseBlindText(b);
}

constexpr const char16_t* kNotForMail[] = {u"Contacts",         u"Calendar",  u"Tasks",
                                           u"Emailed Contacts", u"Briefcase", u"Files shared with me"};
constexpr const char16_t* kSentMail[] = {u"Sent Items", u"Sent Messages", u"Sent Mail"};

const char16_t* KeptForOtherThanMail(std::u16string_view name) {
  for (const char16_t* reserved : kNotForMail) {
    if (SameName(name, reserved)) return reserved;
  }
  return nullptr;
}

bool IsSentMail(std::u16string_view name) {
  return std::any_of(std::begin(kSentMail), std::end(kSentMail),
                     [&](const char16_t* sent) { return SameName(name, sent); });
}

void Because(std::u16string& why, std::u16string_view reason) {
  if (!why.empty()) why += u"; ";
  why += reason;
}

}  // namespace

std::u16string AcceptedFolderName(std::u16string_view name) {
  std::u16string accepted(name);
  std::replace_if(accepted.begin(), accepted.end(), Refused, u'_');
  if (WithoutTrailingSpaces(accepted).empty()) return u"_";
  return CutToUnits(std::move(accepted), kLongestName);
}

bool IsJunkFolder(std::u16string_view name) { return SameName(name, u"Junk"); }

StoredFolderName NameToStore(std::u16string_view name, FolderPlace place) {
  StoredFolderName stored;
  std::u16string& why = stored.why;
  const std::u16string accepted = AcceptedFolderName(name);
  if (WithoutTrailingSpaces(name).empty()) {
    Because(why, u"Zimbra refuses a blank name");
  } else if (std::any_of(name.begin(), name.end(), Refused)) {
    Because(why, u"Zimbra refuses : \" and control characters in folder names");
  }
  if (name.size() > kLongestName) Because(why, u"Zimbra takes names of at most 255 characters");
  stored.name = accepted;
  if (place == FolderPlace::kBelowTopJunk) {
    stored.name = CutToUnits(u"Junk - " + accepted, kLongestName);
    Because(why, u"Zimbra's Junk takes no sub-folders, so it became a top-level folder");
  } else if (place == FolderPlace::kTop) {
    if (const char16_t* reserved = KeptForOtherThanMail(accepted)) {
      stored.name = std::u16string(WithoutTrailingSpaces(accepted)) + u" (mail)";
      Because(why, u"Zimbra's own " + std::u16string(reserved) + u" folder cannot hold mail");
    } else if (IsSentMail(accepted)) {
      stored.name = u"Sent";
      Because(why, u"sent mail goes into Zimbra's own Sent folder");
    }
  }
  return stored;
}

std::u16string EmptiedSystemFolder(std::u16string_view stored_top_name) {
  for (const char16_t* emptied : {u"Trash", u"Junk"}) {
    if (SameName(stored_top_name, emptied)) return emptied;
  }
  return {};
}

std::u16string MergeKey(std::u16string_view stored_path) {
  std::u16string key;
  size_t start = 0;
  while (start < stored_path.size()) {
    size_t slash = stored_path.find(u'/', start);
    if (slash == std::u16string_view::npos) slash = stored_path.size();
    key += CaseBlindText(WithoutTrailingSpaces(stored_path.substr(start, slash - start)));
    key.push_back(u'/');
    start = slash + 1;
  }
  return key;
}

}  // namespace mailsheaf
