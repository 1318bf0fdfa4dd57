#include "archive/folder_names.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/run_report.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

TEST(FolderNames, WhatZimbraRefusesBecomesAnUnderscore) {
  EXPECT_EQ(AcceptedFolderName(u"Projects: 2020"), u"Projects_ 2020");
  EXPECT_EQ(AcceptedFolderName(u"Say \"hi\""), u"Say _hi_");
  EXPECT_EQ(AcceptedFolderName(u"a\tb\rc\nd\x01" u"e"), u"a_b_c_d_e");
  EXPECT_EQ(AcceptedFolderName(std::u16string(u"x\uFFFEy\uFFFF")), u"x_y_");
  EXPECT_EQ(AcceptedFolderName(u""), u"_");
  EXPECT_EQ(AcceptedFolderName(u"   "), u"_");
  EXPECT_EQ(AcceptedFolderName(u"Caf\u00e9 & \u65e5\u672c"), u"Caf\u00e9 & \u65e5\u672c");
  EXPECT_EQ(AcceptedFolderName(u"Work "), u"Work ") << "Zimbra trims it itself";

  // Cut to 255 UTF-16 units, never between the halves of a surrogate pair.
  EXPECT_EQ(AcceptedFolderName(std::u16string(300, u'a')).size(), 255u);
  const std::u16string clef = u"\U0001D11E";
  const std::u16string pairs = std::u16string(254, u'a') + clef;
  EXPECT_EQ(AcceptedFolderName(pairs), std::u16string(254, u'a'));
  EXPECT_EQ(AcceptedFolderName(std::u16string(253, u'a') + clef), std::u16string(253, u'a') + clef);
}

TEST(FolderNames, TopFoldersForOtherThingsThanMailAndJunk) {
  for (const char16_t* name : {u"Contacts", u"contacts", u"CALENDAR", u"Tasks ", u"Emailed Contacts",
                               u"briefcase", u"Files shared with me"}) {
    const std::u16string stored = TopFolderName(name);
    EXPECT_EQ(stored.substr(stored.size() - 7), u" (mail)") << Utf16ToUtf8(name);
  }
  EXPECT_EQ(TopFolderName(u"Tasks "), u"Tasks (mail)");
  EXPECT_EQ(TopFolderName(u"Contacts 2"), u"Contacts 2");
  EXPECT_EQ(TopFolderName(u"My Calendar"), u"My Calendar");
  EXPECT_EQ(TopFolderName(u"Inbox"), u"Inbox");

  EXPECT_TRUE(IsJunkFolder(u"Junk"));
  EXPECT_TRUE(IsJunkFolder(u"JUNK  "));
  EXPECT_FALSE(IsJunkFolder(u"Junk mail"));
  EXPECT_EQ(JunkSubFolderName(u"Old: 2019"), u"Junk - Old_ 2019");
  EXPECT_EQ(JunkSubFolderName(std::u16string(300, u'x')).size(), 255u);
}

TEST(FolderNames, PathsThatZimbraTakesForOneShareAKey) {
  EXPECT_EQ(MergeKey(u"Work/"), MergeKey(u"work/"));
  EXPECT_EQ(MergeKey(u"Work /Q1/"), MergeKey(u"WORK/q1 /"));
  EXPECT_EQ(MergeKey(u"\u0410\u0440\u0445\u0438\u0432/"), MergeKey(u"\u0430\u0440\u0445\u0438\u0432/"));
  EXPECT_NE(MergeKey(u"Work/Q1/"), MergeKey(u"Work/Q2/"));
  EXPECT_NE(MergeKey(u" Work/"), MergeKey(u"Work/")) << "only trailing spaces are trimmed";
}

TEST(RunReport, SaysOnlyWhatHappened) {
  RunReport report;
  EXPECT_TRUE(report.Empty());
  EXPECT_EQ(ReportText(report, u"/out/mail.tgz", u"\n"), u"");
  EXPECT_EQ(ReportSummary(report), u"");

  report.renamed_folders.push_back({u"Contacts", u"Contacts (mail)"});
  report.left_out.push_back({u"/m/._a.eml", u"not a message"});
  const std::string text = Utf16ToUtf8(ReportText(report, u"/out/mail.tgz", u"\r\n"));
  EXPECT_NE(text.find("  Contacts -> Contacts (mail)\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  /m/._a.eml: not a message\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("unread"), std::string::npos) << text;
  EXPECT_EQ(text.find("re-encoded"), std::string::npos) << text;
  EXPECT_EQ(ReportSummary(report), u"1 folder renamed, 1 file left out.");

  EXPECT_EQ(ReportFileName(u"mail.tgz"), u"mail - report.txt");
  EXPECT_EQ(ReportFileName(u"ZimbraMailbox9.1.15 14.5.07.tgz"),
            u"ZimbraMailbox9.1.15 14.5.07 - report.txt");
  EXPECT_EQ(ReportFileName(u"archive"), u"archive - report.txt");
}

}  // namespace
}  // namespace mailsheaf
