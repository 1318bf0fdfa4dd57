#include "tests/support/win_tree_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "base/path_forms.h"
#include "base/text.h"
#include "base/win32/wide.h"

namespace mailsheaf::testing {
namespace {

void MakeFolder(const std::u16string& path) { CreateDirectoryW(WidePointer(LongPathBuffer(path)), nullptr); }

void RemoveTree(const std::u16string& path) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(WidePointer(LongPathBuffer(path + u"\\*")), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::u16string name = FromWide(data.cFileName);
      if (name == u"." || name == u"..") continue;
      const std::u16string child = path + u"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(WidePointer(LongPathBuffer(child)));
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(WidePointer(LongPathBuffer(path)));
}

}  // namespace

WinTree::WinTree() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  root_ = FromWide(temp);
  EnsureTrailingBackslash(root_);
  root_ += u"mailsheaf-" + DecimalText(GetCurrentProcessId()) + u"-" +
           DecimalText(static_cast<long long>(GetTickCount()));
  MakeFolder(root_);
}

WinTree::~WinTree() { RemoveTree(root_); }

void WinTree::Folder(const std::u16string& relative) const {
  std::u16string path = root_;
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = std::min(relative.find(u'\\', start), relative.size());
    path.push_back(u'\\');
    path.append(relative, start, end - start);
    MakeFolder(path);
    start = end + 1;
  }
}

void WinTree::Write(const std::u16string& relative, const std::string& content) const {
  const size_t cut = relative.rfind(u'\\');
  if (cut != std::u16string::npos) Folder(relative.substr(0, cut));
  const HANDLE file = CreateFileW(WidePointer(LongPathBuffer(Path(relative))), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf16ToUtf8(relative);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, content.size()) << Utf16ToUtf8(relative);
}

std::string WinTree::Read(const std::u16string& path) const {
  const HANDLE file = CreateFileW(WidePointer(LongPathBuffer(path)), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  CloseHandle(file);
  return content;
}

std::vector<std::u16string> WinTree::NamesIn(const std::u16string& relative) const {
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(WidePointer(LongPathBuffer(Path(relative) + u"\\*")), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::u16string name = FromWide(data.cFileName);
    if (name != u"." && name != u"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

}  // namespace mailsheaf::testing
