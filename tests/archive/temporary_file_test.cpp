// The temporary file an archive is written to, through the file-system seam: its name, the two
// ways of making it, and the cleanup of what earlier runs left behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include "mail/temporary_name.h"
#include "base/text.h"
#include "tests/archive/archive_test_helpers.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

TEST(TemporaryName, FitsWhereverTheDestinationNameFits) {
  EXPECT_EQ(TemporaryName(u"mail.tgz", 0x0123abcd), u".mailsheaf-0123abcd-mail.tgz");
  EXPECT_EQ(TemporaryName(u"", 0xffffffff), u".mailsheaf-ffffffff-");
  EXPECT_EQ(TemporaryName(u"exactly-twenty-1.tgz", 0), u".mailsheaf-00000000-exactly-twenty-1.tgz");
  EXPECT_EQ(TemporaryName(u"twenty-one-units.tgz1", 0), u".mailsheaf-00000000-t");

  const std::u16string longest(255, u'n');
  EXPECT_EQ(TemporaryName(longest, 7), u".mailsheaf-00000007-" + std::u16string(235, u'n'));

  // A cut never leaves half of a surrogate pair, nor so half of a UTF-8 sequence.
  const std::u16string clef = u"\U0001D11E";  // two units, four bytes in UTF-8
  for (size_t length = 21; length <= 48; ++length) {
    std::u16string name;
    while (name.size() < length) name += name.size() % 3 == 0 ? clef : u"\u00e4";
    name.resize(length);
    if (name.back() >= 0xD800 && name.back() <= 0xDBFF) name.back() = u'x';
    const std::u16string temporary = TemporaryName(name, 1);
    SCOPED_TRACE(length);
    EXPECT_LE(temporary.size(), name.size());
    EXPECT_LE(Utf16ToUtf8(temporary).size(), Utf16ToUtf8(name).size());
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(temporary)), temporary) << "no broken pair";
    EXPECT_TRUE(IsTemporaryName(temporary));
  }
}

TEST(TemporaryName, OnlyOurDeadFilesAreLeftovers) {
  for (const char16_t* name : {u".mailsheaf-0123abcd-mail.tgz", u".mailsheaf-00000000-"}) {
    EXPECT_TRUE(IsTemporaryName(name)) << Utf16ToUtf8(name);
  }
  for (const char16_t* name : {u"backup.tgz.part00000000", u"mailbox.part20240101",
                               u"x.part0000abcd", u".mailsheaf-0123ABCD-x", u".mailsheaf-0123abc-x",
                               u".mailsheaf-0123abcde", u"mailsheaf-0123abcd-x", u"mail.tgz"}) {
    EXPECT_FALSE(IsTemporaryName(name)) << Utf16ToUtf8(name);
  }
  const std::u16string ours = u".mailsheaf-0123abcd-mail.tgz";
  const int64_t now = 2000000000;
  EXPECT_TRUE(IsDeadLeftover(ours, {true, false, now - kLeftoverAge}, now));
  EXPECT_FALSE(IsDeadLeftover(ours, {true, false, now - kLeftoverAge + 1}, now)) << "changing";
  EXPECT_FALSE(IsDeadLeftover(ours, {true, true, 0}, now)) << "held";
  EXPECT_FALSE(IsDeadLeftover(ours, {false, false, 0}, now)) << "a link, a folder, a device";
  EXPECT_FALSE(IsDeadLeftover(u"backup.tgz.part00000000", {true, false, 0}, now));
}

TEST(TemporaryFile, LongestDestinationNameIsWrittenEitherWay) {
  for (bool unnamed : {true, false}) {
    FakeFileSystem fs;
    fs.unnamed_temporary_files = unnamed;
    fs.AddFile(u"/src/a.eml", "a");
    fs.AddFolder(u"/out");
    const std::u16string name = std::u16string(251, u'n') + u".tgz";
    std::vector<std::u16string> while_writing;
    RecordingEvents events;
    events.on_info = [&](const std::u16string&) { while_writing = fs.NamesIn(u"/out"); };
    const Packed packed = PackFake(fs, u"/src", u"/out/" + name, 1, &events);
    ASSERT_EQ(packed.result, 1) << Utf16ToUtf8(packed.error);
    EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(name));
    if (!unnamed) {
      ASSERT_EQ(while_writing.size(), 1u);
      EXPECT_EQ(while_writing[0].size(), name.size());
      EXPECT_EQ(while_writing[0].substr(20), name.substr(0, 235));
    }
  }
}

// What killed runs, the user and other programs left in the destination's folder.
void FillWithLeftovers(FakeFileSystem& fs) {
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
  fs.AddFile(u"/out/.mailsheaf-0123abcd-mail.tgz", kGzipStart + "half an archive");
  fs.AddFile(u"/out/.mailsheaf-89abcdef-mail - report.txt", "half a report");
  fs.AddFile(u"/out/.mailsheaf-11111111-held.tgz", kGzipStart).held = true;
  fs.AddFile(u"/out/.mailsheaf-22222222-live.tgz", kGzipStart).mtime = std::time(nullptr);
  fs.AddFile(u"/out/backup.tgz.part00000000", kGzipStart);
  fs.AddFile(u"/out/mailbox.part20240101", kGzipStart);
  fs.AddFolder(u"/out/.mailsheaf-44444444-folder");
  fs.AddLink(u"/out/.mailsheaf-55555555-link", u"/out/mail.tgz");
}

TEST(TemporaryFile, AWriteFirstRemovesStaleFilesOfOursThatNoWriterHolds) {
  for (bool success : {true, false}) {
    FakeFileSystem fs;
    fs.AddFile(u"/src/a.eml", "a");
    FillWithLeftovers(fs);
    if (!success) fs.Find(u"/src/a.eml")->unreadable = true;
    EXPECT_EQ(PackFake(fs, u"/src", u"/out/new.tgz").result, success ? 1 : 0);
    std::vector<std::u16string> kept = {
        u"mail.tgz", u".mailsheaf-11111111-held.tgz", u".mailsheaf-22222222-live.tgz",
        u"backup.tgz.part00000000", u"mailbox.part20240101", u".mailsheaf-44444444-folder",
        u".mailsheaf-55555555-link"};
    if (success) kept.push_back(u"new.tgz");
    EXPECT_THAT(fs.NamesIn(u"/out"), ::testing::UnorderedElementsAreArray(kept));
    EXPECT_EQ(fs.Find(u"/out/mail.tgz")->content, "the previous archive");
  }
}

// Two writes to one folder at once: the second's cleanup passes by the file the first is
// writing, whichever way it was made, and both archives arrive.
TEST(TemporaryFile, AWriteNeverRemovesTheFileAnotherWriteIsWriting) {
  for (bool unnamed : {true, false}) {
    FakeFileSystem fs;
    fs.unnamed_temporary_files = unnamed;
    fs.AddFile(u"/src/a.eml", PlainMessage(300000, 'a'));
    fs.AddFile(u"/src/b.eml", PlainMessage(300000, 'b'));
    fs.AddFolder(u"/out");
    RecordingEvents events;
    Packed inner;
    std::vector<std::u16string> during_inner;
    events.on_info = [&](const std::u16string& path) {
      if (path != u"/src/b.eml") return;
      RecordingEvents inner_events;
      inner_events.on_info = [&](const std::u16string&) { during_inner = fs.NamesIn(u"/out"); };
      inner = PackFake(fs, u"/src", u"/out/second.tgz", 1, &inner_events);
    };
    const Packed outer = PackFake(fs, u"/src", u"/out/first.tgz", 2, &events);
    ASSERT_EQ(outer.result, 1) << Utf16ToUtf8(outer.error);
    ASSERT_EQ(inner.result, 1) << Utf16ToUtf8(inner.error);
    EXPECT_EQ(outer.bytes, inner.bytes);
    EXPECT_THAT(fs.NamesIn(u"/out"), UnorderedElementsAre(u"first.tgz", u"second.tgz"));
    EXPECT_EQ(during_inner.size(), unnamed ? 0u : 2u) << "both temporary files, when named";
  }
}

}  // namespace
}  // namespace mailsheaf::testing
