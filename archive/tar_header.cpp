#include "archive/tar_header.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace mailsheaf {
namespace {

using Block = std::array<unsigned char, kTarBlockSize>;

// Writes `value` as zero-padded octal digits filling the field but its last byte, then a NUL.
bool PutOctal(Block& block, TarField field, uint64_t value) {
  const size_t digits = field.size - 1;
  for (size_t i = digits; i-- > 0;) {
    block[field.offset + i] = static_cast<unsigned char>('0' + (value & 7));
    value >>= 3;
  }
  block[field.offset + digits] = '\0';
  return value == 0;
}

void PutChecksum(Block& block) {
  unsigned char* checksum = block.data() + kTarChecksum.offset;
  std::memset(checksum, ' ', kTarChecksum.size);
  unsigned sum = 0;
  for (unsigned char byte : block) sum += byte;
  // Six digits, a NUL and a space, as GNU tar writes it.
  for (size_t i = 6; i-- > 0;) {
    checksum[i] = static_cast<unsigned char>('0' + (sum & 7));
    sum >>= 3;
  }
  checksum[6] = '\0';
}

bool MakeHeader(const std::string& name, char type, uint64_t size, int64_t mtime, uint32_t mode,
                Block& block) {
  block.fill(0);
  std::memcpy(block.data() + kTarName.offset, name.data(), std::min(name.size(), kTarName.size));
  bool fits = PutOctal(block, kTarMode, mode) && PutOctal(block, kTarUid, 0) &&
              PutOctal(block, kTarGid, 0) && PutOctal(block, kTarSize, size) && mtime >= 0 &&
              PutOctal(block, kTarMtime, static_cast<uint64_t>(mtime));
  block[kTarType.offset] = static_cast<unsigned char>(type);
  std::memcpy(block.data() + kTarMagic.offset, "ustar  ", kTarMagic.size);  // with its NUL
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
  if (entry.name.size() >= kTarName.size) {
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
