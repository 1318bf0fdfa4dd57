// The message scan against a bare one-pass FindFirstFileW walk of the same tree, in the same run.
// The scan runs through a host that does what the window does: a PeekMessage yield on a real
// hidden window and SetWindowText on a real static control for every message.
//
//   scan_bench.exe [--files N] [--folders N] [--rounds N] [--root PATH] [--keep]
//
// Without --root a tree of N files spread evenly over N folders (20 top folders, the rest below
// them) is made in the temporary folder and removed afterwards unless --keep is given. With
// --root an existing tree is scanned as it is.

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/win32/wide.h"
#include "bench/support/stopwatch_win32.h"
#include "fs/capabilities.h"
#include "fs/message_scan.h"

namespace {

using mailsheaf::ScanHost;

double Now() { return mailsheaf::bench::Seconds(); }

std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

// --- the tree ----------------------------------------------------------------------------------

std::vector<std::wstring> FolderLayout(int folders) {
  const int top = std::min(folders, 20);
  std::vector<std::wstring> layout;
  for (int i = 0; i < top; ++i) layout.push_back(L"folder" + std::to_wstring(i));
  for (int i = 0; i < folders - top; ++i) {
    layout.push_back(layout[static_cast<size_t>(i % top)] + L"\\inner" + std::to_wstring(i));
  }
  return layout;
}

bool MakeTree(const std::wstring& root, int files, int folders) {
  if (!CreateDirectoryW(Long(root).c_str(), nullptr)) return false;
  const auto layout = FolderLayout(folders);
  for (const auto& folder : layout) {
    if (!CreateDirectoryW(Long(root + L"\\" + folder).c_str(), nullptr)) return false;
  }
  static const char message[] = "From: a@example.org\r\nSubject: bench\r\n\r\nbody\r\n";
  for (int i = 0; i < files; ++i) {
    const std::wstring& folder = layout[static_cast<size_t>(i) % layout.size()];
    const std::wstring path = root + L"\\" + folder + L"\\message" + std::to_wstring(i) + L".eml";
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, message, sizeof message - 1, &written, nullptr);
    CloseHandle(file);
  }
  return true;
}

void RemoveTree(const std::wstring& longPath) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((longPath + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(longPath + L"\\" + name);
      } else {
        DeleteFileW((longPath + L"\\" + name).c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(longPath.c_str());
}

// --- the two walks -----------------------------------------------------------------------------

struct WalkCounts {
  long files = 0;
  long folders = 0;
};

// One listing per folder, the attributes taken from the listing itself.
void BareWalk(const std::wstring& folder, WalkCounts& counts) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Long(folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> subfolders;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0) {
        subfolders.push_back(folder + L"\\" + data.cFileName);
        ++counts.folders;
      }
    } else {
      ++counts.files;
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  for (const auto& sub : subfolders) BareWalk(sub, counts);
}

// What the window does: the count line is a static control, a yield processes every pending
// message of the thread once. With checkFirst the yield asks GetQueueStatus before it peeks.
class WindowHost final : public ScanHost {
 public:
  explicit WindowHost(bool checkFirst) : check_first_(checkFirst) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MailsheafScanBench";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"scan bench", WS_OVERLAPPEDWINDOW,
                              0, 0, 400, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    label_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 360, 20, window_,
                             nullptr, windowClass.hInstance, nullptr);
  }
  ~WindowHost() override { DestroyWindow(window_); }
  WindowHost(const WindowHost&) = delete;
  WindowHost& operator=(const WindowHost&) = delete;

  void YieldToQueue() override {
    ++yields;
    if (check_first_ && HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0) return;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void SetCountCaption(const std::u16string& caption) override {
    ++captions;
    SetWindowTextW(label_, mailsheaf::WidePointer(caption));
  }

  bool ready() const { return label_ != nullptr; }

  // What one empty yield and one caption cost on their own, in seconds.
  double EmptyYieldCost() {
    constexpr int kCalls = 5000;
    YieldToQueue();
    const double start = Now();
    for (int i = 0; i < kCalls; ++i) YieldToQueue();
    return (Now() - start) / kCalls;
  }
  double CaptionCost() {
    constexpr int kCalls = 5000;
    const double start = Now();
    for (int i = 0; i < kCalls; ++i) {
      SetCountCaption(u"1234 Messages Queued for Conversion." + std::u16string(1, u'0' + i % 10));
    }
    return (Now() - start) / kCalls;
  }
  long yields = 0;
  long captions = 0;

 private:
  bool check_first_;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
};

// Nothing at all behind the scan: what its file-system work alone costs.
class NullHost final : public ScanHost {
 public:
  void YieldToQueue() override {}
  void SetCountCaption(const std::u16string&) override {}
};

double TimeScanAlone(const std::wstring& root) {
  NullHost host;
  std::u16string path(root.begin(), root.end());
  int32_t messages = 1;
  int32_t folders = 0;
  const double start = Now();
  mailsheaf::ScanMessageFolder(mailsheaf::PlatformSystem(), path, u"*.eml", messages, folders,
                               host);
  return Now() - start;
}

struct ScanRun {
  double seconds;
  int32_t messages;
  int32_t folders;
  long yields;
};

ScanRun TimeScan(const std::wstring& root, bool checkFirst) {
  WindowHost host(checkFirst);
  std::u16string path(root.begin(), root.end());
  int32_t messages = 1;
  int32_t folders = 0;
  const double start = Now();
  mailsheaf::ScanMessageFolder(mailsheaf::PlatformSystem(), path, u"*.eml", messages, folders,
                               host);
  return {Now() - start, messages - 1, folders, host.yields};
}

double Best(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int files = 50000;
  int folders = 500;
  int rounds = 3;
  bool keep = false;
  std::wstring root;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--files" && hasValue) files = std::stoi(argv[++i]);
    else if (arg == L"--folders" && hasValue) folders = std::stoi(argv[++i]);
    else if (arg == L"--rounds" && hasValue) rounds = std::max(1, std::stoi(argv[++i]));
    else if (arg == L"--root" && hasValue) root = argv[++i];
    else if (arg == L"--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: scan_bench [--files N] [--folders N] [--rounds N] [--root PATH] [--keep]\n");
      return 2;
    }
  }

  {
    WindowHost probe(true);
    if (!probe.ready()) {
      std::fprintf(stderr, "no window could be made (no display?)\n");
      return 1;
    }
  }

  bool made = false;
  if (root.empty()) {
    wchar_t temp[MAX_PATH + 1];
    std::wstring base(temp, GetTempPathW(MAX_PATH + 1, temp));
    root = base + L"mailsheaf-scan-bench-" + std::to_wstring(GetCurrentProcessId());
    const double start = Now();
    if (!MakeTree(root, files, folders)) {
      std::fprintf(stderr, "could not make the tree\n");
      RemoveTree(Long(root));
      return 1;
    }
    made = true;
    std::printf("tree: %d files in %d folders, made in %.1f s\n", files, folders, Now() - start);
  }
  std::printf("root: %ls\n", root.c_str());
  std::printf("wide calls in use: %s\n",
              mailsheaf::PlatformSystem().WideCallsInUse() ? "yes" : "no");

  // Alternate the walks so that both meet the same caches; keep each one's best round.
  std::vector<double> bare, scanChecked, scanPlain, scanAlone;
  WalkCounts walked;
  ScanRun checked{}, plain{};
  for (int round = 0; round < rounds; ++round) {
    walked = WalkCounts{};
    double start = Now();
    BareWalk(root, walked);
    bare.push_back(Now() - start);
    checked = TimeScan(root, true);
    scanChecked.push_back(checked.seconds);
    plain = TimeScan(root, false);
    scanPlain.push_back(plain.seconds);
    scanAlone.push_back(TimeScanAlone(root));
    std::printf("round %d: bare walk %.3f s, scan %.3f s, scan (peek only) %.3f s, "
                "scan (no window) %.3f s\n",
                round + 1, bare.back(), scanChecked.back(), scanPlain.back(), scanAlone.back());
  }

  std::printf("bare walk: %ld files, %ld folders\n", walked.files, walked.folders);
  std::printf("scan:      %d messages, %d folders, %ld yields\n", checked.messages, checked.folders,
              checked.yields);
  std::printf("best bare walk:                  %.3f s\n", Best(bare));
  std::printf("best scan (GetQueueStatus+peek): %.3f s  ratio %.2f\n", Best(scanChecked),
              Best(scanChecked) / Best(bare));
  std::printf("best scan (peek every yield):    %.3f s  ratio %.2f\n", Best(scanPlain),
              Best(scanPlain) / Best(bare));
  std::printf("best scan (no window at all):    %.3f s  ratio %.2f\n", Best(scanAlone),
              Best(scanAlone) / Best(bare));

  WindowHost costs(true);
  const double yieldCost = costs.EmptyYieldCost();
  const double captionCost = costs.CaptionCost();
  std::printf("one empty yield (GetQueueStatus): %.1f us x %ld yields = %.3f s\n", yieldCost * 1e6,
              checked.yields, yieldCost * static_cast<double>(checked.yields));
  std::printf("one caption (SetWindowTextW):     %.1f us x %d captions = %.3f s\n",
              captionCost * 1e6, checked.messages, captionCost * checked.messages);

  if (made && !keep) RemoveTree(Long(root));
  LocalFree(argv);
  const bool agree = checked.messages == walked.files && checked.folders == walked.folders;
  if (!agree) std::printf("the counts differ!\n");
  return agree ? 0 : 1;
}
