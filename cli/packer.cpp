#include "cli/packer.h"

#include "mail/file_system.h"
#include "archive/tar_archive.h"
#include "base/text.h"
#include "cli/live_line.h"
#include "cli/progress_text.h"
#include "cli/upload_command.h"

namespace mailsheaf {
namespace {

std::u16string Version() { return AsciiToUtf16(MAILSHEAF_VERSION); }

std::u16string Usage() {
  std::u16string usage =
      u"Usage: mailsheaf-pack SOURCE_FOLDER DEST.tgz\n"
      u"Packs every .eml message below SOURCE_FOLDER, with its folders, into DEST.tgz, a\n"
      u"gzip-compressed GNU tar that a Zimbra account takes in through its Import option.\n"
      u"Messages are dated from their Date: header. An existing DEST.tgz is replaced only\n"
      u"when the new archive is complete.\n\n";
  usage.append(UploadUsage());
  usage.append(u"\n  --help     show this text and exit\n"
               u"  --version  show the version and exit\n");
  return usage;
}

// A Ctrl+C sets `interrupted`; the next event stops the write, as the window's Stop does.
class PackerEvents final : public ArchiveEvents {
 public:
  PackerEvents(Console& console, const std::atomic<bool>& interrupted)
      : console_(console), interrupted_(interrupted), line_(console) {}

  void StopOnInterrupt(TarArchive& archive) { archive_ = &archive; }

  void ProgressInfo(const std::u16string&, const std::u16string&,
                    const ArchiveProgress& progress) override {
    if (console_.IsTerminal()) Draw(progress, false);
    StopIfInterrupted();
  }

  void PercentDone(int32_t percent, const ArchiveProgress& progress) override {
    percent_ = percent;
    if (console_.IsTerminal()) {
      Draw(progress, percent == 100);
    } else if (percent != printed_percent_) {
      // Plain lines only when the figure moves: a long message repeats its events.
      printed_percent_ = percent;
      console_.Out(DecimalText(percent) + u"%  " + ByteText(progress.bytes_done) +
                   (progress.current_file.empty() ? u"" : u"  " + progress.current_file) + u"\n");
    }
    StopIfInterrupted();
  }

  // Ends the live line so that what follows starts on a fresh one.
  void EndLine() { line_.End(); }

 private:
  void StopIfInterrupted() {
    if (interrupted_ && archive_ != nullptr) archive_->Stop();
  }

  void Draw(const ArchiveProgress& progress, bool force) {
    line_.Draw(percent_, progress.bytes_done, progress.current_file, force);
  }

  Console& console_;
  const std::atomic<bool>& interrupted_;
  LiveLine line_;
  TarArchive* archive_ = nullptr;
  int32_t percent_ = 0;
  int32_t printed_percent_ = -1;
};

}  // namespace

int RunPacker(const std::vector<std::u16string>& arguments, Console& console,
              FileSystem& file_system, unsigned threads,
              const std::atomic<bool>& interrupted) {
  std::vector<std::u16string> paths;
  bool options_done = false;
  const bool help = std::find(arguments.begin(), arguments.end(), u"--help") != arguments.end();
  if (!help && AsksForUpload(arguments)) {
    return RunUpload(arguments, console, file_system, interrupted);
  }
  for (const std::u16string& argument : arguments) {
    if (!options_done && argument == u"--") {
      options_done = true;
    } else if (!options_done && (argument == u"--help" || argument == u"-h")) {
      console.Out(Usage());
      return kExitSuccess;
    } else if (!options_done && argument == u"--version") {
      console.Out(std::u16string(kProgram) + u" " + Version() + u"\n");
      return kExitSuccess;
    } else if (!options_done && argument.size() > 1 && argument[0] == u'-') {
      return UsageError(console, u"unknown option " + argument);
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 2) {
    return UsageError(console, paths.size() < 2
                                   ? u"a source folder and a destination file are needed"
                                   : u"too many arguments");
  }

  PackerEvents events(console, interrupted);
  TarArchive archive(&events, file_system, {threads, SizingWalk::kBesideTheWriter});
  events.StopOnInterrupt(archive);
  archive.SetArchiveFormat(u"gnu");
  int32_t written = archive.AddRootFolder(paths[0]);
  if (written == 1) written = archive.WriteCompressedArchive(paths[1]);
  events.EndLine();
  if (interrupted && written != 1) {
    console.Err(std::u16string(kProgram) + u": interrupted; no archive was written.\n");
    return kExitInterrupted;
  }
  if (written != 1) {
    console.Err(std::u16string(kProgram) + u": " + archive.LastErrorText() + u"\n");
    return kExitFailure;
  }
  console.Out(DecimalText(archive.MessagesStored()) + u" messages and " +
              DecimalText(archive.FoldersStored()) + u" folders stored; archive size " +
              DecimalText(static_cast<long long>(archive.ArchiveSize())) + u" bytes (" +
              ByteText(archive.ArchiveSize()) + u"): " + file_system.AbsolutePath(paths[1]) +
              u"\n");
  // What had to be adjusted, after the summary and apart from the progress lines.
  if (!archive.Report().Empty()) {
    console.Out(u"\n" + ReportText(archive.Report(), file_system.AbsolutePath(paths[1]), u"\n"));
    if (archive.ReportFile().empty()) {
      // The archive is in place, but not the report that belongs beside it.
      console.Err(std::u16string(kProgram) + u": the archive was written, but its report could "
                  u"not be: " + archive.ReportFileError() + u"\n");
      return kExitFailure;
    }
    console.Out(u"\nThis report is also in " + archive.ReportFile() + u"\n");
  }
  return kExitSuccess;
}

}  // namespace mailsheaf
