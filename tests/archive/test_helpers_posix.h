#pragma once
// Real temporary trees and outside tools for the native tests.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace mailsheaf::testing {

class TempTree {
 public:
  TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mailsheaf-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void Write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path path = Path(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  void Folder(const std::string& relative) const {
    std::filesystem::create_directories(Path(relative));
  }

 private:
  std::string root_;
};

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Exit status of a shell command; its standard output in `output`.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output) output->append(buffer, got);
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

// The names in a folder, in no particular order.
inline std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// A tree of incompressible messages that takes the packer a moment to write.
inline void WriteSlowTree(const TempTree& tree, const std::string& relative) {
  std::string noise(4 << 20, '\0');
  uint32_t state = 1;
  for (int file = 0; file < 12; ++file) {
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    tree.Write(relative + "/m" + std::to_string(file) + ".eml", noise);
  }
}

// The packer at `program` running in a child process, its standard output on a pipe and its
// errors gone.
class PackerProcess {
 public:
  PackerProcess(const std::string& program, const std::string& source,
                const std::string& destination) {
    int ends[2];
    if (::pipe(ends) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(ends[1], STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      ::close(ends[0]);
      ::execl(program.c_str(), "mailsheaf-pack", source.c_str(), destination.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ends[1]);
    output_ = ends[0];
  }
  ~PackerProcess() {
    CloseOutput();
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

  bool started() const { return pid_ > 0 && output_ >= 0; }

  // The first line the packer writes ("0%  0 B" once the archive's file is open), without its
  // end; empty when the output ends first.
  std::string FirstLine() {
    std::string line;
    char c;
    while (::read(output_, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }
  // Nobody reads the output any more: the packer's next write to it fails with EPIPE.
  void CloseOutput() {
    if (output_ >= 0) ::close(output_);
    output_ = -1;
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  // The wait status of the ended process.
  int Wait() {
    if (status_ < 0 && ::waitpid(pid_, &status_, 0) != pid_) status_ = 0xFFFF;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int status_ = -1;
};

}  // namespace mailsheaf::testing
