// Real mail: the SpamAssassin public corpus (fetched by fetch-corpus.sh) packed whole, every
// message read back byte for byte and dated as Python's email package dates it.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "mail/long_lines.h"
#include "archive/tar_archive.h"
#include "base/text.h"
#include "tests/archive/archive_test_helpers.h"
#include "tests/archive/test_helpers_posix.h"

namespace mailsheaf::testing {
namespace {

namespace fs = std::filesystem;

TEST(Corpus, EveryRealMessageRoundTripsWithItsDate) {
  const fs::path corpus = MAILSHEAF_CORPUS_DIR;
  ASSERT_TRUE(fs::exists(corpus / ".complete")) << "run tests/archive/fetch-corpus.sh " << corpus;

  // The corpus's sets become folders, its messages .eml files.
  TempTree tree;
  std::map<std::string, std::string> expected;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".txt") continue;
    const std::string set = entry.path().parent_path().filename().string();
    const std::string name = set + "/" + entry.path().stem().string() + ".eml";
    fs::create_directories(tree.Path("src/" + set));
    fs::copy_file(entry.path(), tree.Path("src/" + name));
    expected[name] = ReadWholeFile(entry.path().string());
  }
  ASSERT_GE(expected.size(), 6000u);

  RecordingEvents events;
  TarArchive archive(&events);
  ASSERT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("src"))), 1);
  const std::string destination = tree.Path("corpus.tgz");
  ASSERT_EQ(archive.WriteCompressedArchive(Utf8ToUtf16(destination)), 1)
      << Utf16ToUtf8(archive.LastErrorText());

  // Messages with a line the importer refuses come back re-encoded, the same once decoded (as
  // Python's email package decodes them); every other one byte for byte.
  std::map<std::string, int64_t> times;
  size_t messages = 0;
  std::string pairs;
  size_t reencoded = 0;
  fs::create_directories(tree.Path("stored"));
  for (const TarItem& item : ReadArchiveBytes(ReadWholeFile(destination))) {
    if (item.type != '0') continue;
    ++messages;
    times[item.name] = item.mtime;
    if (LongestLine(expected[item.name]) <= kLongestAcceptedLine) {
      EXPECT_EQ(item.data, expected[item.name]) << item.name;
      continue;
    }
    ++reencoded;
    EXPECT_LE(LongestLine(item.data), kLongestAcceptedLine) << item.name;
    const std::string stored = tree.Path("stored/" + std::to_string(reencoded) + ".eml");
    std::ofstream(stored, std::ios::binary) << item.data;
    pairs += tree.Path("src/" + item.name) + "\t" + stored + "\n";
  }
  EXPECT_EQ(messages, expected.size());
  EXPECT_GE(reencoded, 1u) << "the corpus holds real messages with long lines";
  EXPECT_EQ(archive.Report().reencoded.size(), reencoded);
  EXPECT_TRUE(archive.Report().refused.empty());
  std::ofstream(tree.Path("pairs.txt")) << pairs;
  std::string said;
  EXPECT_EQ(RunCommand("python3 " + Quote(MAILSHEAF_TESTS_DIR "/python_mime_equal.py") +
                           " --pairs " + Quote(tree.Path("pairs.txt")),
                       &said),
            0)
      << said;
  EXPECT_EQ(RunCommand("gzip -t " + Quote(destination)), 0);

  // Where Python's email package reads a date, ours must be the same instant.
  std::string listing;
  ASSERT_EQ(RunCommand("python3 " + Quote(MAILSHEAF_TESTS_DIR "/python_message_dates.py") + " " +
                           Quote(tree.Path("src")),
                       &listing),
            0);
  std::istringstream lines(listing);
  std::string line;
  size_t dated = 0, mismatched = 0;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    const std::string name = line.substr(0, tab);
    const std::string stamp = line.substr(tab + 1);
    if (stamp == "-" || std::stoll(stamp) <= 0) continue;
    ++dated;
    if (times[name] != std::stoll(stamp)) {
      ++mismatched;
      ADD_FAILURE() << name << ": Python reads " << stamp << ", the archive holds " << times[name];
    }
  }
  // Nearly every message carries a date; some 1% of this corpus name no zone, and go undated.
  EXPECT_GE(dated, expected.size() * 96 / 100) << "nearly every message carries a date";
  EXPECT_EQ(mismatched, 0u);
}

// A tree laid out like real exports, with every kind of name, line, file, read state and date
// that Zimbra's import would refuse or misplace, all at once. A strict reader of our own applies
// the importer's rules to the archive and finds nothing; every message is there (byte for byte,
// or the same once decoded) and the report names every change.
TEST(Corpus, AnUntidyTreeArrivesWholeWithEveryChangeReported) {
  const fs::path corpus = MAILSHEAF_CORPUS_DIR;
  ASSERT_TRUE(fs::exists(corpus / ".complete")) << "run tests/archive/fetch-corpus.sh " << corpus;
  TempTree tree;
  const std::string script = Quote(MAILSHEAF_TESTS_DIR "/python_untidy_tree.py");
  std::string said;
  ASSERT_EQ(RunCommand("python3 " + script + " make " + Quote(corpus.string()) + " " +
                           Quote(tree.root()) + " 2>&1",
                       &said),
            0)
      << said;

  RecordingEvents events;
  TarArchive archive(&events);
  ASSERT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("src"))), 1);
  const std::string destination = tree.Path("mail.tgz");
  const int64_t start = std::time(nullptr);
  ASSERT_EQ(archive.WriteCompressedArchive(Utf8ToUtf16(destination)), 1)
      << Utf16ToUtf8(archive.LastErrorText());
  const int64_t end = std::time(nullptr);
  EXPECT_EQ(Utf16ToUtf8(archive.ReportFile()), tree.Path("mail - report.txt"));

  said.clear();
  EXPECT_EQ(RunCommand("python3 " + script + " check " + Quote(tree.root()) + " " +
                           Quote(destination) + " " + Quote(tree.Path("mail - report.txt")) + " " +
                           std::to_string(start) + " " + std::to_string(end) + " 2>&1",
                       &said),
            0)
      << said;
}

}  // namespace
}  // namespace mailsheaf::testing
