// No run of the writer, however it ends, leaves a file in the destination's folder that a later
// run keeps: on real Windows folders (under Wine in the build), where the temporary file is
// marked to go with its handle until it is committed.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "mail/file_system.h"
#include "archive/tar_archive.h"
#include "mail/temporary_name.h"
#include "base/path_forms.h"
#include "base/text.h"
#include "base/win32/wide.h"
#include "tests/archive/archive_test_helpers.h"
#include "tests/support/win_tree_win32.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

std::u16string PackerPath() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::u16string path = FromWide(self);
  path.resize(path.find_last_of(u"\\/") + 1);
  for (const char* c = MAILSHEAF_PACK_FROM_TEST; *c; ++c) {
    path.push_back(*c == '/' ? u'\\' : static_cast<char16_t>(*c));
  }
  return path;
}

// A leftover as it is once the run that made it is long gone.
void Age(const std::u16string& path) {
  const HANDLE file = CreateFileW(WidePointer(LongPathBuffer(path)), FILE_WRITE_ATTRIBUTES, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
  ticks.QuadPart -= 2ULL * kLeftoverAge * 10000000ULL;
  const FILETIME then{ticks.LowPart, ticks.HighPart};
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &then));
  CloseHandle(file);
}

// A file opened as a running write opens its temporary file: for writing, shared with no one.
HANDLE HoldOpen(const std::u16string& path) {
  return CreateFileW(WidePointer(LongPathBuffer(path)), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The packer in a child process, its standard output on a pipe.
class PackerProcess {
 public:
  PackerProcess(const std::u16string& source, const std::u16string& destination) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write_end = nullptr;
    if (!CreatePipe(&output_, &write_end, &inherit, 0)) return;
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::u16string command;
    for (const std::u16string& argument : {PackerPath(), source, destination}) {
      command.append(command.empty() ? u"\"" : u" \"").append(argument).push_back(u'"');
    }
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, WideBuffer(command), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                       nullptr, nullptr, &startup, &process)) {
      process_ = process.hProcess;
      CloseHandle(process.hThread);
    }
    CloseHandle(write_end);
  }
  ~PackerProcess() {
    if (process_ != nullptr) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, INFINITE);
      CloseHandle(process_);
    }
    if (output_ != nullptr) CloseHandle(output_);
  }

  bool started() const { return process_ != nullptr; }

  // The first line the packer writes ("0%  0 B" once the archive's file is open).
  std::string FirstLine() {
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(output_, &c, 1, &got, nullptr) && got == 1 && c != '\n') line.push_back(c);
    return line;
  }
  // Reads the output to its end; the exit code once the process has ended.
  DWORD Finish() {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }
  void Terminate() {
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, INFINITE);
  }

 private:
  HANDLE process_ = nullptr;
  HANDLE output_ = nullptr;
};

TEST(WindowsLeftovers, TerminatedPackerLeavesNothingAndTheNextRunSucceeds) {
  WinTree tree;
  std::string noise(4 << 20, '\0');
  uint32_t state = 1;
  for (int file = 0; file < 12; ++file) {
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    tree.Write(u"src\\m" + DecimalText(file) + u".eml", noise);
  }
  tree.Write(u"out\\mail.tgz", "the previous archive");
  {
    PackerProcess packer(tree.Path(u"src"), tree.Path(u"out\\mail.tgz"));
    ASSERT_TRUE(packer.started());
    ASSERT_THAT(packer.FirstLine(), HasSubstr("0%")) << "the packer never started writing";
    packer.Terminate();
  }
  EXPECT_THAT(tree.NamesIn(u"out"), ElementsAre(u"mail.tgz"));
  EXPECT_EQ(tree.Read(tree.Path(u"out\\mail.tgz")), "the previous archive");

  PackerProcess again(tree.Path(u"src"), tree.Path(u"out\\mail.tgz"));
  ASSERT_TRUE(again.started());
  EXPECT_EQ(again.Finish(), 0u);
  EXPECT_THAT(tree.NamesIn(u"out"), ElementsAre(u"mail.tgz"));
  EXPECT_EQ(ReadArchiveBytes(tree.Read(tree.Path(u"out\\mail.tgz"))).size(), 12u);
}

TEST(WindowsLeftovers, TemporaryFileIsHeldWhileWrittenAndGoesWithItsHandle) {
  WinTree tree;
  tree.Folder(u"out");
  const std::u16string path = tree.Path(u"out\\.mailsheaf-0123abcd-mail.tgz");
  std::u16string error;
  std::unique_ptr<WritableFile> file = RealFileSystem().CreateNew(path, error);
  ASSERT_TRUE(file) << Utf16ToUtf8(error);
  const unsigned char gzip[] = {0x1f, 0x8b};
  ASSERT_TRUE(file->Write(gzip, sizeof gzip, error));
  RealFileSystem().RemoveStaleFiles(tree.Path(u"out"));
  EXPECT_FALSE(DeleteFileW(WidePointer(LongPathBuffer(path)))) << "held by the writer";
  file.reset();
  EXPECT_TRUE(tree.NamesIn(u"out").empty());
}

TEST(WindowsLeftovers, OnlyDeadFilesOfOursGo) {
  WinTree tree;
  tree.Write(u"out\\mail.tgz", "an archive");
  for (const char16_t* name : {u".mailsheaf-0123abcd-mail.tgz", u".mailsheaf-89abcdef-report.txt",
                               u".mailsheaf-11111111-held.tgz", u"backup.tgz.part00000000"}) {
    tree.Write(u"out\\" + std::u16string(name), kGzipStart);
    Age(tree.Path(u"out\\" + std::u16string(name)));
  }
  tree.Write(u"out\\.mailsheaf-22222222-live.tgz", kGzipStart);
  tree.Folder(u"out\\.mailsheaf-33333333-folder");
  const HANDLE held = HoldOpen(tree.Path(u"out\\.mailsheaf-11111111-held.tgz"));
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  RealFileSystem().RemoveStaleFiles(tree.Path(u"out\\"));
  CloseHandle(held);
  EXPECT_THAT(tree.NamesIn(u"out"),
              UnorderedElementsAre(u"mail.tgz", u".mailsheaf-11111111-held.tgz",
                                   u".mailsheaf-22222222-live.tgz", u"backup.tgz.part00000000",
                                   u".mailsheaf-33333333-folder"));
}

TEST(WindowsLeftovers, LongestDestinationNameWorks) {
  WinTree tree;
  tree.Write(u"src\\a.eml", kGzipStart);
  tree.Folder(u"out");
  const std::u16string name = std::u16string(251, u'n') + u".tgz";
  RecordingEvents events;
  TarArchive archive(&events);
  ASSERT_EQ(archive.AddRootFolder(tree.Path(u"src")), 1);
  EXPECT_EQ(archive.WriteCompressedArchive(tree.Path(u"out\\" + name)), 1)
      << Utf16ToUtf8(archive.LastErrorText());
  EXPECT_THAT(tree.NamesIn(u"out"), ElementsAre(name));
}

}  // namespace
}  // namespace mailsheaf::testing
