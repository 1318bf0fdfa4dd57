// The Windows file system: every call takes the wide form and the long-path buffer, so that
// names outside the ANSI code page and paths past 260 characters work alike.

#include <windows.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "mail/file_system.h"
#include "mail/temporary_name.h"
#include "mail/win32/file_calls.h"
#include "base/path_forms.h"
#include "base/win32/wide.h"

namespace mailsheaf {
namespace {

using namespace archive_win32;

class Win32FileSystem final : public FileSystem {
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
    EnsureTrailingBackslash(pattern);
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
    return MakeReadableFile(handle, stamp);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path,
                                          std::u16string& error) override {
    const HANDLE handle = CreateFileW(WidePath(path).get(), GENERIC_WRITE | DELETE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastErrorText();
      return nullptr;
    }
    return MakeWritableFile(handle, path, MarkForDeletion(handle, true));
  }

  bool WriteTarget(const std::u16string& path, std::u16string& target,
                   std::u16string& error) override {
    target = path;
    const HANDLE handle = CreateFileW(WidePath(path).get(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;  // nothing there yet, or the write says why
    const DWORD type = GetFileType(handle);
    const DWORD attributes = GetFileAttributesW(WidePath(path).get());
    std::u16string final_path;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      final_path = FinalPath(handle);
    }
    CloseHandle(handle);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
      error = NotAFile(path);
      return false;
    }
    if (!final_path.empty()) target = final_path;
    return true;
  }

  bool RemoveFile(const std::u16string& path, std::u16string& error) override {
    if (DeleteFileW(WidePath(path).get())) return true;
    error = LastErrorText();
    return false;
  }

  // A mutex named after the destination (case-blind, as its file system is), in this session's
  // namespace: every run putting an archive there waits its turn, whichever process it is in.
  std::unique_ptr<PlacingLock> LockPlacing(const std::u16string& destination) override {
    class MutexLock final : public PlacingLock {
     public:
      explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
      ~MutexLock() override {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
      }

     private:
      HANDLE mutex_;
    };
    uint64_t digest = 0xcbf29ce484222325ull;  // FNV-1a: a path may be longer than a name can be
    for (char16_t c : destination) {
      const char16_t upper = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
      digest = (digest ^ upper) * 0x100000001b3ull;
    }
    std::u16string name = u"Local\\Mailsheaf-placing-";
    for (int shift = 60; shift >= 0; shift -= 4) name += u"0123456789abcdef"[(digest >> shift) & 15];
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, WidePointer(name));
    if (mutex == nullptr) return nullptr;
    const DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      CloseHandle(mutex);
      return nullptr;
    }
    return std::make_unique<MutexLock>(mutex);
  }

  void RemoveStaleFiles(const std::u16string& folder) override {
    std::u16string prefix = folder;
    EnsureTrailingBackslash(prefix);
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
    for (const std::u16string& name : candidates) RemoveIfStale(prefix + name, name);
  }

 private:
  // A running write holds its file open without sharing, so this open fails on it. Opened with
  // no sharing ourselves, the file cannot change between the look at it and the removal.
  static void RemoveIfStale(const std::u16string& path, const std::u16string& name) {
    const HANDLE handle =
        CreateFileW(WidePath(path).get(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    LeftoverFile file;
    if (GetFileInformationByHandle(handle, &info)) {
      file.regular = (info.dwFileAttributes &
                      (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                     GetFileType(handle) == FILE_TYPE_DISK;
      file.modified = UnixSeconds(info.ftLastWriteTime);
    }
    const bool dead = IsDeadLeftover(name, file, std::time(nullptr));
    const bool marked = dead && MarkForDeletion(handle, true);
    CloseHandle(handle);
    if (dead && !marked) DeleteFileW(WidePath(path).get());
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
}

}  // namespace mailsheaf
