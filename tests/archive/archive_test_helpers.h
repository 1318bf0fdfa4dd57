#pragma once
// Shared by the writer's tests: events that record, and one call that packs and reads back.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "archive/tar_archive.h"
#include "tests/archive/support/fake_file_system.h"
#include "tests/archive/support/tar_reader.h"

namespace mailsheaf::testing {

class RecordingEvents : public ArchiveEvents {
 public:
  std::vector<std::u16string> kinds;
  std::vector<std::u16string> paths;
  std::vector<int32_t> percents;
  std::vector<ArchiveProgress> info_progress;  // what came with each ProgressInfo
  std::function<void(const std::u16string&)> on_info;
  std::function<void(int32_t)> on_percent;
  TarArchive* archive = nullptr;  // the writer raising the events, for handlers that stop it

  void ProgressInfo(const std::u16string& kind, const std::u16string& value,
                    const ArchiveProgress& progress) override {
    kinds.push_back(kind);
    paths.push_back(value);
    info_progress.push_back(progress);
    if (on_info) on_info(value);
  }
  void PercentDone(int32_t percent, const ArchiveProgress&) override {
    percents.push_back(percent);
    if (on_percent) on_percent(percent);
  }
};

// How every file this writer leaves starts: the gzip magic and the deflate method.
inline const std::string kGzipStart = "\x1f\x8b\x08";

// A clock that stands still: no event is repeated for time's sake, however slow the machine,
// so the events each test sees are the same on every run.
inline std::function<std::chrono::steady_clock::time_point()> StillClock() {
  return [] { return std::chrono::steady_clock::time_point(); };
}

struct Packed {
  int32_t result = 0;
  std::u16string error;
  std::string bytes;
  std::vector<TarItem> items;
  int64_t messages = 0;
  int64_t folders = 0;
};

inline Packed PackFake(FakeFileSystem& fs, const std::u16string& root,
                       const std::u16string& destination, unsigned threads = 1,
                       RecordingEvents* events = nullptr,
                       SizingWalk sizing = SizingWalk::kBesideTheWriter) {
  RecordingEvents own;
  RecordingEvents& used = events ? *events : own;
  TarArchive archive(&used, fs, {threads, sizing, StillClock()});
  used.archive = &archive;
  archive.SetArchiveFormat(u"gnu");
  Packed packed;
  if (archive.AddRootFolder(root) != 1) {
    packed.error = archive.LastErrorText();
    return packed;
  }
  packed.result = archive.WriteCompressedArchive(destination);
  packed.error = archive.LastErrorText();
  packed.messages = archive.MessagesStored();
  packed.folders = archive.FoldersStored();
  used.archive = nullptr;
  if (packed.result == 1) {
    packed.bytes = fs.Find(destination)->content;
    packed.items = ReadArchiveBytes(packed.bytes);
  }
  return packed;
}

// A message of about `size` bytes whose lines all pass the importer: a header, then lines of
// `fill`.
inline std::string PlainMessage(size_t size, char fill) {
  std::string message = "Subject: plain\r\n\r\n";
  while (message.size() < size) message += std::string(78, fill) + "\r\n";
  return message;
}

inline std::vector<std::string> NamesOf(const std::vector<TarItem>& items) {
  std::vector<std::string> names;
  for (const TarItem& item : items) names.push_back(item.name);
  return names;
}

// Entry names of every length up to 300 bytes, with characters of two, three and four bytes
// falling across the 100-byte limit of the plain name field.
inline std::string NameOfLength(size_t length, const std::string& ending) {
  static const std::string kPattern = "\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9Ex";  // ä € 𝄞 x
  std::string name;
  size_t i = 0;
  while (name.size() + ending.size() < length) {
    const unsigned char lead = static_cast<unsigned char>(kPattern[i % kPattern.size()]);
    const size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const size_t start = i % kPattern.size();
    if (name.size() + ending.size() + width <= length) {
      name += kPattern.substr(start, width);
    } else {
      name += 'a';
      continue;
    }
    i += width;
  }
  return name + ending;
}

}  // namespace mailsheaf::testing
