// The temporary file an archive is written to, through the file-system seam: its name, the two
// ways of making it, and the cleanup of what earlier runs left behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "archive/temporary_name.h"
#include "base/text.h"
#include "tests/archive/archive_test_helpers.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

TEST(TemporaryName, FitsWhereverTheDestinationNameFits) {
  EXPECT_EQ(TemporaryName(u"mail.tgz", 0x0123abcd), u"mail.tgz.part0123abcd");
  EXPECT_EQ(TemporaryName(u"", 0xffffffff), u".partffffffff");
  EXPECT_EQ(TemporaryName(u"exactly13.tgz", 0), u"exactly13.tgz.part00000000");
  EXPECT_EQ(TemporaryName(u"fourteen14.tgz", 0), u"f.part00000000");

  const std::u16string longest(255, u'n');
  EXPECT_EQ(TemporaryName(longest, 7), std::u16string(242, u'n') + u".part00000007");

  // A cut never leaves half of a surrogate pair, nor so half of a UTF-8 sequence.
  const std::u16string clef = u"\U0001D11E";  // two units, four bytes in UTF-8
  for (size_t length = 14; length <= 40; ++length) {
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

TEST(TemporaryName, OnlyOurNamesAndContentsAreRecognised) {
  for (const char16_t* name : {u"mail.tgz.part0123abcd", u".part00000000", u"a.part99999999"}) {
    EXPECT_TRUE(IsTemporaryName(name)) << Utf16ToUtf8(name);
  }
  for (const char16_t* name : {u"mail.tgz", u"mail.tgz.part", u"mail.tgz.part0123ABCD",
                               u"mail.tgz.part0123abc", u"mail.tgz.part0123abcde",
                               u"mail.tgz.part0123abcg", u"mail.tgz-part0123abcd",
                               u"film.mkv.part", u"mail.tgz.part0123abcd.eml"}) {
    EXPECT_FALSE(IsTemporaryName(name)) << Utf16ToUtf8(name);
  }
  const unsigned char gzip[] = {0x1f, 0x8b}, text[] = {'h', 'i'}, half[] = {0x1f, 0x00};
  EXPECT_TRUE(IsTemporaryContent(gzip, 0));
  EXPECT_TRUE(IsTemporaryContent(gzip, 1));
  EXPECT_TRUE(IsTemporaryContent(gzip, 2));
  EXPECT_FALSE(IsTemporaryContent(text, 2));
  EXPECT_FALSE(IsTemporaryContent(text, 1));
  EXPECT_FALSE(IsTemporaryContent(half, 2));
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
      EXPECT_EQ(while_writing[0].substr(0, 242), name.substr(0, 242));
    }
  }
}

// What a killed run of each kind, or another program, left in the destination's folder.
void FillWithLeftovers(FakeFileSystem& fs) {
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
  fs.AddFile(u"/out/mail.tgz.part0123abcd", kGzipStart + "half an archive");
  fs.AddFile(u"/out/other.tgz.part89abcdef", "");
  fs.AddFile(u"/out/long-name-cut.part00000001", kGzipStart);
  fs.AddFile(u"/out/held.tgz.part11111111", kGzipStart).held = true;
  fs.AddFile(u"/out/notes.part22222222", "someone's notes");
  fs.AddFile(u"/out/mail.tgz.part3333333G", kGzipStart);
  fs.AddFile(u"/out/film.mkv.part", "");
  fs.AddFolder(u"/out/folder.part44444444");
  fs.AddLink(u"/out/link.part55555555", u"/out/mail.tgz.part0123abcd");
}

TEST(TemporaryFile, AWriteFirstRemovesStaleFilesOfOursThatNoWriterHolds) {
  for (bool success : {true, false}) {
    FakeFileSystem fs;
    fs.AddFile(u"/src/a.eml", "a");
    FillWithLeftovers(fs);
    if (!success) fs.Find(u"/src/a.eml")->unreadable = true;
    EXPECT_EQ(PackFake(fs, u"/src", u"/out/new.tgz").result, success ? 1 : 0);
    std::vector<std::u16string> kept = {u"mail.tgz",          u"held.tgz.part11111111",
                                        u"notes.part22222222", u"mail.tgz.part3333333G",
                                        u"film.mkv.part",      u"folder.part44444444",
                                        u"link.part55555555"};
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
