#include "upload/journal_file.h"

#include "base/text.h"
#include "upload/digest.h"

namespace mailsheaf {

std::u16string JournalFolder(const Variable& variable, char16_t separator) {
  std::string base;
  std::u16string below;
  if (separator == u'\\') {
    if (!variable("LOCALAPPDATA", base) && !variable("APPDATA", base)) return {};
    below = u"Mailsheaf";
  } else if (variable("XDG_STATE_HOME", base) && !base.empty() && base[0] == '/') {
    below = u"mailsheaf";
  } else {
    if (!variable("HOME", base) || base.empty()) return {};
    below = u".local/state/mailsheaf";
  }
  std::u16string folder = Utf8ToUtf16(base);
  if (!folder.empty() && folder.back() != separator) folder += separator;
  return folder + below + separator;
}

std::u16string JournalFileName(const std::string& user, const std::string& host, uint16_t port) {
  const std::string account = user + " at " + host + " " + std::to_string(port);
  std::u16string name;
  for (char c : account) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '@';
    name += plain ? static_cast<char16_t>(c) : u'_';
  }
  if (name.size() > 120) name.resize(120);
  // The cut and the replaced characters could make two accounts alike.
  static const char16_t kHex[] = u"0123456789abcdef";
  const uint64_t digest = DigestOf(std::string_view(account));
  name += u'-';
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(digest >> shift) & 15];
  return name + u".journal";
}

std::unique_ptr<JournalFile> OpenAccountJournal(const std::u16string& folder,
                                                const std::string& user, const std::string& host,
                                                uint16_t port, std::u16string& error) {
  return OpenJournalFile(folder, JournalFileName(user, host, port),
                         "# Mailsheaf's journal of the messages put into " + user + " at " + host +
                             ":" + std::to_string(port) + "; delete this file to start afresh",
                         error);
}

bool ReadLinesInChunks(const ReadSome& read_some, const std::function<void(std::string_view)>& line,
                       std::u16string& error) {
  std::string buffer;
  char chunk[64 * 1024];
  for (;;) {
    size_t got = 0;
    if (!read_some(chunk, sizeof chunk, got, error)) return false;
    if (got == 0) break;
    buffer.append(chunk, got);
    size_t start = 0;
    for (size_t end; (end = buffer.find('\n', start)) != std::string::npos; start = end + 1) {
      line(std::string_view(buffer).substr(start, end - start));
    }
    buffer.erase(0, start);
  }
  if (!buffer.empty()) line(buffer);
  return true;
}

}  // namespace mailsheaf
