#include "mail/folder_names.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/run_report.h"
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

TEST(FolderNames, EachPlaceHasItsRulesAndEveryChangeSaysWhy) {
  const struct {
    std::u16string name;
    FolderPlace place;
    std::u16string stored;
    const char* why;  // a part of the reason; empty when the name is kept
  } cases[] = {
      {u"Contacts", FolderPlace::kTop, u"Contacts (mail)", "Contacts folder cannot hold mail"},
      {u"CALENDAR", FolderPlace::kTop, u"CALENDAR (mail)", "Calendar"},
      {u"Tasks ", FolderPlace::kTop, u"Tasks (mail)", "Tasks"},
      {u"Files shared with me", FolderPlace::kTop, u"Files shared with me (mail)", "Files"},
      {u"Contacts", FolderPlace::kDeeper, u"Contacts", ""},
      {u"Contacts 2", FolderPlace::kTop, u"Contacts 2", ""},
      {u"Sent Items", FolderPlace::kTop, u"Sent", "Sent folder"},
      {u"sent messages", FolderPlace::kTop, u"Sent", "Sent folder"},
      {u"SENT MAIL ", FolderPlace::kTop, u"Sent", "Sent folder"},
      {u"Sent Items", FolderPlace::kDeeper, u"Sent Items", ""},
      {u"Deleted Items", FolderPlace::kTop, u"Deleted Items", ""},
      {u"Old: 2019", FolderPlace::kBelowTopJunk, u"Junk - Old_ 2019", "Junk takes no sub"},
      {u"a\tb", FolderPlace::kDeeper, u"a_b", "control characters"},
      {u"  ", FolderPlace::kTop, u"_", "blank"},
      {std::u16string(300, u'x'), FolderPlace::kDeeper, std::u16string(255, u'x'), "255"},
      {u"Inbox", FolderPlace::kTop, u"Inbox", ""},
  };
  for (const auto& c : cases) {
    const StoredFolderName stored = NameToStore(c.name, c.place);
    EXPECT_EQ(stored.name, c.stored) << Utf16ToUtf8(c.name);
    EXPECT_NE(Utf16ToUtf8(stored.why).find(c.why), std::string::npos) << Utf16ToUtf8(stored.why);
    EXPECT_EQ(stored.why.empty(), *c.why == 0) << Utf16ToUtf8(c.name);
  }
  EXPECT_TRUE(IsJunkFolder(u"JUNK  "));
  EXPECT_FALSE(IsJunkFolder(u"Junk mail"));
  EXPECT_EQ(EmptiedSystemFolder(u"trash"), u"Trash");
  EXPECT_EQ(EmptiedSystemFolder(u"Junk - Old"), u"");
}

TEST(FolderNames, PathsThatZimbraTakesForOneShareAKey) {
  EXPECT_EQ(MergeKey(u"Work /Q1/"), MergeKey(u"WORK/q1 /"));
  EXPECT_EQ(MergeKey(u"\u0141\u00f3d\u017a/"), MergeKey(u"\u0142\u00f3d\u017a/"));
  EXPECT_EQ(MergeKey(u"\u0388\u03c1\u03b3\u03b1/"), MergeKey(u"\u03ad\u03c1\u03b3\u03b1/"));
  EXPECT_NE(MergeKey(u"Work/Q1/"), MergeKey(u"Work/Q2/"));
  EXPECT_NE(MergeKey(u" Work/"), MergeKey(u"Work/")) << "only trailing spaces are trimmed";
}

TEST(RunReport, SaysWhatHappenedInPlainWordsAndOnlyThat) {
  RunReport report;
  EXPECT_TRUE(report.Empty());
  EXPECT_EQ(ReportText(report, u"/out/mail.tgz", u"\n"), u"");
  report.other_files[u"Thumbs.db"] = 2;
  EXPECT_TRUE(report.Empty()) << "other files alone are no reason for a report";

  report.stored = 5;
  report.renamed_folders.push_back({u"Contacts", u"Contacts (mail)", u"why"});
  const std::string adjusted = Utf16ToUtf8(ReportText(report, u"/out/mail.tgz", u"\n"));
  EXPECT_EQ(adjusted.find("Mailsheaf wrote the archive \"/out/mail.tgz\" with 5 messages, "
                          "adjusted where needed so that Zimbra takes in every one.\n"),
            0u) << adjusted;

  report.shortfall.push_back({u"Old", 309, 0, true});
  report.shortfall.push_back({u"", 4, 3, false});
  report.refused.push_back({u"/m/x.eml", u"it has a long line"});
  report.renamed_folders.push_back({u"Work \n", u"Work _", u"control characters"});
  report.renamed_messages.push_back({u"/m/R\xDCE9union.eml", u"R\u00e9union.eml", u"1252"});
  report.reencoded.push_back({u"/m/y.eml", u""});
  report.left_out.push_back({u"/m/a.emlx", u"an Apple Mail message file"});
  report.merging.push_back({{u"Contacts", u"Contacts (mail)"}, {u"Contacts (mail)", u"Contacts (mail)"}});
  report.emptied[u"Trash"] = 7;
  const std::string text = Utf16ToUtf8(ReportText(report, u"/out/mail.tgz", u"\r\n"));
  for (const char* line :
       {"Mailsheaf wrote the archive \"/out/mail.tgz\" with 5 messages; 310 messages counted when "
        "the folder was chosen were no longer there; Zimbra will refuse 1 message of them.\r\n",
        "  \"Old\": 309 counted, the folder is gone\r\n",
        "  the chosen folder: 4 counted, 3 found\r\n", "  \"/m/x.eml\": it has a long line\r\n",
        "  \"Work \\n\" -> \"Work _\": control characters\r\n",
        "  \"/m/R\\xE9union.eml\" -> \"R\xC3\xA9union.eml\": 1252\r\n", "  \"/m/y.eml\"\r\n",
        "  2 Thumbs.db\r\n",
        "  \"Contacts\" (stored as \"Contacts (mail)\"), \"Contacts (mail)\"\r\n",
        "7 messages go into Zimbra's own Trash folder."}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  EXPECT_EQ(text.find("takes in every"), std::string::npos) << "not while it will refuse one";
  EXPECT_EQ(Utf16ToUtf8(ReportSummary(report)),
            "310 counted messages no longer there, 1 message Zimbra will refuse, 3 names changed, "
            "1 message re-encoded, 1 file left out, 1 group of folders merges, 7 messages in "
            "Trash or Junk.");
  EXPECT_EQ(ReportFileName(u"ZimbraMailbox9.1.15 14.5.07.tgz"),
            u"ZimbraMailbox9.1.15 14.5.07 - report.txt");
  EXPECT_EQ(ReportFileName(u"archive"), u"archive - report.txt");
}

}  // namespace
}  // namespace mailsheaf
