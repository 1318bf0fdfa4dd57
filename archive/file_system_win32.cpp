// The Windows file system: every call takes the wide form and the long-path buffer, so that
// names outside the ANSI code page and paths past 260 characters work alike.

#include <windows.h>

#include <string>

#include "archive/file_system.h"
#include "archive/temporary_name.h"
#include "base/path_forms.h"
#include "base/win32/wide.h"

namespace mailsheaf {
namespace {

// The buffer LongPathBuffer builds is UTF-16LE with its NUL, which is what a wide call reads.
class WidePath {
 public:
  explicit WidePath(const std::u16string& path) : bytes_(LongPathBuffer(path)) {}
  const wchar_t* get() const { return WidePointer(bytes_); }

 private:
  std::vector<unsigned char> bytes_;
};

std::u16string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (length > 0 && buffer != nullptr) {
    text = FromWide(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' ||
                             text.back() == u' ' || text.back() == u'.')) {
      text.pop_back();
    }
  }
  if (text.empty()) {
    const std::string digits = std::to_string(code);
    text = u"System error " + std::u16string(digits.begin(), digits.end());
  }
  return text;
}

std::u16string LastErrorText() { return SystemErrorText(GetLastError()); }

int64_t UnixSeconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  constexpr uint64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  return static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
}

// What a message's handle says of it. The change time moves with any rewrite, even one of the
// same length within the same second.
struct FileStamp {
  uint64_t size = 0;
  int64_t last_write = 0;  // 100 ns ticks since 1601
  int64_t change = 0;
  bool folder = false;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

using GetFileInformationByHandleExCall = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID,
                                                       DWORD);

// Looked up at run time: Windows before Vista lacks it. It also answers without asking for the
// volume's serial number, which GetFileInformationByHandle does on every call (a round trip to
// Wine's mount manager there).
GetFileInformationByHandleExCall InformationByHandleEx() {
  static const auto call = reinterpret_cast<GetFileInformationByHandleExCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                             "GetFileInformationByHandleEx")));
  return call;
}

int64_t Ticks(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

bool ReadStamp(HANDLE handle, FileStamp& stamp) {
  if (const GetFileInformationByHandleExCall ex = InformationByHandleEx()) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!ex(handle, FileBasicInfo, &basic, sizeof basic) ||
        !ex(handle, FileStandardInfo, &standard, sizeof standard)) {
      return false;
    }
    stamp.size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
    stamp.last_write = basic.LastWriteTime.QuadPart;
    stamp.change = basic.ChangeTime.QuadPart;
    stamp.folder = standard.Directory != FALSE;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.last_write = Ticks(info.ftLastWriteTime);
  stamp.change = stamp.last_write;
  stamp.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

int64_t UnixSecondsFromTicks(int64_t ticks) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  return ticks / kTicksPerSecond - kSecondsFrom1601To1970;
}

class Win32ReadableFile final : public ReadableFile {
 public:
  Win32ReadableFile(HANDLE handle, const FileStamp& stamp) : handle_(handle), stamp_(stamp) {}
  ~Win32ReadableFile() override { CloseHandle(handle_); }

  int64_t Read(unsigned char* buffer, size_t capacity, std::u16string& error) override {
    const DWORD want = capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, want, &got, nullptr)) {
      error = LastErrorText();
      return -1;
    }
    return got;
  }

  bool Rewind(std::u16string& error) override {
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(handle_, zero, nullptr, FILE_BEGIN)) return true;
    error = LastErrorText();
    return false;
  }

  uint64_t Size() const override { return stamp_.size; }
  int64_t ModifiedTime() const override { return UnixSecondsFromTicks(stamp_.last_write); }

  bool Unchanged(bool& unchanged, std::u16string& error) override {
    FileStamp now;
    if (!ReadStamp(handle_, now)) {
      error = LastErrorText();
      return false;
    }
    unchanged = now == stamp_;
    return true;
  }

 private:
  HANDLE handle_;
  FileStamp stamp_;
};

// SetFileInformationByHandle arrived with Vista; looked up at run time so that the program
// still starts on XP, where temporary files fall back to the cleanup of a later run.
using SetFileInformationByHandleFunction = decltype(&SetFileInformationByHandle);

SetFileInformationByHandleFunction SetInformationByHandle() {
  static const auto function = reinterpret_cast<SetFileInformationByHandleFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                             "SetFileInformationByHandle")));
  return function;
}

// Marks an open file (opened with DELETE access) to go when its last handle closes, or clears
// the mark. False where the system cannot.
bool MarkForDeletion(HANDLE handle, bool marked) {
  const SetFileInformationByHandleFunction set = SetInformationByHandle();
  if (set == nullptr) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return set(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

std::u16string FolderOf(const std::u16string& path) {
  return path.substr(0, path.rfind(u'\\') + 1);
}

// A temporary file, open without sharing so that no other run can delete it, and marked to go
// with its handle, so that a process ended by any means leaves nothing. Commit clears the mark
// and closes it: a file open for writing cannot be moved.
class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(HANDLE handle, std::u16string path, bool marked)
      : handle_(handle), path_(std::move(path)), marked_(marked) {}
  ~Win32WritableFile() override { Close(); }

  bool Write(const unsigned char* data, size_t size, std::u16string& error) override {
    while (size > 0) {
      const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD put = 0;
      if (!WriteFile(handle_, data, chunk, &put, nullptr)) {
        error = LastErrorText();
        return false;
      }
      data += put;
      size -= put;
    }
    return true;
  }

  bool Commit(std::u16string& error) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      error = u"The file is closed";
      return false;
    }
    if (!FlushFileBuffers(handle_) || (marked_ && !MarkForDeletion(handle_, false))) {
      error = LastErrorText();
      Close();
      return false;
    }
    marked_ = false;
    committed_ = true;
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) {
      error = LastErrorText();
      Close();
      return false;
    }
    return true;
  }

  bool MoveOver(const std::u16string& name, std::u16string& error) override {
    if (!committed_) {
      error = u"The file is not complete";
      Close();
      return false;
    }
    if (!MoveFileExW(WidePath(path_).get(), WidePath(FolderOf(path_) + name).get(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = LastErrorText();
      Close();
      return false;
    }
    committed_ = false;
    return true;
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
      if (!marked_) DeleteFileW(WidePath(path_).get());
    } else if (committed_) {
      DeleteFileW(WidePath(path_).get());
    }
    committed_ = false;
  }

 private:
  HANDLE handle_;
  std::u16string path_;
  bool marked_;
  bool committed_ = false;
};

class Win32FileSystem final : public ArchiveFileSystem {
 public:
  char16_t Separator() const override { return u'\\'; }

  std::u16string AbsolutePath(const std::u16string& path) const override {
    if (path.empty()) return path;
    std::u16string plain = path;
    if (plain.rfind(u"\\\\?\\UNC\\", 0) == 0) {
      plain = u"\\\\" + plain.substr(8);
    } else if (plain.rfind(u"\\\\?\\", 0) == 0) {
      plain = plain.substr(4);
    }
    const wchar_t* text = WidePointer(plain);
    const DWORD needed = GetFullPathNameW(text, 0, nullptr, nullptr);
    if (needed == 0) return plain;
    std::u16string full(needed, u'\0');
    const DWORD length = GetFullPathNameW(text, needed, WideBuffer(full), nullptr);
    if (length == 0 || length >= needed) return plain;
    full.resize(length);
    return full;
  }

  bool SameName(const std::u16string& a, const std::u16string& b) const override {
    return CompareStringOrdinal(WidePointer(a), static_cast<int>(a.size()), WidePointer(b),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
  }

  bool IsFolder(const std::u16string& path) const override {
    const DWORD attributes = GetFileAttributesW(WidePath(path).get());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool Exists(const std::u16string& path) const override {
    return GetFileAttributesW(WidePath(path).get()) != INVALID_FILE_ATTRIBUTES;
  }

  bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries,
                  std::u16string& error) override {
    entries.clear();
    std::u16string pattern = path;
    if (pattern.empty() || pattern.back() != u'\\') pattern.push_back(u'\\');
    pattern.push_back(u'*');
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW(WidePath(pattern).get(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND) return true;  // an empty drive root lists nothing
      error = SystemErrorText(code);
      return false;
    }
    bool ok = true;
    for (;;) {
      std::u16string name = FromWide(data.cFileName);
      if (name != u"." && name != u"..") {
        FolderEntry entry;
        entry.name = std::move(name);
        entry.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.mtime = UnixSeconds(data.ftLastWriteTime);
        entries.push_back(std::move(entry));
      }
      if (!FindNextFileW(find, &data)) {
        const DWORD code = GetLastError();
        if (code != ERROR_NO_MORE_FILES) {
          error = SystemErrorText(code);
          ok = false;
        }
        break;
      }
    }
    FindClose(find);
    return ok;
  }

  Lookup FolderIdentity(const std::u16string& path, FileIdentity& identity,
                        std::u16string& error) override {
    const HANDLE handle =
        CreateFileW(WidePath(path).get(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      error = SystemErrorText(code);
      // Nothing at the end of the link, as opposed to something that cannot be reached now.
      const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
                           code == ERROR_CANT_RESOLVE_FILENAME;
      return missing ? Lookup::kMissing : Lookup::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    if (!ok) error = LastErrorText();
    CloseHandle(handle);
    if (!ok) return Lookup::kFailed;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return Lookup::kFound;
  }

  std::unique_ptr<ReadableFile> OpenRead(const std::u16string& path,
                                         std::u16string& error) override {
    const HANDLE handle =
        CreateFileW(WidePath(path).get(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastErrorText();
      return nullptr;
    }
    FileStamp stamp;
    if (!ReadStamp(handle, stamp)) {
      error = LastErrorText();
      CloseHandle(handle);
      return nullptr;
    }
    if (stamp.folder) {
      error = u"Not a file";
      CloseHandle(handle);
      return nullptr;
    }
    return std::make_unique<Win32ReadableFile>(handle, stamp);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path,
                                          std::u16string& error) override {
    const HANDLE handle = CreateFileW(WidePath(path).get(), GENERIC_WRITE | DELETE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastErrorText();
      return nullptr;
    }
    return std::make_unique<Win32WritableFile>(handle, path, MarkForDeletion(handle, true));
  }

  void RemoveStaleFiles(const std::u16string& folder) override {
    std::u16string prefix = folder;
    if (prefix.empty() || prefix.back() != u'\\') prefix.push_back(u'\\');
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW(WidePath(prefix + u"*").get(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::u16string> candidates;
    do {
      const std::u16string name = FromWide(data.cFileName);
      if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
              0 &&
          IsTemporaryName(name)) {
        candidates.push_back(name);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    for (const std::u16string& name : candidates) RemoveIfStale(prefix + name);
  }

 private:
  // A running write holds its file open without sharing, so this open fails on it. Opened with
  // no sharing ourselves, the file cannot change between the look at its start and the removal.
  static void RemoveIfStale(const std::u16string& path) {
    const HANDLE handle =
        CreateFileW(WidePath(path).get(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    unsigned char head[2];
    DWORD got = 0;
    const bool ours = ReadFile(handle, head, sizeof head, &got, nullptr) &&
                      IsTemporaryContent(head, got);
    const bool marked = ours && MarkForDeletion(handle, true);
    CloseHandle(handle);
    if (ours && !marked) DeleteFileW(WidePath(path).get());
  }
};

}  // namespace

ArchiveFileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
}

}  // namespace mailsheaf
