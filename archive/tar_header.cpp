#include "archive/tar_header.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace mailsheaf {
namespace {

using Block = std::array<unsigned char, kTarBlockSize>;

// Field offsets of the GNU header.
constexpr size_t kName = 0, kMode = 100, kUid = 108, kGid = 116, kSize = 124, kMtime = 136,
                 kChecksum = 148, kType = 156, kMagic = 257;
constexpr size_t kNameField = 100;

// Writes `value` as zero-padded octal digits filling width-1 bytes, then a NUL.
bool PutOctal(Block& block, size_t offset, size_t width, uint64_t value) {
  const size_t digits = width - 1;
  for (size_t i = digits; i-- > 0;) {
    block[offset + i] = static_cast<unsigned char>('0' + (value & 7));
    value >>= 3;
  }
  block[offset + digits] = '\0';
  return value == 0;
}

void PutChecksum(Block& block) {
  std::memset(block.data() + kChecksum, ' ', 8);
  unsigned sum = 0;
  for (unsigned char byte : block) sum += byte;
  // Six digits, a NUL and a space, as GNU tar writes it.
  for (size_t i = 6; i-- > 0;) {
    block[kChecksum + i] = static_cast<unsigned char>('0' + (sum & 7));
    sum >>= 3;
  }
  block[kChecksum + 6] = '\0';
  block[kChecksum + 7] = ' ';
}

bool MakeHeader(const std::string& name, char type, uint64_t size, int64_t mtime, uint32_t mode,
                Block& block) {
  block.fill(0);
  std::memcpy(block.data() + kName, name.data(), std::min(name.size(), kNameField));
  bool fits = PutOctal(block, kMode, 8, mode) && PutOctal(block, kUid, 8, 0) &&
              PutOctal(block, kGid, 8, 0) && PutOctal(block, kSize, 12, size) && mtime >= 0 &&
              PutOctal(block, kMtime, 12, static_cast<uint64_t>(mtime));
  block[kType] = static_cast<unsigned char>(type);
  std::memcpy(block.data() + kMagic, "ustar  ", 8);  // with its NUL: "ustar  \0"
  PutChecksum(block);
  return fits;
}

void Append(std::vector<unsigned char>& out, const unsigned char* data, size_t size) {
  out.insert(out.end(), data, data + size);
}

}  // namespace

bool AppendTarHeader(const TarEntry& entry, std::vector<unsigned char>& out) {
  Block header;
  if (!MakeHeader(entry.name, static_cast<char>(entry.type), entry.size, entry.mtime, entry.mode,
                  header)) {
    return false;
  }
  if (entry.name.size() >= kNameField) {
    // The importer drops the last byte of a long name's data: it must be the NUL.
    const uint64_t long_size = entry.name.size() + 1;
    Block long_header;
    MakeHeader("././@LongLink", 'L', long_size, 0, 0644, long_header);
    Append(out, long_header.data(), long_header.size());
    Append(out, reinterpret_cast<const unsigned char*>(entry.name.data()), entry.name.size());
    out.push_back(0);
    out.insert(out.end(), TarPadding(long_size), 0);
  }
  Append(out, header.data(), header.size());
  return true;
}

}  // namespace mailsheaf
