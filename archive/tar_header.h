#pragma once
// GNU tar headers, restricted to what the mail server's importer reads: the "ustar  " magic,
// octal numbers only, names of 100 bytes or more through a ././@LongLink entry, never pax.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mail/importer_rules.h"  // kTarLargestNumber

namespace mailsheaf {

inline constexpr size_t kTarBlockSize = 512;

// The fields of a header block that the writer fills, by offset and size (the rest is zeros).
struct TarField {
  size_t offset;
  size_t size;
};
inline constexpr TarField kTarName{0, 100};
inline constexpr TarField kTarMode{100, 8};
inline constexpr TarField kTarUid{108, 8};
inline constexpr TarField kTarGid{116, 8};
inline constexpr TarField kTarSize{124, 12};
inline constexpr TarField kTarMtime{136, 12};
inline constexpr TarField kTarChecksum{148, 8};
inline constexpr TarField kTarType{156, 1};
inline constexpr TarField kTarMagic{257, 8};  // "ustar  \0", GNU's

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
  uint64_t header = kTarBlockSize;
  if (name_size >= kTarName.size) {
    header += kTarBlockSize + name_size + 1 + TarPadding(name_size + 1);
  }
  return header + size + TarPadding(size);
}

// The two zero blocks that end an archive.
inline constexpr size_t kTarEndSize = 2 * kTarBlockSize;

}  // namespace mailsheaf
