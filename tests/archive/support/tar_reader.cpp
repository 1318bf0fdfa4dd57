#include "tests/archive/support/tar_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace mailsheaf::testing {
namespace {

bool Octal(const char* field, size_t width, uint64_t& value) {
  value = 0;
  size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  if (i < width && (static_cast<unsigned char>(field[i]) & 0x80)) return false;  // base-256
  bool any = false;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
    value = value * 8 + static_cast<uint64_t>(field[i] - '0');
    any = true;
  }
  for (; i < width; ++i) {
    if (field[i] != '\0' && field[i] != ' ') return false;
  }
  return any;
}

bool AllZero(const char* block) {
  for (size_t i = 0; i < 512; ++i) {
    if (block[i] != 0) return false;
  }
  return true;
}

}  // namespace

bool Gunzip(const std::string& compressed, std::string& tar, std::string& error,
            GzipFacts* facts) {
  tar.clear();
  if (compressed.size() < 18 || static_cast<unsigned char>(compressed[0]) != 0x1f ||
      static_cast<unsigned char>(compressed[1]) != 0x8b) {
    error = "not gzip";
    return false;
  }
  if (facts) {
    facts->flags = static_cast<unsigned char>(compressed[3]);
    uint32_t mtime = 0;
    for (int i = 0; i < 4; ++i) {
      mtime |= static_cast<uint32_t>(static_cast<unsigned char>(compressed[4 + i])) << (8 * i);
    }
    facts->header_mtime = mtime;
  }
  z_stream stream{};
  if (inflateInit2(&stream, 16 + 15) != Z_OK) {
    error = "inflateInit2";
    return false;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::vector<char> out(1 << 16);
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    result = inflate(&stream, Z_NO_FLUSH);
    tar.append(out.data(), out.size() - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  const uInt left = stream.avail_in;
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    error = "gzip stream does not end properly (" + std::to_string(result) + ")";
    return false;
  }
  if (left != 0) {
    error = std::to_string(left) + " bytes follow the first gzip member";
    return false;
  }
  return true;
}

bool ReadTar(const std::string& tar, std::vector<TarItem>& items, std::string& error) {
  items.clear();
  if (tar.size() % 512 != 0) {
    error = "tar size is not a multiple of 512";
    return false;
  }
  size_t pos = 0;
  std::string long_name;
  bool have_long_name = false;
  while (true) {
    if (pos + 512 > tar.size()) {
      error = "archive ends without two zero blocks";
      return false;
    }
    const char* block = tar.data() + pos;
    if (AllZero(block)) {
      if (pos + 1024 > tar.size() || !AllZero(block + 512)) {
        error = "a lone zero block";
        return false;
      }
      for (size_t rest = pos + 1024; rest < tar.size(); rest += 512) {
        if (!AllZero(tar.data() + rest)) {
          error = "data after the end of the archive";
          return false;
        }
      }
      break;
    }
    if (std::memcmp(block + 257, "ustar  \0", 8) != 0) {
      error = "magic is not GNU at offset " + std::to_string(pos);
      return false;
    }
    uint64_t checksum = 0;
    if (!Octal(block + 148, 8, checksum)) {
      error = "bad checksum field";
      return false;
    }
    uint64_t sum = 0;
    for (size_t i = 0; i < 512; ++i) {
      sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
    }
    if (sum != checksum) {
      error = "checksum mismatch at offset " + std::to_string(pos);
      return false;
    }
    TarItem item;
    uint64_t value = 0;
    if (!Octal(block + 100, 8, value)) return error = "mode", false;
    item.mode = static_cast<uint32_t>(value);
    if (!Octal(block + 108, 8, value)) return error = "uid", false;
    item.uid = static_cast<uint32_t>(value);
    if (!Octal(block + 116, 8, value)) return error = "gid", false;
    item.gid = static_cast<uint32_t>(value);
    if (!Octal(block + 124, 12, item.size)) return error = "size", false;
    if (!Octal(block + 136, 12, value)) return error = "mtime", false;
    item.mtime = static_cast<int64_t>(value);
    item.type = block[156];
    item.name.assign(block, strnlen(block, 100));
    pos += 512;
    if (pos + item.size > tar.size()) {
      error = "entry data runs past the end";
      return false;
    }
    std::string data = tar.substr(pos, item.size);
    pos += (item.size + 511) / 512 * 512;
    if (item.type == 'x' || item.type == 'g') {
      error = "pax header found";
      return false;
    }
    if (item.type == 'L') {
      if (item.name != "././@LongLink" || data.empty() || data.back() != '\0' ||
          data.find('\0') != data.size() - 1) {
        error = "bad long-name entry";
        return false;
      }
      long_name = data.substr(0, data.size() - 1);
      have_long_name = true;
      continue;
    }
    if (have_long_name) {
      if (long_name.compare(0, 100, item.name.substr(0, 100)) != 0 && item.name.size() == 100) {
        error = "long name and its short form disagree";
        return false;
      }
      item.name = long_name;
      item.long_name = true;
      have_long_name = false;
    }
    item.data = std::move(data);
    items.push_back(std::move(item));
  }
  if (have_long_name) {
    error = "long-name entry without an entry after it";
    return false;
  }
  return true;
}

std::vector<TarItem> ReadArchiveBytes(const std::string& compressed) {
  std::string tar, error;
  std::vector<TarItem> items;
  if (!Gunzip(compressed, tar, error)) {
    ADD_FAILURE() << "gunzip: " << error;
    return items;
  }
  if (!ReadTar(tar, items, error)) ADD_FAILURE() << "tar: " << error;
  return items;
}

std::string ReadWholeFile(const std::string& utf8_path) {
  std::ifstream in(utf8_path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace mailsheaf::testing
