// mailsheaf-pack for Linux: UTF-8 arguments and output; Ctrl+C (and SIGTERM) stop the write.

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "archive/file_system.h"
#include "base/text.h"
#include "cli/packer.h"

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

class PosixConsole final : public mailsheaf::Console {
 public:
  bool IsTerminal() const override { return terminal_; }
  int Width() const override {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
  }
  void Out(const std::u16string& text) override { Put(stdout, text); }
  void Err(const std::u16string& text) override { Put(stderr, text); }

 private:
  const bool terminal_ = ::isatty(STDOUT_FILENO) == 1;

  static void Put(std::FILE* stream, const std::u16string& text) {
    const std::string bytes = mailsheaf::Utf16ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
  }
};

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(mailsheaf::Utf8ToUtf16(argv[i]));
  PosixConsole console;
  return mailsheaf::RunPacker(arguments, console, mailsheaf::RealFileSystem(),
                              std::max(1u, std::thread::hardware_concurrency()), g_interrupted);
}
