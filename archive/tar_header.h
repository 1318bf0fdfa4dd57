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

// The two zero blocks that end an archive.
inline constexpr size_t kTarEndSize = 2 * kTarBlockSize;

}  // namespace mailsheaf
