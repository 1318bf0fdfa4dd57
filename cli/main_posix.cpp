// mailsheaf-pack for Linux: UTF-8 arguments and output; Ctrl+C (and SIGTERM) stop the write or
// the upload; the upload's password prompt turns the terminal's echo off.
// A closed output (`mailsheaf-pack ... | head -1`) or a file-size limit is a failed write, not a
// signal that ends the process half-way.

#include <signal.h>
#include <termios.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "mail/file_system.h"
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
  void Out(const std::u16string& text) override { Put(stdout, out_failed_, text); }
  void Err(const std::u16string& text) override { Put(stderr, err_failed_, text); }

  bool ReadSecret(const std::u16string& prompt, std::string& secret) override {
    if (::isatty(STDIN_FILENO) != 1) return false;
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off before the prompt shows, so that a password typed as soon as it appears is
    // never shown; TCSANOW, not TCSAFLUSH, so that nothing typed already is thrown away.
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) return false;
    Err(prompt);
    secret.clear();
    char c = 0;
    bool ended = false;
    while (secret.size() < 4096) {
      const ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR && !g_interrupted) continue;
      if (got != 1 || c == '\n') {
        ended = got == 1;
        break;
      }
      secret += c;
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    return ended && !secret.empty();
  }

  bool Variable(const char* name, std::string& value) const override {
    const char* found = std::getenv(name);
    if (found == nullptr) return false;
    value = found;
    return true;
  }

 private:
  const bool terminal_ = ::isatty(STDOUT_FILENO) == 1;
  bool out_failed_ = false;
  bool err_failed_ = false;

  // Once a stream has failed (EPIPE: nobody reads it any more) it is left alone: what it shows
  // is a courtesy, and the exit code still tells how the write went.
  static void Put(std::FILE* stream, bool& failed, const std::u16string& text) {
    if (failed) return;
    const std::string bytes = mailsheaf::Utf16ToUtf8(text);
    failed = std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size() ||
             std::fflush(stream) != 0;
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
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);

  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    bool utf8 = true;  // a path that is not UTF-8 still leads to its file
    arguments.push_back(mailsheaf::BytesToName(argv[i], utf8));
  }
  PosixConsole console;
  return mailsheaf::RunPacker(arguments, console, mailsheaf::RealFileSystem(),
                              std::max(1u, std::thread::hardware_concurrency()), g_interrupted);
}
