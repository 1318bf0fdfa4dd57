// The system table of the native build: the file calls behave like those of the NT platform
// over the POSIX file system, so the services run natively on real folders. Backslashes in
// paths stand for "/", the long-path prefix is dropped, the ANSI code page is UTF-8, and a
// symbolic link carries the reparse-point attribute.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "base/ansi_text.h"
#include "base/text.h"
#include "fs/system_calls.h"
#include "base/wildcard_match.h"

namespace mailsheaf {
namespace {

// Windows 7 SP1 as GetVersion reports it: bit 31 clear, the NT platform.
constexpr uint32_t kNtVersion = (7601u << 16) | (1u << 8) | 6u;

void VersionExport() {}

std::u16string FromLongPathBuffer(const unsigned char* buffer) {
  std::u16string text;
  for (size_t i = 0;; i += 2) {
    const auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

std::string ToPosixPath(std::u16string path) {
  const std::u16string unc = u"\\\\?\\UNC\\";
  const std::u16string local = u"\\\\?\\";
  if (path.starts_with(unc)) {
    path = u"\\\\" + path.substr(unc.size());
  } else if (path.starts_with(local)) {
    path = path.substr(local.size());
  }
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return Utf16ToUtf8(path);
}

uint32_t AttributesOf(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    return kInvalidFileAttributes;
  }
  struct stat target = link;
  uint32_t attributes = 0;
  if (S_ISLNK(link.st_mode)) {
    attributes |= kFileAttributeReparsePoint;
    if (::stat(path.c_str(), &target) != 0) {
      target = link;
    }
  }
  attributes |= S_ISDIR(target.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
  return attributes;
}

struct Listing {
  DIR* dir;
  std::string folder;  // ends in "/"
  std::u16string pattern;
};

template <typename Data>
void FillName(const std::u16string& name, Data& data);

template <>
void FillName(const std::u16string& name, FindDataW& data) {
  const size_t units = std::min<size_t>(name.size(), kMaxPath - 1);
  std::copy_n(name.begin(), units, data.cFileName);
  data.cFileName[units] = u'\0';
}

template <>
void FillName(const std::u16string& name, FindDataA& data) {
  const std::string bytes = Utf16ToUtf8(name);
  const size_t count = std::min<size_t>(bytes.size(), kMaxPath - 1);
  std::memcpy(data.cFileName, bytes.data(), count);
  data.cFileName[count] = '\0';
}

class PosixCalls final : public SystemCalls {
 public:
  ModuleHandle LoadLibraryA(const char* name) override {
    const std::string wanted = name;
    return wanted == "kernel32" || wanted == "kernel32.dll" ? static_cast<void*>(&modules_)
                                                            : nullptr;
  }

  ProcAddress GetProcAddress(ModuleHandle module, const char* name) override {
    const std::string wanted = name;
    const bool known = wanted == "GetVersionExA" || wanted == "GetVersionExW" || wanted == "GetVersion";
    return module == &modules_ && known ? &VersionExport : nullptr;
  }

  int32_t FreeLibrary(ModuleHandle module) override { return module == &modules_ ? 1 : 0; }

  int32_t GetVersionExW(OsVersionInfoW& info) override { return FillVersion(info, 276); }
  int32_t GetVersionExA(OsVersionInfoA& info) override { return FillVersion(info, 148); }
  uint32_t GetVersion() override { return kNtVersion; }

  FindHandle FindFirstFileW(const unsigned char* path, FindDataW& data) override {
    return FindFirst(FromLongPathBuffer(path), data);
  }

  FindHandle FindFirstFileA(const char* path, FindDataA& data) override {
    return FindFirst(Utf8ToUtf16(path), data);
  }

  int32_t FindNextFileW(FindHandle handle, FindDataW& data) override { return FindNext(handle, data); }
  int32_t FindNextFileA(FindHandle handle, FindDataA& data) override { return FindNext(handle, data); }

  int32_t FindClose(FindHandle handle) override {
    const auto it = listings_.find(handle);
    if (it == listings_.end()) {
      return 0;
    }
    ::closedir(it->second.dir);
    listings_.erase(it);
    return 1;
  }

  uint32_t GetFileAttributesW(const unsigned char* path) override {
    return AttributesOf(ToPosixPath(FromLongPathBuffer(path)));
  }

  uint32_t GetFileAttributesA(const char* path) override {
    return AttributesOf(ToPosixPath(Utf8ToUtf16(path)));
  }

  std::string WideToAnsi(std::u16string_view text) override { return ToAnsiCodePage(text); }
  std::u16string AnsiToWide(std::string_view bytes) override { return FromAnsiCodePage(bytes); }

  bool FolderIdentityW(const unsigned char* path, FileIdentity& identity) override {
    return Identity(ToPosixPath(FromLongPathBuffer(path)), identity);
  }

  bool FolderIdentityA(const char* path, FileIdentity& identity) override {
    return Identity(ToPosixPath(Utf8ToUtf16(path)), identity);
  }

 private:
  template <typename Info>
  static int32_t FillVersion(Info& info, uint32_t expectedSize) {
    if (info.dwOSVersionInfoSize != expectedSize) {
      return 0;
    }
    info.dwMajorVersion = 6;
    info.dwMinorVersion = 1;
    info.dwBuildNumber = 7601;
    info.dwPlatformId = kPlatformNT;
    return 1;
  }

  static bool Identity(const std::string& path, FileIdentity& identity) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      return false;
    }
    identity.volume = static_cast<uint64_t>(info.st_dev);
    identity.index = static_cast<uint64_t>(info.st_ino);
    return true;
  }

  template <typename Data>
  FindHandle FindFirst(const std::u16string& searchPath, Data& data) {
    const auto slash = searchPath.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? u"." : searchPath.substr(0, slash + 1);
    Listing listing{nullptr, ToPosixPath(folder), searchPath.substr(slash + 1)};
    if (!listing.folder.ends_with('/')) {
      listing.folder.push_back('/');
    }
    listing.dir = ::opendir(listing.folder.c_str());
    if (listing.dir == nullptr) {
      return kInvalidSearchHandle;
    }
    if (!Advance(listing, data)) {
      ::closedir(listing.dir);
      return kInvalidSearchHandle;
    }
    const FindHandle handle = next_handle_++;
    listings_.emplace(handle, listing);
    return handle;
  }

  template <typename Data>
  int32_t FindNext(FindHandle handle, Data& data) {
    const auto it = listings_.find(handle);
    return it != listings_.end() && Advance(it->second, data) ? 1 : 0;
  }

  // Moves to the next entry that the pattern matches and describes it.
  template <typename Data>
  static bool Advance(Listing& listing, Data& data) {
    while (const dirent* entry = ::readdir(listing.dir)) {
      const std::u16string name = Utf8ToUtf16(entry->d_name);
      if (MatchesWildcard(name, listing.pattern)) {
        data.dwFileAttributes = AttributesOf(listing.folder + entry->d_name);
        FillName(name, data);
        return true;
      }
    }
    return false;
  }

  int modules_ = 0;  // its address is the one module handle handed out
  std::map<FindHandle, Listing> listings_;
  FindHandle next_handle_ = 1;
};

}  // namespace

SystemCalls& PlatformSystemCalls() {
  static PosixCalls calls;
  return calls;
}

}  // namespace mailsheaf
