#include "cli/upload_command.h"

#include <algorithm>
#include <ctime>

#include "archive/atomic_output.h"
#include "mail/file_system.h"
#include "mail/run_report.h"
#include "base/text.h"
#include "base/report_text.h"
#include "cli/imap_address.h"
#include "upload/journal_file.h"
#include "cli/live_line.h"
#include "cli/packer.h"
#include "cli/progress_text.h"
#include "cli/upload_report_file.h"
#include "upload/tree_upload_source.h"
#include "upload/uploader.h"

namespace mailsheaf {
namespace {

constexpr size_t kLongestPasswordFile = 4096;

struct Arguments {
  std::u16string address;
  std::u16string user;
  std::u16string password_file;
  std::u16string trust;
  std::u16string report;
  std::u16string source;
};

class UploadProgressText final : public UploadEvents {
 public:
  UploadProgressText(Console& console, const std::atomic<bool>& interrupted)
      : console_(console), interrupted_(interrupted), line_(console) {}

  bool StopRequested() override { return interrupted_; }

  void Progress(const UploadProgress& progress) override {
    const int percent =
        progress.messages_total == 0
            ? 0
            : static_cast<int>(std::min<uint64_t>(
                  100, progress.messages_done * 100 / progress.messages_total));
    if (progress.status != status_) {
      status_ = progress.status;
      if (!status_.empty()) {
        EndLine();
        console_.Out(status_ + u"\n");
      }
    }
    if (console_.IsTerminal()) {
      const std::u16string counts = DecimalText(static_cast<long long>(progress.messages_done)) +
                                    u"/" +
                                    DecimalText(static_cast<long long>(progress.messages_total)) +
                                    u"  ";
      line_.Draw(percent, progress.bytes_sent, counts + Shown(progress.current_file),
                 progress.messages_done == progress.messages_total);
    } else if (percent != printed_percent_ && progress.messages_done > 0) {
      printed_percent_ = percent;
      console_.Out(DecimalText(percent) + u"%  " +
                   DecimalText(static_cast<long long>(progress.messages_done)) + u" messages  " +
                   ByteText(progress.bytes_sent) + u" sent  " + Shown(progress.current_file) +
                   u"\n");
    }
  }

  void EndLine() { line_.End(); }

 private:
  Console& console_;
  const std::atomic<bool>& interrupted_;
  LiveLine line_;
  std::u16string status_;
  int printed_percent_ = -1;
};

bool ParseArguments(const std::vector<std::u16string>& arguments, Arguments& parsed,
                    std::u16string& error) {
  const struct {
    const char16_t* name;
    std::u16string Arguments::* field;
  } kOptions[] = {{u"--imap", &Arguments::address},
                  {u"--user", &Arguments::user},
                  {u"--password-file", &Arguments::password_file},
                  {u"--trust-certificate", &Arguments::trust},
                  {u"--report", &Arguments::report}};
  std::vector<std::u16string> paths;
  bool options_done = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& argument = arguments[i];
    if (!options_done && argument == u"--") {
      options_done = true;
      continue;
    }
    bool taken = false;
    for (const auto& option : kOptions) {
      if (options_done || argument != option.name) continue;
      if (i + 1 >= arguments.size()) {
        error = argument + u" needs a value";
        return false;
      }
      parsed.*option.field = arguments[++i];
      taken = true;
    }
    if (taken) continue;
    if (!options_done && argument.starts_with(u"--password")) {
      error = u"the password is never taken from the command line; use MAILSHEAF_PASSWORD, "
              u"--password-file or the prompt";
      return false;
    }
    if (!options_done && argument.size() > 1 && argument[0] == u'-') {
      error = u"unknown option " + argument;
      return false;
    }
    paths.push_back(argument);
  }
  if (parsed.user.empty()) {
    error = u"--user is needed with --imap";
    return false;
  }
  if (paths.size() != 1) {
    error = paths.empty() ? u"a source folder is needed" : u"too many arguments";
    return false;
  }
  parsed.source = paths[0];
  return true;
}

bool ReadPasswordFile(FileSystem& fs, const std::u16string& path, std::string& password,
                      std::u16string& error) {
  std::unique_ptr<ReadableFile> file = fs.OpenRead(fs.AbsolutePath(path), error);
  if (!file) {
    error = u"cannot read the password file " + path + u": " + error;
    return false;
  }
  std::string text(kLongestPasswordFile + 1, '\0');
  size_t have = 0;
  while (have < text.size()) {
    const int64_t got = file->Read(reinterpret_cast<unsigned char*>(text.data()) + have,
                                   text.size() - have, error);
    if (got < 0) {
      error = u"cannot read the password file " + path + u": " + error;
      return false;
    }
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  text.resize(std::min(have, text.find_first_of("\r\n")));
  if (have > kLongestPasswordFile || text.empty()) {
    error = u"the password file " + path + u" must hold the password on its first line";
    return false;
  }
  password = std::move(text);
  return true;
}

}  // namespace

bool AsksForUpload(const std::vector<std::u16string>& arguments) {
  for (const std::u16string& argument : arguments) {
    if (argument == u"--") return false;
    if (argument == u"--imap") return true;
  }
  return false;
}

std::u16string UploadUsage() {
  return u"Or:    mailsheaf-pack --imap imaps://HOST[:PORT] --user USER [OPTIONS] SOURCE_FOLDER\n"
         u"Puts every .eml message below SOURCE_FOLDER, with its folders, straight into the\n"
         u"mail account over IMAP, with the same adjustments as the archive. Folders are made\n"
         u"where missing; top-level Inbox, Sent, Drafts, Junk and Trash go into the account's\n"
         u"own. Messages already there are skipped, so a run that stopped can be run again.\n"
         u"imaps:// is TLS from the start (port 993), imap:// uses STARTTLS (port 143), and\n"
         u"imap+plain:// sends everything, the password included, unencrypted.\n"
         u"The password comes from MAILSHEAF_PASSWORD, else --password-file, else a prompt.\n"
         u"\n"
         u"  --password-file FILE       the password is the first line of FILE\n"
         u"  --trust-certificate SHA256 accept the server certificate with this SHA-256\n"
         u"                             fingerprint (hex, colons optional), and no other\n"
         u"  --report FILE              also write the report to FILE\n"
         u"Exit codes: 0 all in the account, 1 failed, 2 usage, 3 something refused or not\n"
         u"added, 130 interrupted.\n";
}

int RunUpload(const std::vector<std::u16string>& arguments, Console& console,
              FileSystem& file_system, const std::atomic<bool>& interrupted) {
  Arguments parsed;
  std::u16string error;
  if (!ParseArguments(arguments, parsed, error)) return UsageError(console, error);
  UploadOptions options;
  if (!ParseImapAddress(parsed.address, options.server, error)) return UsageError(console, error);
  options.server.tls.trust_certificate_sha256 = Utf16ToUtf8(parsed.trust);
  options.user = Utf16ToUtf8(parsed.user);

  std::u16string root = file_system.AbsolutePath(parsed.source);
  const char16_t separator = file_system.Separator();
  if (!root.empty() && root.back() != separator) root.push_back(separator);
  if (!file_system.IsFolder(root)) {
    console.Err(std::u16string(kProgram) + u": the source folder " + root +
                u" does not exist or is not a folder.\n");
    return kExitFailure;
  }

  if (!console.Variable("MAILSHEAF_PASSWORD", options.password)) {
    if (!parsed.password_file.empty()) {
      if (!ReadPasswordFile(file_system, parsed.password_file, options.password, error)) {
        console.Err(std::u16string(kProgram) + u": " + error + u"\n");
        return kExitFailure;
      }
    } else if (!console.ReadSecret(u"Password for " + parsed.user + u": ", options.password)) {
      return UsageError(console, u"no password: set MAILSHEAF_PASSWORD, give --password-file, "
                                 u"or run on a terminal to be asked");
    }
  }

  // The journal: where it cannot be kept, the run still goes, finding by content what an
  // earlier run put there.
  std::unique_ptr<JournalFile> journal;
  const std::u16string journal_folder = JournalFolder(
      [&console](const char* name, std::string& value) { return console.Variable(name, value); },
      separator);
  if (!journal_folder.empty()) {
    journal = OpenAccountJournal(journal_folder, options.user, options.server.host,
                                 options.server.port, error);
  }
  if (!journal) {
    console.Err(std::u16string(kProgram) + u": no journal is kept for this run (" +
                (journal_folder.empty() ? u"no home folder is known" : error) +
                u"); a later run finds its messages by their contents.\n");
  }
  options.journal = journal.get();

  TreeUploadSource source(file_system, root, static_cast<int64_t>(std::time(nullptr)));
  UploadProgressText events(console, interrupted);
  Uploader uploader(&events);
  UploadReport report;
  const bool finished = uploader.Run(source, options, report);
  events.EndLine();
  std::fill(options.password.begin(), options.password.end(), '\0');

  const auto full_text = [&](const std::u16string& eol) {
    return FullUploadReportText(report, source.Report(), eol);
  };
  console.Out(u"\n" + full_text(u"\n"));
  const std::u16string text = full_text(separator == u'\\' ? u"\r\n" : u"\n");
  if (!parsed.report.empty()) {
    std::u16string report_error;
    if (WriteReport(file_system, parsed.report, text, report_error)) {
      console.Out(u"\nThis report is also in " + file_system.AbsolutePath(parsed.report) + u"\n");
    } else {
      console.Err(std::u16string(kProgram) + u": the report was not written: " + report_error +
                  u"\n");
    }
  }
  if (interrupted || report.stopped) return kExitInterrupted;
  if (!finished) {
    console.Err(std::u16string(kProgram) + u": " + report.failure + u"\n");
    return kExitFailure;
  }
  return report.Complete() ? kExitSuccess : kExitIncomplete;
}

}  // namespace mailsheaf
