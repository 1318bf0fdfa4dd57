// The floor for the Windows packer: a bare walk that lists a tree with FindFirstFileW and reads
// every file whole with CreateFileW / ReadFile, one after the other, on one thread. It does
// what the packer cannot avoid doing through the file system and nothing else.
//
//   read_walk.exe FOLDER     prints "FILES files, FOLDERS folders, BYTES bytes, SECONDS s"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Totals {
  unsigned long long files = 0;
  unsigned long long folders = 0;
  unsigned long long bytes = 0;
};

bool Walk(const std::wstring& folder, std::vector<char>& buffer, Totals& totals) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ++totals.folders;
      ok = Walk(path, buffer, totals) && ok;
      continue;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      ok = false;
      continue;
    }
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0) {
      totals.bytes += got;
    }
    CloseHandle(file);
    ++totals.files;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_walk FOLDER\n");
    return 2;
  }
  std::wstring root = argv[1];
  while (root.size() > 3 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
  std::vector<char> buffer(256 * 1024);
  Totals totals;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const bool ok = Walk(L"\\\\?\\" + root, buffer, totals);
  QueryPerformanceCounter(&end);
  const double seconds =
      static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("%llu files, %llu folders, %llu bytes, %.3f s\n", totals.files, totals.folders,
              totals.bytes, seconds);
  return ok ? 0 : 1;
}
