// mailsheaf-pack.exe: wide arguments; Unicode on the console, UTF-8 when redirected; Ctrl+C,
// Ctrl+Break and closing the console stop the write or the upload; the upload's password
// prompt turns the console's echo off.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mail/file_system.h"
#include "base/text.h"
#include "base/win32/wide.h"
#include "cli/packer.h"

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_finished{false};

BOOL WINAPI OnConsoleControl(DWORD type) {
  g_interrupted = true;
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // The process ends when this returns: give the write time to clean up first.
    for (int i = 0; i < 100 && !g_finished; ++i) Sleep(50);
  }
  return TRUE;
}

class Win32Console final : public mailsheaf::Console {
 public:
  bool IsTerminal() const override { return terminal_; }
  int Width() const override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
      return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
  }
  void Out(const std::u16string& text) override { Put(STD_OUTPUT_HANDLE, out_failed_, text); }
  void Err(const std::u16string& text) override { Put(STD_ERROR_HANDLE, err_failed_, text); }

  bool ReadSecret(const std::u16string& prompt, std::string& secret) override {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return false;
    // Echo goes off before the prompt shows, so that a password typed as soon as it appears is
    // never shown; the input buffer is left as it is, so that nothing typed is thrown away.
    if (!SetConsoleMode(input, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) |
                                   ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT)) {
      return false;
    }
    Err(prompt);
    wchar_t buffer[1024];
    DWORD read = 0;
    const BOOL got = ReadConsoleW(input, buffer, 1024, &read, nullptr);
    SetConsoleMode(input, saved);
    Err(u"\n");
    std::u16string line;
    for (DWORD i = 0; got && i < read && buffer[i] != L'\r' && buffer[i] != L'\n'; ++i) {
      line.push_back(static_cast<char16_t>(buffer[i]));
    }
    SecureZeroMemory(buffer, sizeof buffer);
    secret = mailsheaf::Utf16ToUtf8(line);
    std::fill(line.begin(), line.end(), u'\0');
    return got && !secret.empty();
  }

  bool Variable(const char* name, std::string& value) const override {
    const std::wstring wide(name, name + std::strlen(name));
    const DWORD needed = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::wstring text(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide.c_str(), text.data(), needed);
    if (length == 0 || length >= needed) return false;
    text.resize(length);
    value = mailsheaf::Utf16ToUtf8(mailsheaf::FromWide(text.c_str()));
    return true;
  }

 private:
  static bool OutputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  }
  const bool terminal_ = OutputIsConsole();
  bool out_failed_ = false;
  bool err_failed_ = false;

  // Once a stream has failed (a pipe whose reader is gone) it is left alone: what it shows is a
  // courtesy, and the exit code still tells how the write went.
  static void Put(DWORD which, bool& failed, const std::u16string& text) {
    if (failed) return;
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
      failed = !WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written,
                              nullptr);
      return;
    }
    std::u16string crlf;
    for (char16_t c : text) {
      if (c == u'\n') crlf.push_back(u'\r');
      crlf.push_back(c);
    }
    const std::string bytes = mailsheaf::Utf16ToUtf8(crlf);
    failed =
        !WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size();
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(mailsheaf::FromWide(argv[i]));
  }
  Win32Console console;
  const int result =
      mailsheaf::RunPacker(arguments, console, mailsheaf::RealFileSystem(),
                           std::max(1u, std::thread::hardware_concurrency()), g_interrupted);
  g_finished = true;
  return result;
}
