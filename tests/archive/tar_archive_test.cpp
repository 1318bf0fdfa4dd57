#include "archive/tar_archive.h"
#include "mail/temporary_name.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "mail/message_reader.h"
#include "archive/tar_header.h"
#include "base/text.h"
#include "tests/archive/archive_test_helpers.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

constexpr int64_t kFileTime = 1000000000;
const std::string kDated = "Date: Thu, 22 Aug 2002 07:36:16 -0400\r\nSubject: hi\r\n\r\nbody\r\n";

// A failed write leaves the folder of the destination exactly as it was.
void ExpectNothingLeftBehind(FakeFileSystem& fs) {
  EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(u"mail.tgz"));
  EXPECT_TRUE(fs.Find(u"/out/mail.tgz")->content == "the previous archive");
}


TEST(TarArchive, StoresOnlyMessagesAndTheirFoldersInNameOrder) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/b.eml", "b");
  fs.AddFile(u"/src/A.EML", kDated);
  fs.AddFile(u"/src/notes.txt", "not a message");
  fs.AddFile(u"/src/Thumbs.db", "junk");
  fs.AddFile(u"/src/Inbox/2.eml", "two");
  fs.AddFile(u"/src/Inbox/10.eml", "ten");
  fs.AddFile(u"/src/Inbox/Sub/x.Eml", "x");
  fs.AddFile(u"/src/mail.eml/inner.eml", "inner");
  fs.AddFolder(u"/src/empty");
  fs.AddFolder(u"/out");
  RecordingEvents events;

  const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz", 1, &events);
  ASSERT_EQ(packed.result, 1) << Narrow(packed.error);
  EXPECT_THAT(NamesOf(packed.items),
              ElementsAre("A.eml", "b.eml", "Inbox/", "Inbox/10.eml", "Inbox/2.eml",
                          "Inbox/Sub/", "Inbox/Sub/x.eml", "empty/", "mail.eml/",
                          "mail.eml/inner.eml"));
  EXPECT_EQ(packed.messages, 6);
  EXPECT_EQ(packed.folders, 4);
  EXPECT_THAT(events.paths,
              ElementsAre(u"/src/A.EML", u"/src/b.eml", u"/src/Inbox/10.eml", u"/src/Inbox/2.eml",
                          u"/src/Inbox/Sub/x.Eml", u"/src/mail.eml/inner.eml"));
  EXPECT_THAT(events.kinds, ::testing::Each(std::u16string(kProgressKindMessage)));

  for (const TarItem& item : packed.items) {
    EXPECT_EQ(item.uid, 0u);
    EXPECT_EQ(item.gid, 0u);
    if (item.name.back() == '/') {
      EXPECT_EQ(item.type, '5') << item.name;
      EXPECT_EQ(item.mode, 0755u) << item.name;
      EXPECT_EQ(item.size, 0u);
    } else {
      EXPECT_EQ(item.type, '0') << item.name;
      EXPECT_EQ(item.mode, 0644u) << item.name << ": read in the mail server";
      std::u16string source = u"/src/" + Utf8ToUtf16(item.name);
      if (item.name == "A.eml") source = u"/src/A.EML";
      if (item.name == "Inbox/Sub/x.eml") source = u"/src/Inbox/Sub/x.Eml";
      EXPECT_EQ(item.data, fs.Find(source)->content) << item.name;
    }
  }
}

TEST(TarArchive, OnlyNamesEndingInDotEmlInAnyCaseAreMessages) {
  FakeFileSystem fs;
  for (const char16_t* name : {u"a.eml", u"b.EML", u"c.eMl", u".eml"}) {
    fs.AddFile(u"/src/" + std::u16string(name), "m");
  }
  for (const char16_t* name : {u"d.em", u"e.emlx", u"f.eml.txt", u"g.eml ", u"heml", u"eml",
                               u"i.eml~", u"j.e.ml"}) {
    fs.AddFile(u"/src/" + std::u16string(name), "not a message");
  }
  fs.AddFolder(u"/out");
  const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz");
  ASSERT_EQ(packed.result, 1) << Narrow(packed.error);
  EXPECT_THAT(NamesOf(packed.items), ElementsAre(".eml", "a.eml", "b.eml", "c.eml"));
}

TEST(TarArchive, EveryEventCarriesWhereTheWriteStands) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", std::string(1000, 'a'));
  std::string b(300000, 'b');  // in short lines, so that it is stored as it is
  for (size_t i = 99; i < b.size(); i += 100) b[i] = '\n';
  fs.AddFile(u"/src/Inbox/b.eml", b);
  fs.AddFile(u"/src/Inbox/c.eml", std::string(5, 'c'));
  fs.AddFolder(u"/out");
  std::vector<ArchiveProgress> at_percent;
  struct Keeper : RecordingEvents {
    std::vector<ArchiveProgress>* out = nullptr;
    void PercentDone(int32_t percent, const ArchiveProgress& progress) override {
      RecordingEvents::PercentDone(percent, progress);
      out->push_back(progress);
    }
  } keeper;
  keeper.out = &at_percent;
  ASSERT_EQ(PackFake(fs, u"/src", u"/out/mail.tgz", 1, &keeper, SizingWalk::kBeforeWriting).result,
            1);
  ASSERT_EQ(keeper.info_progress.size(), 3u);
  const ArchiveProgress& before_c = keeper.info_progress[2];
  EXPECT_EQ(before_c.current_file, u"/src/Inbox/c.eml");
  EXPECT_EQ(before_c.messages_stored, 2);
  // Tar bytes, headers and padding included: a.eml, Inbox/, Inbox/b.eml so far.
  EXPECT_EQ(before_c.bytes_done, (512u + 1024) + 512 + (512 + 300032));
  EXPECT_EQ(before_c.bytes_total, before_c.bytes_done + (512 + 512) + 1024);
  ASSERT_FALSE(at_percent.empty());
  EXPECT_EQ(at_percent.back().bytes_done, before_c.bytes_total);
  EXPECT_EQ(at_percent.back().messages_stored, 3);
}

TEST(TarArchive, StopCalledOnAnotherThreadEndsTheWrite) {
  FakeFileSystem fs;
  for (int i = 0; i < 20; ++i) {
    fs.AddFile(u"/src/m" + AsciiToUtf16(std::to_string(i)) + u".eml", std::string(100000, 'm'));
  }
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
  RecordingEvents events;
  TarArchive archive(&events, fs, {2, SizingWalk::kBesideTheWriter});
  std::thread interrupter;
  events.on_info = [&](const std::u16string& path) {
    // Called elsewhere while the writer carries on.
    if (path == u"/src/m12.eml") interrupter = std::thread([&] { archive.Stop(); });
    if (interrupter.joinable() && path != u"/src/m12.eml") interrupter.join();
  };
  ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
  EXPECT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 0);
  if (interrupter.joinable()) interrupter.join();
  EXPECT_THAT(Narrow(archive.LastErrorText()), HasSubstr("was stopped"));
  EXPECT_LT(events.paths.size(), 20u);
  ExpectNothingLeftBehind(fs);
}

TEST(TarArchive, MessageTimeComesFromItsDateFieldElseFromTheFileAndIsNeverZero) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", kDated, kFileTime);
  fs.AddFile(u"/src/b.eml", "Subject: no date\n\nDate: Thu, 22 Aug 2002 07:36:16 -0400\n",
             kFileTime);
  fs.AddFile(u"/src/c.eml", "Date: whenever\n\n", kFileTime);
  fs.AddFile(u"/src/d.eml", "Date: Thu, 01 Jan 1970 00:00:00 +0000\n\n", kFileTime);
  fs.AddFile(u"/src/e.eml", "Date: Sat, 01 Jan 2300 00:00:00 +0000\n\n", kFileTime);
  fs.AddFile(u"/src/f.eml", "no header at all", 0);
  fs.AddFile(u"/src/g.eml", "Date: Fri, 13 Dec 1901 20:45:52 +0000\n\n", -5);
  // A header section longer than the read buffer: the date is found past it.
  std::string long_header;
  while (long_header.size() < 300000) long_header += "Received: from somewhere by someone\r\n";
  fs.AddFile(u"/src/h.eml", long_header + kDated, kFileTime);
  // Past 2038 the importer's 32-bit seconds wrap: unusable, like a missing date.
  fs.AddFile(u"/src/i.eml", "Date: Tue, 19 Jan 2038 03:14:08 +0000\n\n", kFileTime);
  fs.AddFile(u"/src/j.eml", "Date: Tue, 19 Jan 2038 03:14:07 +0000\n\n", kFileTime);
  fs.AddFile(u"/src/k.eml", "no date", 2147483648LL);
  fs.AddFolder(u"/out");

  const int64_t before = std::time(nullptr);
  const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz");
  const int64_t after = std::time(nullptr);
  ASSERT_EQ(packed.result, 1) << Narrow(packed.error);
  ASSERT_EQ(packed.items.size(), 11u);
  const int64_t dated = 1030016176;
  const int64_t now = -1;  // the time of the run: nothing else was usable
  const int64_t expected[] = {dated, kFileTime, kFileTime, kFileTime,  kFileTime, now,
                              now,   dated,     kFileTime, 2147483647, now};
  for (size_t i = 0; i < 11; ++i) {
    if (expected[i] == now) {
      EXPECT_GE(packed.items[i].mtime, before) << packed.items[i].name;
      EXPECT_LE(packed.items[i].mtime, after) << packed.items[i].name;
    } else {
      EXPECT_EQ(packed.items[i].mtime, expected[i]) << packed.items[i].name;
    }
  }
  EXPECT_EQ(packed.items[7].data, long_header + kDated);
}

// One header against a block written out by hand from the GNU format, field by field.
TEST(TarHeader, IsExactlyTheKnownBlock) {
  std::string expected(512, '\0');
  for (const auto& [offset, text] : std::vector<std::pair<size_t, std::string>>{
           {0, "Inbox/a.eml"}, {100, "0000644"}, {108, "0000000"}, {116, "0000000"},
           {124, "00000000005"}, {136, "07531146260"}, {148, "007741"}, {155, " 0"},
           {257, "ustar  "}}) {
    expected.replace(offset, text.size(), text);
  }
  std::vector<unsigned char> block;
  ASSERT_TRUE(AppendTarHeader({"Inbox/a.eml", TarEntryType::kFile, 5, 1030016176, 0644}, block));
  EXPECT_EQ(std::string(block.begin(), block.end()), expected);
}

TEST(TarArchive, EveryNameLengthUpTo300BytesReadsBackWhole) {
  FakeFileSystem fs;
  std::vector<std::string> expected;
  for (size_t length = 5; length <= 300; ++length) {
    const std::string name = NameOfLength(length, ".eml");
    ASSERT_EQ(name.size(), length);
    fs.AddFile(u"/src/" + Utf8ToUtf16(name), name);
    expected.push_back(name);
  }
  for (size_t length = 2; length <= 300; length += 7) {
    const std::string folder = NameOfLength(length, "/");
    fs.AddFolder(u"/src/" + Utf8ToUtf16(folder));
    expected.push_back(folder);
  }
  fs.AddFolder(u"/out");
  const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz");
  ASSERT_EQ(packed.result, 1) << Narrow(packed.error);
  std::vector<std::string> names = NamesOf(packed.items);
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  for (const TarItem& item : packed.items) {
    EXPECT_EQ(item.long_name, item.name.size() >= 100) << item.name.size();
    if (item.type == '0') {
      EXPECT_EQ(item.data, item.name);
    }
  }
}

TEST(TarArchive, SameTreeGivesTheSameBytesOnOneThreadOrMany) {
  FakeFileSystem fs;
  for (int i = 0; i < 40; ++i) {
    const std::string body = kDated + std::string(static_cast<size_t>(i) * 9000, 'a' + i % 26);
    fs.AddFile(u"/src/f" + AsciiToUtf16(std::to_string(i % 5)) + u"/m" +
                   AsciiToUtf16(std::to_string(i)) + u".eml",
               body);
  }
  fs.AddFolder(u"/out");
  const Packed one = PackFake(fs, u"/src", u"/out/one.tgz", 1);
  const Packed again = PackFake(fs, u"/src", u"/out/again.tgz", 1);
  const Packed many = PackFake(fs, u"/src", u"/out/many.tgz", 4);
  ASSERT_EQ(one.result, 1);
  EXPECT_EQ(one.bytes, again.bytes);
  EXPECT_EQ(one.bytes, many.bytes);
  EXPECT_EQ(one.items.size(), 45u);
}

TEST(TarArchive, PercentagesClimbFromZeroToOneHundredOnce) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", std::string(1000, 'a'));
  fs.AddFile(u"/src/b.eml", std::string(700000, 'b'));
  fs.AddFile(u"/src/c.eml", std::string(3000, 'c'));
  fs.AddFolder(u"/out");
  // With the total known before the first message, every percentage in between shows.
  RecordingEvents events;
  ASSERT_EQ(PackFake(fs, u"/src", u"/out/mail.tgz", 2, &events, SizingWalk::kBeforeWriting).result,
            1);
  ASSERT_GE(events.percents.size(), 3u);
  EXPECT_EQ(events.percents.front(), 0);
  EXPECT_EQ(events.percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(events.percents.begin(), events.percents.end()));
  EXPECT_EQ(std::adjacent_find(events.percents.begin(), events.percents.end()),
            events.percents.end())
      << "raised only when the percentage changes";

  // A tree of tiny messages, and of empty files left out: each one moves the bar.
  FakeFileSystem bare;
  for (int i = 0; i < 300; ++i) {
    bare.AddFile(u"/src/Sent/" + AsciiToUtf16(std::to_string(i)) + u".eml", i < 150 ? "" : "m");
  }
  bare.AddFolder(u"/out");
  RecordingEvents bare_events;
  const Packed packed = PackFake(bare, u"/src", u"/out/mail.tgz", 1, &bare_events,
                                 SizingWalk::kBeforeWriting);
  ASSERT_EQ(packed.result, 1);
  EXPECT_EQ(packed.items.size(), 151u);
  EXPECT_EQ(bare_events.percents.size(), 101u) << "every whole percentage, once";
  EXPECT_TRUE(std::is_sorted(bare_events.percents.begin(), bare_events.percents.end()));

  // A message that grows when re-encoded goes past the counted total: still one 100, the last.
  FakeFileSystem grows;
  grows.AddFile(u"/src/a.eml", "Subject: x\n\n" + std::string(20000, '=') + "\n");
  grows.AddFolder(u"/out");
  RecordingEvents grown;
  ASSERT_EQ(PackFake(grows, u"/src", u"/out/mail.tgz", 1, &grown, SizingWalk::kBeforeWriting).result,
            1);
  EXPECT_TRUE(std::is_sorted(grown.percents.begin(), grown.percents.end()));
  EXPECT_EQ(std::count(grown.percents.begin(), grown.percents.end(), 100), 1);

  // Nothing at all to store.
  FakeFileSystem empty;
  empty.AddFolder(u"/src");
  empty.AddFolder(u"/out");
  RecordingEvents empty_events;
  ASSERT_EQ(PackFake(empty, u"/src", u"/out/mail.tgz", 1, &empty_events).result, 1);
  EXPECT_THAT(empty_events.percents, ElementsAre(0, 100));
}

TEST(TarArchive, EmptyRootGivesAnEmptyArchive) {
  FakeFileSystem fs;
  fs.AddFolder(u"/src");
  fs.AddFolder(u"/out");
  const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz");
  ASSERT_EQ(packed.result, 1);
  EXPECT_TRUE(packed.items.empty());
  std::string tar, error;
  ASSERT_TRUE(Gunzip(packed.bytes, tar, error));
  EXPECT_EQ(tar, std::string(kTarEndSize, '\0'));
}

struct FaultCase {
  const char* what;
  std::function<void(FakeFileSystem&, RecordingEvents&)> arrange;
  const char* reason;  // part of the error text
  bool unnamed_only = false;  // a step only the route with files made out of sight has
};

TEST(TarArchive, EveryFaultReturnsZeroWithItsReasonAndLeavesNothingBehind) {
  const FaultCase cases[] = {
      {"unreadable message",
       [](FakeFileSystem& fs, RecordingEvents&) { fs.Find(u"/src/Inbox/b.eml")->unreadable = true; },
       "Cannot open the message /src/Inbox/b.eml: Permission denied"},
      {"read error",
       [](FakeFileSystem& fs, RecordingEvents&) {
         fs.Find(u"/src/Inbox/b.eml")->read_error_after = 100000;
       },
       "Cannot read the message /src/Inbox/b.eml: Input/output error"},
      {"message grows while read",
       [](FakeFileSystem& fs, RecordingEvents&) {
         fs.Find(u"/src/Inbox/b.eml")->reported_size = 200000;
       },
       "The message /src/Inbox/b.eml changed size"},
      {"message shrinks while read",
       [](FakeFileSystem& fs, RecordingEvents&) {
         fs.Find(u"/src/Inbox/b.eml")->reported_size = 400000;
       },
       "The message /src/Inbox/b.eml changed size"},
      {"message vanishes before it is stored",
       [](FakeFileSystem& fs, RecordingEvents& events) {
         events.on_info = [&fs](const std::u16string& path) {
           if (path == u"/src/Inbox/b.eml") fs.Delete(path);
         };
       },
       "Cannot open the message /src/Inbox/b.eml: No such file"},
      {"8 GiB message",
       [](FakeFileSystem& fs, RecordingEvents&) {
         fs.Find(u"/src/a.eml")->reported_size = kTarLargestNumber + 1;
       },
       "The message /src/a.eml is 8 GiB or larger"},
      {"disk full", [](FakeFileSystem& fs, RecordingEvents&) { fs.disk_space = 500; },
       "Cannot write the archive /out/mail.tgz: No space left on device"},
      {"flush to disk fails", [](FakeFileSystem& fs, RecordingEvents&) { fs.fail_commit = true; },
       "Cannot write the archive /out/mail.tgz: Input/output error"},
      {"naming fails", [](FakeFileSystem& fs, RecordingEvents&) { fs.fail_link = true; },
       "Cannot write the archive /out/mail.tgz: Operation not permitted", true},
      {"rename fails", [](FakeFileSystem& fs, RecordingEvents&) { fs.fail_replace = true; },
       "Cannot put the archive in place at /out/mail.tgz: Permission denied"},
      {"folder cannot be listed",
       [](FakeFileSystem& fs, RecordingEvents&) { fs.Find(u"/src/Inbox")->unlistable = true; },
       "Cannot list the folder /src/Inbox/: Permission denied"},
      {"entry cannot be examined",
       [](FakeFileSystem& fs, RecordingEvents&) { fs.Find(u"/src/Inbox")->unexaminable = true; },
       "Cannot examine /src/Inbox: Permission denied"},
      {"folder link cannot be examined",
       [](FakeFileSystem& fs, RecordingEvents&) {
         fs.AddFolder(u"/offline").identity_unreadable = true;
         fs.AddLink(u"/src/Inbox/Archive", u"/offline");
       },
       "Cannot examine the folder /src/Inbox/Archive/: The device is not ready"},
      {"message rewritten in place with the same size while read",
       [](FakeFileSystem& fs, RecordingEvents&) {
         fs.on_read = [&fs, done = false](const std::u16string& path) mutable {
           if (path != u"/src/Inbox/b.eml" || done) return;
           done = true;
           fs.Rewrite(path, std::string(300000, 'B'));
         };
       },
       "The message /src/Inbox/b.eml changed while it was read"},
      {"stop at the start",
       [](FakeFileSystem&, RecordingEvents& events) {
         events.on_percent = [&events](int32_t) { events.archive->Stop(); };
       },
       "Writing the archive /out/mail.tgz was stopped"},
      {"stop half-way",
       [](FakeFileSystem&, RecordingEvents& events) {
         events.on_percent = [&events](int32_t percent) {
           if (percent >= 50) events.archive->Stop();
         };
       },
       "was stopped"},
      {"stop at 100",
       [](FakeFileSystem&, RecordingEvents& events) {
         events.on_percent = [&events](int32_t percent) {
           if (percent == 100) events.archive->Stop();
         };
       },
       "was stopped"},
      {"stop before a message",
       [](FakeFileSystem&, RecordingEvents& events) {
         events.on_info = [&events](const std::u16string& path) {
           if (path == u"/src/Inbox/c.eml") events.archive->Stop();
         };
       },
       "was stopped"},
  };
  // Both ways of making the temporary file: out of sight until complete, and named throughout.
  const struct {
    unsigned threads;
    bool unnamed;
  } settings[] = {{1, true}, {3, true}, {1, false}, {3, false}};
  for (const auto [threads, unnamed] : settings) {
    for (const FaultCase& c : cases) {
      if (c.unnamed_only && !unnamed) continue;
      SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(threads) +
                   (unnamed ? ", made out of sight" : ", named from the start"));
      FakeFileSystem fs;
      fs.unnamed_temporary_files = unnamed;
      fs.AddFile(u"/src/a.eml", kDated + std::string(50000, 'a'));
      fs.AddFile(u"/src/Inbox/b.eml", std::string(300000, 'b'));
      fs.AddFile(u"/src/Inbox/c.eml", std::string(300000, 'c'));
      fs.AddFile(u"/out/mail.tgz", "the previous archive");
      RecordingEvents events;
      c.arrange(fs, events);
      const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz", threads, &events);
      EXPECT_EQ(packed.result, 0);
      EXPECT_THAT(Narrow(packed.error), HasSubstr(c.reason));
      ExpectNothingLeftBehind(fs);
    }
  }
}

TEST(TarArchive, AMessageTooLargeForTheArchiveFailsBeforeAnythingElseIsStored) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", std::string(200000, 'a'));
  fs.AddFile(u"/src/Zzz/huge.eml", "h").reported_size = kTarLargestNumber + 1;
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
  RecordingEvents events;
  const Packed packed =
      PackFake(fs, u"/src", u"/out/mail.tgz", 1, &events, SizingWalk::kBeforeWriting);
  EXPECT_EQ(packed.result, 0);
  EXPECT_THAT(Narrow(packed.error), HasSubstr("The message /src/Zzz/huge.eml is 8 GiB or larger"));
  EXPECT_EQ(packed.messages, 0) << "a.eml comes first, but the write failed before storing it";
  ExpectNothingLeftBehind(fs);
}

TEST(TarArchive, ALongMessageRaisesItsEventsAgainAtLeastEveryQuarterSecond) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", std::string(100, 'a'));
  std::string line(98, 'b');
  line += "\r\n";
  std::string big_message = "Subject: big\r\n\r\n";
  while (big_message.size() < 40 * MessageReader::kBufferSize) big_message += line;
  fs.AddFile(u"/src/big.eml", big_message);
  fs.AddFile(u"/src/z.eml", std::string(100, 'z'));
  fs.AddFolder(u"/out");
  // Each piece of the message takes a tenth of a second on this clock.
  auto now = std::chrono::steady_clock::time_point();
  fs.on_read = [&](const std::u16string&) { now += std::chrono::milliseconds(100); };
  struct Timed : RecordingEvents {
    std::chrono::steady_clock::time_point* clock = nullptr;
    std::vector<std::chrono::steady_clock::time_point> at;
    void ProgressInfo(const std::u16string& kind, const std::u16string& value,
                      const ArchiveProgress& progress) override {
      RecordingEvents::ProgressInfo(kind, value, progress);
      at.push_back(*clock);
    }
    void PercentDone(int32_t percent, const ArchiveProgress& progress) override {
      RecordingEvents::PercentDone(percent, progress);
      at.push_back(*clock);
    }
  } events;
  events.clock = &now;
  TarArchive archive(&events, fs, {1, SizingWalk::kBeforeWriting, [&] { return now; }});
  ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
  ASSERT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 1);

  for (size_t i = 1; i < events.at.size(); ++i) {
    EXPECT_LE(events.at[i] - events.at[i - 1], kEventInterval + std::chrono::milliseconds(100));
  }
  const auto big = std::count(events.paths.begin(), events.paths.end(), u"/src/big.eml");
  EXPECT_GE(big, 10) << "the same file again while it is stored";
  EXPECT_THAT(events.paths.front(), u"/src/a.eml");
  EXPECT_THAT(events.paths.back(), u"/src/z.eml");
  EXPECT_TRUE(std::is_sorted(events.percents.begin(), events.percents.end()));
  EXPECT_EQ(events.percents.back(), 100);

  // A stop asked for during the long message is honoured within the message.
  now = {};
  RecordingEvents stopper;
  int seen = 0;
  TarArchive stopped(&stopper, fs, {1, SizingWalk::kBeforeWriting, [&] { return now; }});
  stopper.on_info = [&](const std::u16string& path) {
    if (path == u"/src/big.eml" && ++seen == 3) stopped.Stop();
  };
  ASSERT_EQ(stopped.AddRootFolder(u"/src"), 1);
  EXPECT_EQ(stopped.WriteCompressedArchive(u"/out/other.tgz"), 0);
  EXPECT_THAT(Narrow(stopped.LastErrorText()), HasSubstr("was stopped"));
  EXPECT_EQ(stopper.paths.back(), u"/src/big.eml");
  EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(u"mail.tgz"));
}

TEST(TarArchive, RefusesBadSettingsWithAReason) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", kDated);
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
  fs.AddFolder(u"/other/folder.tgz");
  RecordingEvents events;

  TarArchive no_root(&events, fs, {});
  EXPECT_EQ(no_root.WriteCompressedArchive(u"/out/mail.tgz"), 0);
  EXPECT_THAT(Narrow(no_root.LastErrorText()), HasSubstr("No source folder"));

  const struct {
    std::u16string format;
    std::u16string destination;
    const char* reason;
  } cases[] = {
      {u"ustar", u"/out/mail.tgz", "The archive format \"ustar\" is not supported"},
      {u"", u"/out/mail.tgz", "is not supported"},
      {u"gnu", u"", "No destination file"},
      {u"gnu", u"/out/", "is a folder"},
      {u"gnu", u"/other/folder.tgz", "is a folder"},
      {u"gnu", u"/nowhere/mail.tgz", "The destination folder /nowhere/ does not exist"},
  };
  for (const auto& c : cases) {
    TarArchive archive(&events, fs, {});
    archive.SetArchiveFormat(c.format);
    ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
    EXPECT_EQ(archive.WriteCompressedArchive(c.destination), 0);
    EXPECT_THAT(Narrow(archive.LastErrorText()), HasSubstr(c.reason));
    ExpectNothingLeftBehind(fs);
  }
  EXPECT_TRUE(events.paths.empty());
}

TEST(TarArchive, RootMustBeAFolderThatCanBeListed) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", kDated);
  fs.AddFile(u"/file.eml", kDated);
  fs.AddFolder(u"/locked").unlistable = true;
  fs.AddFolder(u"/work/src");
  RecordingEvents events;
  TarArchive archive(&events, fs, {});
  const struct {
    std::u16string path;
    int32_t expected;
    const char* reason;
  } cases[] = {
      {u"", 0, "No source folder"},
      {u"/missing", 0, "does not exist"},
      {u"/file.eml", 0, "is not a folder"},
      {u"/locked", 0, "Cannot list the folder /locked/"},
      {u"/src", 1, ""},
      {u"/src/", 1, ""},
      {u"/src//", 1, ""},
      {u"src", 1, ""},  // relative: taken from the current folder
  };
  for (const auto& c : cases) {
    EXPECT_EQ(archive.AddRootFolder(c.path), c.expected) << Narrow(c.path);
    EXPECT_THAT(Narrow(archive.LastErrorText()), HasSubstr(c.reason));
  }
  // A failed AddRootFolder leaves no root behind from an earlier success.
  ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
  ASSERT_EQ(archive.AddRootFolder(u"/missing"), 0);
  fs.AddFolder(u"/out");
  EXPECT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 0);
}

TEST(TarArchive, AnArchiveThatWouldReplaceOneOfTheTreesMessagesIsRefused) {
  for (const std::u16string destination :
       {u"/src/a.eml", u"/src/Inbox/b.eml", u"/src/Linked/b.eml", u"/mail/Inbox/b.eml"}) {
    SCOPED_TRACE(Narrow(destination));
    FakeFileSystem fs;
    fs.AddFile(u"/src/a.eml", kDated);
    fs.AddFile(u"/src/Inbox/b.eml", "b");
    fs.AddLink(u"/src/Linked", u"/src/Inbox");
    fs.AddLink(u"/mail", u"/src");  // the tree reached by another way
    RecordingEvents events;
    const Packed packed = PackFake(fs, u"/src", destination, 1, &events);
    EXPECT_EQ(packed.result, 0);
    EXPECT_THAT(Narrow(packed.error),
                HasSubstr("The archive would replace a message it has to store: " +
                          Narrow(destination)));
    EXPECT_TRUE(events.paths.empty()) << "refused before anything is written";
    EXPECT_EQ(fs.Find(u"/src/a.eml")->content, kDated);
    EXPECT_EQ(fs.Find(u"/src/Inbox/b.eml")->content, "b");
    EXPECT_THAT(fs.NamesIn(u"/src/Inbox"), ElementsAre(u"b.eml"));
  }
  // Reached only through a link inside the tree: the walk meets it and still refuses it, and the
  // message stays as it was.
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", kDated);
  fs.AddFile(u"/elsewhere/x.eml", "x");
  fs.AddLink(u"/src/Out", u"/elsewhere");
  const Packed packed = PackFake(fs, u"/src", u"/elsewhere/x.eml");
  EXPECT_EQ(packed.result, 0);
  EXPECT_THAT(Narrow(packed.error), HasSubstr("would replace a message it has to store"));
  EXPECT_EQ(fs.Find(u"/elsewhere/x.eml")->content, "x");
  EXPECT_THAT(fs.NamesIn(u"/elsewhere"), ElementsAre(u"x.eml"));
  // A message name that is not a message the walk stores is no loss: a new file, or one in the
  // top-level folder the importer skips.
  FakeFileSystem other;
  other.AddFile(u"/src/a.eml", kDated);
  other.AddFile(u"/src/__MACOSX/._a.eml", "resource fork");
  EXPECT_EQ(PackFake(other, u"/src", u"/src/new.eml").result, 1);
  EXPECT_EQ(PackFake(other, u"/src", u"/src/__MACOSX/._a.eml").result, 1);
}

TEST(TarArchive, DestinationAndItsTemporaryFileAreNeverStored) {
  const std::pair<bool, std::u16string> settings[] = {{true, u"/src/Inbox/mail.tgz"},
                                                      {true, u"/src/mail.tgz"},
                                                      {false, u"/src/Inbox/mail.tgz"},
                                                      {false, u"/src/mail.tgz"}};
  for (const auto& [unnamed, destination] : settings) {
    SCOPED_TRACE(Narrow(destination) + (unnamed ? ", made out of sight" : ", named"));
    FakeFileSystem fs;
    fs.unnamed_temporary_files = unnamed;
    fs.AddFile(u"/src/a.eml", kDated);
    fs.AddFile(u"/src/Inbox/b.eml", "b");
    fs.AddFile(u"/src/out.eml", "a message");
    std::vector<std::u16string> seen_in_folder;
    RecordingEvents events;
    const std::u16string folder = destination.substr(0, destination.rfind(u'/'));
    events.on_info = [&](const std::u16string&) { seen_in_folder = fs.NamesIn(folder); };
    const Packed packed = PackFake(fs, u"/src", destination, 2, &events);
    ASSERT_EQ(packed.result, 1) << Narrow(packed.error);
    EXPECT_THAT(NamesOf(packed.items), ElementsAre("a.eml", "out.eml", "Inbox/", "Inbox/b.eml"));
    // Named from the start, the temporary file sat beside the destination while the messages
    // were stored; made out of sight, it showed only when complete.
    EXPECT_EQ(std::any_of(seen_in_folder.begin(), seen_in_folder.end(),
                          [&](auto& name) { return IsTemporaryName(name); }),
              !unnamed);
    const size_t expected = destination == u"/src/Inbox/mail.tgz" ? 2 : 4;
    EXPECT_EQ(fs.NamesIn(folder).size(), expected) << "only the archive was added";
  }
}

TEST(TarArchive, FolderLinksAreFollowedExceptBackIntoTheWalk) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/Inbox/a.eml", "a");
  fs.AddFile(u"/src/Sent/s.eml", "s");
  fs.AddFile(u"/elsewhere/e.eml", "e");
  fs.AddLink(u"/src/Inbox/up", u"/src");               // an ancestor
  fs.AddLink(u"/src/Inbox/self", u"/src/Inbox");       // itself
  fs.AddLink(u"/src/Inbox/sent", u"/src/Sent");        // a sibling: not in the walk
  fs.AddLink(u"/src/Outside", u"/elsewhere");          // out of the tree
  fs.AddLink(u"/src/Gone", u"/nothing/here");          // dangling
  fs.AddLink(u"/src/link.eml", u"/src/Sent/s.eml");    // a link to a message: its content
  fs.AddFolder(u"/out");
  const Packed packed = PackFake(fs, u"/src", u"/out/mail.tgz");
  ASSERT_EQ(packed.result, 1) << Narrow(packed.error);
  EXPECT_THAT(NamesOf(packed.items),
              ElementsAre("link.eml", "Inbox/", "Inbox/a.eml", "Inbox/self/", "Inbox/sent/",
                          "Inbox/sent/s.eml", "Inbox/up/", "Outside/", "Outside/e.eml", "Sent/",
                          "Sent/s.eml"));
  EXPECT_EQ(packed.items[0].data, "s");
}

// Every message counted before the write is stored, or its absence is told: left out by name
// or place, or gone from its folder since.
TEST(TarArchive, TheReportAccountsForEveryCountedMessage) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/__MACOSX/Inbox/._a.eml", "resource fork");
  fs.AddFile(u"/src/Inbox/__MACOSX/kept.eml", "a real message");
  fs.AddFile(u"/src/Inbox/b.eml", "Subject: b\n\nbody\n");
  fs.AddFile(u"/src/Inbox/notes.eml.txt", "not a message");
  fs.AddFolder(u"/out");
  RecordingEvents events;
  TarArchive archive(&events, fs, {1, SizingWalk::kBesideTheWriter, StillClock()});
  ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
  archive.SetCountedMessages(
      {{u"__MACOSX/Inbox/", 1}, {u"Inbox/", 3}, {u"Inbox/__MACOSX/", 1}, {u"Gone/", 309}});
  ASSERT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 1);
  EXPECT_THAT(NamesOf(ReadArchiveBytes(fs.Find(u"/out/mail.tgz")->content)),
              ElementsAre("Inbox/", "Inbox/b.eml", "Inbox/__MACOSX/", "Inbox/__MACOSX/kept.eml"));
  const RunReport& report = archive.Report();
  EXPECT_EQ(report.counted, 314);
  ASSERT_EQ(report.shortfall.size(), 2u);
  EXPECT_EQ(report.shortfall[0].folder, u"Gone");
  EXPECT_TRUE(report.shortfall[0].gone);
  EXPECT_EQ(report.shortfall[1].folder, u"Inbox");
  EXPECT_EQ(report.shortfall[1].found, 1);
  ASSERT_EQ(report.left_out.size(), 2u);
  EXPECT_EQ(report.left_out[0].path, u"/src/Inbox/notes.eml.txt");
  EXPECT_EQ(report.left_out[1].path, u"/src/__MACOSX/Inbox/._a.eml");
}

TEST(TarArchive, StopFromAHandlerRemovesTheTemporaryFileAtOnce) {
  for (unsigned threads : {1u, 3u}) {
    FakeFileSystem fs;
    fs.AddFile(u"/src/a.eml", std::string(400000, 'a'));
    fs.AddFile(u"/src/b.eml", std::string(400000, 'b'));
    fs.AddFile(u"/out/mail.tgz", "the previous archive");
    RecordingEvents events;
    TarArchive archive(&events, fs, {threads, SizingWalk::kBesideTheWriter, StillClock()});
    std::vector<std::u16string> after_stop;
    events.on_info = [&](const std::u16string& path) {
      if (path != u"/src/b.eml") return;
      archive.Stop();
      after_stop = fs.NamesIn(u"/out");  // as the process would leave it, ending here
      archive.Stop();                    // twice is harmless
    };
    archive.Stop();  // not writing: nothing happens
    ASSERT_EQ(archive.AddRootFolder(u"/src/"), 1);
    EXPECT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 0);
    EXPECT_THAT(after_stop, ElementsAre(u"mail.tgz"));
    EXPECT_THAT(Narrow(archive.LastErrorText()), HasSubstr("was stopped"));
    ExpectNothingLeftBehind(fs);
    EXPECT_THAT(events.paths, ElementsAre(u"/src/a.eml", u"/src/b.eml"));

    // The same instance writes again afterwards.
    events.on_info = nullptr;
    EXPECT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 1);
    EXPECT_EQ(archive.MessagesStored(), 2);
  }
}

TEST(TarArchive, AHandlerThatThrowsLeavesNothingBehind) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", std::string(300000, 'a'));
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
  RecordingEvents events;
  TarArchive archive(&events, fs, {3, SizingWalk::kBesideTheWriter, StillClock()});
  events.on_info = [](const std::u16string&) { throw std::runtime_error("handler failed"); };
  ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
  EXPECT_THROW(archive.WriteCompressedArchive(u"/out/mail.tgz"), std::runtime_error);
  ExpectNothingLeftBehind(fs);
  events.on_info = nullptr;
  EXPECT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 1);
}

TEST(TarArchive, ASecondWriteFromInsideAHandlerIsRefused) {
  FakeFileSystem fs;
  fs.AddFile(u"/src/a.eml", kDated);
  fs.AddFolder(u"/out");
  RecordingEvents events;
  TarArchive archive(&events, fs, {});
  int32_t inner = -1;
  std::u16string inner_error;
  events.on_info = [&](const std::u16string&) {
    inner = archive.WriteCompressedArchive(u"/out/other.tgz");
    inner_error = archive.LastErrorText();
  };
  ASSERT_EQ(archive.AddRootFolder(u"/src"), 1);
  EXPECT_EQ(archive.WriteCompressedArchive(u"/out/mail.tgz"), 1);
  EXPECT_EQ(inner, 0);
  EXPECT_THAT(Narrow(inner_error), HasSubstr("already being written"));
  EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(u"mail.tgz"));
}

}  // namespace
}  // namespace mailsheaf::testing
