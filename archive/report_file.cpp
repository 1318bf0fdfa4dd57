#include "archive/report_file.h"

#include <memory>
#include <string_view>

#include "archive/atomic_output.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

bool IsOurReport(FileSystem& fs, const std::u16string& path) {
  std::u16string ignored;
  std::unique_ptr<ReadableFile> file = fs.OpenRead(path, ignored);
  if (!file) return false;
  unsigned char head[64];
  size_t have = 0;
  while (have < sizeof head) {
    const int64_t got = file->Read(head + have, sizeof head - have, ignored);
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  const std::string_view start(reinterpret_cast<const char*>(head), have);
  return start.rfind(kReportSignature, 0) == 0 || start.rfind(kEarlierReportSignature, 0) == 0;
}

}  // namespace

bool RemoveOurReport(FileSystem& fs, const std::u16string& path, std::u16string& error) {
  std::u16string reason;
  if (!fs.Exists(path) || !IsOurReport(fs, path) || fs.RemoveFile(path, reason)) return true;
  error = u"Cannot remove the earlier report " + path + u": " + reason;
  return false;
}

ReportFileOutcome WriteReportFile(FileSystem& fs, const RunReport& report,
                                  const std::u16string& path, const std::u16string& archive) {
  ReportFileOutcome outcome;
  std::u16string error;
  if (report.Empty()) return outcome;
  if (fs.Exists(path) && !IsOurReport(fs, path)) {
    outcome.error = u"A file Mailsheaf did not write is at " + path +
                    u"; it was left as it is, and the report was not written there.";
    return outcome;
  }
  const bool windows = fs.Separator() == u'\\';
  const std::string text = Utf16ToUtf8(ReportText(report, archive, windows ? u"\r\n" : u"\n"));
  AtomicOutput file(fs, u"the report");
  if (!file.Create(path, error)) {
    outcome.error = error;
  } else if (!file.Put(reinterpret_cast<const unsigned char*>(text.data()), text.size())) {
    outcome.error = u"Cannot write the report " + path + u": " + file.error();
  } else if (!file.Seal(error) || !file.PutInPlace(error)) {
    outcome.error = error;
  } else {
    outcome.written = path;
  }
  return outcome;
}

}  // namespace mailsheaf
