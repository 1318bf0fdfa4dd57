#pragma once
// Reads back what the archive writer produced, strictly: exactly one gzip member, then GNU tar
// as the mail server's importer reads it (octal numbers only, long names through ././@LongLink
// ending in a NUL, no pax headers, valid checksums, two zero blocks at the end).

#include <cstdint>
#include <string>
#include <vector>

namespace mailsheaf::testing {

struct TarItem {
  std::string name;
  char type = 0;
  uint64_t size = 0;
  int64_t mtime = 0;
  uint32_t mode = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::string data;
  bool long_name = false;  // came through a ././@LongLink entry
};

struct GzipFacts {
  uint32_t header_mtime = 0;
  unsigned char flags = 0;
};

// Inflates exactly one gzip member that must fill the whole input.
bool Gunzip(const std::string& compressed, std::string& tar, std::string& error,
            GzipFacts* facts = nullptr);
bool ReadTar(const std::string& tar, std::vector<TarItem>& items, std::string& error);
// Both steps; fails the calling test with the reason.
std::vector<TarItem> ReadArchiveBytes(const std::string& compressed);

std::string ReadWholeFile(const std::string& utf8_path);

}  // namespace mailsheaf::testing
