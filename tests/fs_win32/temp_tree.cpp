#include "temp_tree.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace mailsheaf::testing {
namespace {

void RemoveWineHostLink(const std::wstring& link);
bool IsLinkedFolder(const std::wstring& path);

void RemoveTree(const std::wstring& longPath) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((longPath + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = longPath + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The link goes, never what it leads to.
        if (!RemoveDirectoryW(child.c_str()) && !DeleteFileW(child.c_str())) {
          RemoveWineHostLink(child.substr(4));
        }
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(longPath.c_str());
}

bool IsLinkedFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(Long(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(Long(link).c_str(), nullptr)) return false;
  HANDLE dir = CreateFileW(Long(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool made = false;
  if (dir != INVALID_HANDLE_VALUE) {
    // REPARSE_DATA_BUFFER for a mount point: the NT path, then an empty print name.
    const std::wstring ntTarget = L"\\??\\" + target;
    const WORD substituteBytes = static_cast<WORD>(ntTarget.size() * sizeof(wchar_t));
    std::vector<unsigned char> buffer(8 + 8 + substituteBytes + 2 * sizeof(wchar_t));
    auto put16 = [&](size_t at, WORD v) { std::memcpy(&buffer[at], &v, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, 4);
    put16(4, static_cast<WORD>(buffer.size() - 8));
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, static_cast<WORD>(substituteBytes + sizeof(wchar_t)));
    put16(14, 0);
    std::memcpy(&buffer[16], ntTarget.data(), substituteBytes);
    DWORD returned = 0;
    made = DeviceIoControl(dir, FSCTL_SET_REPARSE_POINT, buffer.data(),
                           static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr) != 0;
    CloseHandle(dir);
  }
  if (!made) RemoveDirectoryW(Long(link).c_str());
  return made && IsLinkedFolder(link);
}

bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target) {
  using Create = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
  const auto create = reinterpret_cast<Create>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "CreateSymbolicLinkW")));
  if (create == nullptr) return false;
  constexpr DWORD kDirectory = 0x1, kUnprivileged = 0x2;
  return create(link.c_str(), target.c_str(), kDirectory | kUnprivileged) && IsLinkedFolder(link);
}

// Wine runs POSIX programs through CreateProcess (not waited for through their handle), and its
// kernel32 names the POSIX path of a file.
using UnixName = char*(CDECL*)(LPCWSTR);

UnixName WineUnixName() {
  return reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
}

std::string UnixPath(UnixName unixName, const std::wstring& path) {
  char* name = unixName(path.c_str());
  std::string text = name != nullptr ? name : "";
  HeapFree(GetProcessHeap(), 0, name);
  return text;
}

bool RunHostProgram(const std::wstring& program, const std::string& commandLine) {
  std::wstring wide(commandLine.begin(), commandLine.end());  // the temporary folder's path is ASCII
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 200 && !done(); ++i) Sleep(10);
  return done();
}

bool MakeWineHostLink(const std::wstring& link, const std::wstring& target) {
  const UnixName unixName = WineUnixName();
  if (unixName == nullptr) return false;
  const std::string unixLink = UnixPath(unixName, link);
  const std::string unixTarget = UnixPath(unixName, target);
  if (unixLink.empty() || unixTarget.empty() ||
      !RunHostProgram(L"Z:\\bin\\ln", "/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"")) {
    return false;
  }
  return WaitFor([&] { return IsLinkedFolder(link); });
}

// Wine removes such a link neither as a folder nor as a file.
void RemoveWineHostLink(const std::wstring& link) {
  const UnixName unixName = WineUnixName();
  if (unixName == nullptr) return;
  const std::string unixLink = UnixPath(unixName, link);
  if (!unixLink.empty() && RunHostProgram(L"Z:\\bin\\rm", "/bin/rm -f \"" + unixLink + "\"")) {
    WaitFor([&] { return GetFileAttributesW(Long(link).c_str()) == INVALID_FILE_ATTRIBUTES; });
  }
}

}  // namespace

std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

TempTree::TempTree() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0) throw std::runtime_error("no temporary folder");
  root_ = std::wstring(temp, length);
  if (root_.back() == L'\\') root_.pop_back();
  root_ += L"\\mailsheaf-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount());
  static int serial = 0;
  root_ += L"-" + std::to_wstring(++serial);
  if (!CreateDirectoryW(Long(root_).c_str(), nullptr)) throw std::runtime_error("cannot make the tree");
}

TempTree::~TempTree() { RemoveTree(Long(root_)); }

void TempTree::Folder(const std::wstring& relative) const {
  std::wstring path = root_;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find(L'\\', start);
    if (end == std::wstring::npos) end = relative.size();
    path += L"\\" + relative.substr(start, end - start);
    CreateDirectoryW(Long(path).c_str(), nullptr);
    start = end + 1;
  }
}

void TempTree::File(const std::wstring& relative, unsigned long attributes) const {
  const size_t slash = relative.rfind(L'\\');
  if (slash != std::wstring::npos) Folder(relative.substr(0, slash));
  const std::wstring path = Long(root_ + L"\\" + relative);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make a file");
  const char message[] = "Subject: test\r\n\r\nbody\r\n";
  DWORD written = 0;
  WriteFile(file, message, sizeof message - 1, &written, nullptr);
  CloseHandle(file);
  if (attributes != 0) SetFileAttributesW(path.c_str(), attributes);
}

std::string TempTree::DirectoryLink(const std::wstring& relative, const std::wstring& target) const {
  const std::wstring link = root_ + L"\\" + relative;
  if (MakeJunction(link, target) || MakeSymbolicLink(link, target) ||
      MakeWineHostLink(link, target)) {
    return {};
  }
  return "neither a junction, a symbolic link nor (under Wine) a host link could be made here";
}

}  // namespace mailsheaf::testing
