#include "mail/win32/file_calls.h"

namespace mailsheaf::archive_win32 {
namespace {

// SetFileInformationByHandle arrived with Vista; looked up at run time so that the program
// still starts on XP, where temporary files fall back to the cleanup of a later run.
using SetFileInformationByHandleFunction = decltype(&SetFileInformationByHandle);

SetFileInformationByHandleFunction SetInformationByHandle() {
  static const auto function = reinterpret_cast<SetFileInformationByHandleFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                             "SetFileInformationByHandle")));
  return function;
}

// GetFinalPathNameByHandleW arrived with Vista as well.
using FinalPathFunction = decltype(&GetFinalPathNameByHandleW);

FinalPathFunction FinalPathByHandle() {
  static const auto function = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  return function;
}

int64_t Ticks(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

}  // namespace

std::u16string LastErrorText() { return SystemErrorText(GetLastError()); }

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

int64_t UnixSeconds(const FILETIME& time) { return UnixSecondsFromTicks(Ticks(time)); }

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
// Marks an open file (opened with DELETE access) to go when its last handle closes, or clears
// the mark. False where the system cannot.
bool MarkForDeletion(HANDLE handle, bool marked) {
  const SetFileInformationByHandleFunction set = SetInformationByHandle();
  if (set == nullptr) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return set(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}



std::u16string FinalPath(HANDLE handle) {
  const FinalPathFunction function = FinalPathByHandle();
  if (function == nullptr) return {};
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      function(handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= buffer.size()) return {};
  std::u16string path = FromWide(buffer.data(), length);
  if (path.rfind(u"\\\\?\\UNC\\", 0) == 0) return u"\\\\" + path.substr(8);
  if (path.rfind(u"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

}  // namespace mailsheaf::archive_win32
