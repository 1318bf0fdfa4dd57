#include "cli/upload_report_file.h"

#include <memory>
#include <string_view>

#include "archive/atomic_output.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

bool BeginsWith(FileSystem& fs, const std::u16string& path,
                std::initializer_list<std::string_view> starts) {
  std::u16string ignored;
  std::unique_ptr<ReadableFile> file = fs.OpenRead(path, ignored);
  if (!file) return false;
  unsigned char head[64];
  const int64_t got = file->Read(head, sizeof head, ignored);
  const std::string_view start(reinterpret_cast<const char*>(head),
                               got > 0 ? static_cast<size_t>(got) : 0);
  for (std::string_view s : starts) {
    if (start.starts_with(s)) return true;
  }
  return false;
}

}  // namespace

bool WriteReport(FileSystem& fs, const std::u16string& where, const std::u16string& text,
                 std::u16string& error) {
  const std::u16string path = fs.AbsolutePath(where);
  if (fs.Exists(path) && !BeginsWith(fs, path, {kUploadReportSignature, kReportSignature,
                                                kEarlierReportSignature})) {
    error = u"a file Mailsheaf did not write is at " + path + u"; it was left as it is";
    return false;
  }
  const std::string bytes = Utf16ToUtf8(text);
  AtomicOutput file(fs, u"the report");
  if (!file.Create(path, error)) return false;
  if (!file.Put(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
    error = file.error();
    return false;
  }
  return file.Seal(error) && file.PutInPlace(error);
}

std::u16string MendsText(const RunReport& report, const std::u16string& eol) {
  const std::u16string text = ReportText(report, u"", eol);
  const size_t first_end = text.find(eol);
  if (first_end == std::u16string::npos) return {};
  return u"What Mailsheaf adjusted or left out on the way (as it does for the archive):" +
         text.substr(first_end);
}


std::u16string FullUploadReportText(const UploadReport& report, const RunReport& mends,
                                    const std::u16string& eol) {
  const std::u16string adjusted = MendsText(mends, eol);
  return UploadReportText(report, eol) + (adjusted.empty() ? u"" : eol + adjusted);
}

}  // namespace mailsheaf
