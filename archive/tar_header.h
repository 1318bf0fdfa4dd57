#pragma once
// GNU tar headers, restricted to what the mail server's importer reads: the "ustar  " magic,
// octal numbers only, names of 100 bytes or more through a ././@LongLink entry, never pax.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mailsheaf {

inline constexpr size_t kTarBlockSize = 512;
// The largest number an 11-digit octal field holds: sizes and times beyond it cannot be written.
inline constexpr uint64_t kTarLargestNumber = 077777777777ULL;

enum class TarEntryType : char { kFile = '0', kFolder = '5' };

struct TarEntry {
  std::string name;  // UTF-8, "/"-separated, relative; a folder's ends in "/"
  TarEntryType type = TarEntryType::kFile;
  uint64_t size = 0;
  int64_t mtime = 0;
  uint32_t mode = 0644;
};

// Appends the header block(s) of one entry: a long-name entry and its data first when the name
// takes 100 bytes or more. False, with nothing appended, when the size or the time does not fit
// its octal field.
bool AppendTarHeader(const TarEntry& entry, std::vector<unsigned char>& out);

// Zero bytes that follow `size` bytes of data to end on a block boundary.
inline size_t TarPadding(uint64_t size) {
  return static_cast<size_t>((kTarBlockSize - size % kTarBlockSize) % kTarBlockSize);
}

// Bytes an entry takes in the archive: its header block(s), its data and the padding after it.
inline uint64_t TarEntryBytes(size_t name_size, uint64_t size) {
  constexpr size_t kNameField = 100;
  uint64_t header = kTarBlockSize;
  if (name_size >= kNameField) header += kTarBlockSize + name_size + 1 + TarPadding(name_size + 1);
  return header + size + TarPadding(size);
}

// The importer keeps times as 32-bit signed seconds: a later one would wrap to 1901, and 0
// dates a message 1970. Such a time is unusable (0 here), whatever the tar field could hold.
inline constexpr int64_t kLastUsableTime = 2147483647;  // 2038-01-19 03:14:07 UTC
inline int64_t UsableTime(int64_t time) { return time > 0 && time <= kLastUsableTime ? time : 0; }

// Why a message cannot be stored: the size field cannot hold its size.
inline std::u16string TooLargeReason(const std::u16string& path) {
  return u"The message " + path + u" is 8 GiB or larger, more than the archive format can hold.";
}

// The two zero blocks that end an archive.
inline constexpr size_t kTarEndSize = 2 * kTarBlockSize;

}  // namespace mailsheaf
