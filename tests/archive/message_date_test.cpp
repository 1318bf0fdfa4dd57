#include "mail/message_date.h"
#include "mail/message_header.h"

#include <gtest/gtest.h>

#include <string>

namespace mailsheaf {
namespace {

constexpr int64_t k0736EDT = 1030016176;  // Thu, 22 Aug 2002 07:36:16 -0400
constexpr int64_t k0736UTC = 1030001776;  // Thu, 22 Aug 2002 07:36:16 +0000

struct DateCase {
  const char* text;
  std::optional<int64_t> expected;
};

void ExpectDates(const std::vector<DateCase>& cases) {
  for (const DateCase& c : cases) {
    EXPECT_EQ(ParseMessageDate(c.text), c.expected) << "\"" << c.text << "\"";
  }
}

TEST(ParseMessageDate, CurrentFormWithAndWithoutItsOptionalParts) {
  ExpectDates({
      {"Thu, 22 Aug 2002 07:36:16 -0400", k0736EDT},
      {"22 Aug 2002 07:36:16 -0400", k0736EDT},
      {"Thu, 22 Aug 2002 07:36:16 -0400 (EDT)", k0736EDT},
      {"thu, 22 aug 2002 07:36:16 -0400", k0736EDT},
      {"Thu, 22 Aug 2002 07:36 +0000", 1030001760},
      {"Thu, 22 Aug 2002 07:36:16 +1400", k0736UTC - 14 * 3600},
      {"Thu, 22 Aug 2002 21:36:16 -1400", 1030052176 + 14 * 3600},
      {"Sun, 29 Feb 2004 00:00:00 +0000", 1078012800},
      {"31 Dec 9999 23:59:59 +0000", 253402300799},
      {"01 Jan 1970 00:00:00 +0000", 0},
  });
}

TEST(ParseMessageDate, ObsoleteForms) {
  ExpectDates({
      // Comments and folding white space between every token, also around the colons.
      {" Thu (day) ,\r\n 22 (the day) Aug\r\n 2002 07 : 36 : 16 -0400 ((nested) comment)",
       k0736EDT},
      {"Thu, 22 Aug 02 07:36:16 -0400", k0736EDT},
      {"Sun, 22 Aug 49 07:36:16 +0000", 2513230576},
      {"Tue, 22 Aug 50 07:36:16 +0000", -610993424},
      {"22 Aug 102 07:36:16 +0000", k0736UTC},
      {"22 Aug 2002 07:36:16 EDT", k0736EDT},
      {"22 Aug 2002 07:36:16 edt", k0736EDT},
      {"22 Aug 2002 03:36:16 PST", k0736EDT},
      {"22 Aug 2002 04:36:16 PDT", k0736EDT},
      {"22 Aug 2002 06:36:16 CDT", k0736EDT},
      {"22 Aug 2002 07:36:16 GMT", k0736UTC},
      {"22 Aug 2002 07:36:16 UT", k0736UTC},
      // Military and unknown zones carry no usable offset: taken as -0000.
      {"22 Aug 2002 07:36:16 Z", k0736UTC},
      {"22 Aug 2002 07:36:16 A", k0736UTC},
      {"22 Aug 2002 07:36:16 CEST", k0736UTC},
  });
}

TEST(ParseMessageDate, LenientFormsSeenInRealMail) {
  ExpectDates({
      {"Thu 22 Aug 2002 07:36:16 -0400", k0736EDT},
      {"Thursday, 22 August 2002 07:36:16 -0400", k0736EDT},
      {"Thu, 22 Aug 2002 7:36:16 -0400", k0736EDT},
      {"22-Aug-2002 07:36:16 -0400", k0736EDT},
      {"Thu Aug 22 07:36:16 2002 -0400", k0736EDT},
      {"Thu, Aug 22 2002 07:36:16 -0400", k0736EDT},
      {"Thu, 22 Aug 2002 07:36:16.123 -0400", k0736EDT},
      {"Thu, 22 Aug 2002 09:36:16 +02", k0736UTC},
      {"Thu, 22 Aug 2002 09:36:16 GMT+0200", k0736UTC},
      {"Thu, 22 Aug 2002 7:36:6 -0400", k0736EDT - 10},
      {"Thu, 22 Aug 2002 13:06:16 0530", k0736UTC},
      {"Thu, 22 Aug 2002 07:36:16 -04:00", k0736EDT},
      {"Thursday, August 22, 2002 7:36 AM +0000", k0736UTC - 16},
      {"Thursday, August 22, 2002 7:36 PM GMT", k0736UTC - 16 + 12 * 3600},
      {"Thu, 22 Aug 2002 12:36:16 am -0400", k0736EDT - 7 * 3600},
      {"Thu, 22 Aug 2002 12:36:16 PM -0400", k0736EDT + 5 * 3600},
      // Zones that cannot be read cost the offset, not the date.
      {"Thu, 22 Aug 2002 07:36:16 +-0500", k0736UTC},
      {"Thu, 22 Aug 2002 07:36:16 +0160", k0736UTC},
      {"Thu, 22 Aug 2002 07:36:16 XYZ", k0736UTC},
      // Without a zone the clock could be anywhere: no date, rather than one hours off.
      {"Thu, 22 Aug 2002 07:36:16", std::nullopt},
      {"Thu Aug 22 07:36:16 2002", std::nullopt},
      {"Thursday, August 22, 2002 7:36 AM", std::nullopt},
      {"Thu, 22 Aug 2002 07:36:16.5", std::nullopt},
  });
}

TEST(ParseMessageDate, RejectsWhatIsNoDate) {
  ExpectDates({
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"yesterday", std::nullopt},
      {"Foo, 22 Aug 2002 07:36:16 -0400", std::nullopt},
      {"22 Aug 2002", std::nullopt},
      {"22 Aux 2002 07:36:16 -0400", std::nullopt},
      {"29 Feb 2003 07:36:16 +0000", std::nullopt},
      {"31 Apr 2002 07:36:16 +0000", std::nullopt},
      {"32 Jan 2002 07:36:16 +0000", std::nullopt},
      {"0 Jan 2002 07:36:16 +0000", std::nullopt},
      {"22 Aug 2002 24:00:00 +0000", std::nullopt},
      {"22 Aug 2002 13:00:00 PM +0000", std::nullopt},
      {"22 Aug 2002 0:00:00 AM +0000", std::nullopt},
      {"22 Aug 2002 07:60:00 +0000", std::nullopt},
      {"22 Aug 2002 07:123:00 +0000", std::nullopt},
      {"22 Aug 2002 07:36: +0000", std::nullopt},
      {"22 Aug 2002 07:36:61 +0000", std::nullopt},
      {"22 Aug 1899 07:36:16 +0000", std::nullopt},
      {"22 Aug 10000 07:36:16 +0000", std::nullopt},
      {"22 Aug 7 07:36:16 +0000", std::nullopt},
      {"122 Aug 2002 07:36:16 +0000", std::nullopt},
      {"22 Aug 2002 99999999999:36:16 +0000", std::nullopt},
  });
}

std::optional<int64_t> ScanWhole(const std::string& message) {
  MessageHeaderScanner scanner;
  scanner.Feed(reinterpret_cast<const unsigned char*>(message.data()), message.size());
  scanner.Finish();
  return scanner.Date();
}

std::optional<int64_t> ScanByteByByte(const std::string& message) {
  MessageHeaderScanner scanner;
  for (char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (scanner.Feed(&byte, 1)) break;
  }
  scanner.Finish();
  return scanner.Date();
}

TEST(MessageHeaderScanner, FindsTheFirstDateFieldOfTheHeaderSectionOnly) {
  const std::string date = "Date: Thu, 22 Aug 2002 07:36:16 -0400";
  const struct {
    std::string message;
    std::optional<int64_t> expected;
  } cases[] = {
      {"From a@b Thu Aug 22 12:36:23 2002\nReturn-Path: <a@b>\n" + date + "\n\nbody\n", k0736EDT},
      {"Subject: x\r\n" + date + "\r\n\r\nbody\r\n", k0736EDT},
      {"Date: Thu,\r\n 22 Aug 2002\r\n\t07:36:16 -0400\r\nSubject: folded\r\n\r\n", k0736EDT},
      {"DATE : Thu, 22 Aug 2002 07:36:16 -0400\n\n", k0736EDT},
      {"Resent-Date: Mon, 1 Jan 2001 00:00:00 +0000\nX-Date: Mon, 1 Jan 2001 00:00:00 +0000\n" +
           date + "\n\n",
       k0736EDT},
      {date + "\nDate: Mon, 1 Jan 2001 00:00:00 +0000\n\n", k0736EDT},
      {"Subject: no date\n\n" + date + "\n", std::nullopt},
      {"\n" + date + "\n", std::nullopt},
      {"Subject: x\n" + date, k0736EDT},  // the last field, and no body
      {"Date: sometime soon\n" + date + "\n\n", std::nullopt},
      {"Datex: Thu, 22 Aug 2002 07:36:16 -0400\n\n", std::nullopt},
      {"", std::nullopt},
      // Old Mac mail: a bare CR ends each line.
      {"Subject: x\r" + date + "\rStatus: RO\r\rbody\r", k0736EDT},
      {"Subject: x\r\r" + date + "\r", std::nullopt},
      // Text where the header fields should be: no header section at all.
      {"Hi Bob, the minutes follow\n" + date + "\n\nbody\n", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScanWhole(c.message), c.expected) << c.message;
    EXPECT_EQ(ScanByteByByte(c.message), c.expected) << c.message;
  }
}

// Where Date: cannot be used, the newest date a Received: field gives after its last ';' (one
// the importer can store), so that an undated message is dated alike on every run.
TEST(MessageHeaderScanner, NewestReceivedDateIsTheFallback) {
  const std::string older = "Received: from a by b; Thu, 22 Aug 2002 06:36:16 -0400\n";
  const std::string newer = "Received: from c (d; e)\n by f; Thu, 22 Aug 2002 07:36:16 -0400\n";
  const struct {
    std::string message;
    int64_t expected;
  } cases[] = {
      {older + newer + "Date: Mon, 1 Jan 0102 00:00:00 +0000\n\n", k0736EDT},
      {newer + older + "\n", k0736EDT},
      {"Received: from a by b; Sat, 1 Jan 2050 00:00:00 +0000\n" + older + "\n", k0736EDT - 3600},
      {"Received: from a by b\n\n", 0},
      {"Subject: x\n\n" + newer, 0},
  };
  for (const auto& c : cases) {
    MessageHeaderScanner scanner;
    scanner.Feed(reinterpret_cast<const unsigned char*>(c.message.data()), c.message.size());
    scanner.Finish();
    EXPECT_EQ(scanner.NewestReceived(), c.expected) << c.message;
  }
}

TEST(MessageHeaderScanner, StopsAtTheEndOfTheHeaderSectionAndAtItsLimit) {
  MessageHeaderScanner scanner;
  const std::string head = "Subject: x\n\n";
  EXPECT_TRUE(scanner.Feed(reinterpret_cast<const unsigned char*>(head.data()), head.size()));
  EXPECT_TRUE(scanner.Done());

  std::string huge;
  while (huge.size() <= MessageHeaderScanner::kLimit) huge += "X-Pad: " + std::string(70, 'p') + "\n";
  huge += "Date: Thu, 22 Aug 2002 07:36:16 -0400\n\n";
  EXPECT_EQ(ScanWhole(huge), std::nullopt);
}

TEST(MessageHeaderScanner, ReadStateFollowsMozillaStatusThenStatusElseRead) {
  const struct {
    std::string head;
    bool read;
  } cases[] = {
      {"Subject: x\n", true},
      {"X-Mozilla-Status: 0001\n", true},
      {"X-Mozilla-Status: 0000\n", false},
      {"X-Mozilla-Status: 8000\n", false},
      {"X-Mozilla-Status: 0011\r\n", true},
      {"x-mozilla-status:   0003  \n", true},
      {"X-Mozilla-Status: 0000\nStatus: RO\n", false},  // the Mozilla flags decide
      {"X-Mozilla-Status: 0001\nStatus: O\n", true},
      {"X-Mozilla-Status: zz\nStatus: RO\n", true},  // unreadable flags: Status decides
      {"Status: RO\n", true},
      {"Status: O\n", false},
      {"Status:\n", false},
      {"STATUS : R\n", true},
      {"X-Status: R\nStatus: O\n", false},
      {"Subject: x\n\nStatus: O\n", true},  // in the body: not the message's own
      {"Status: O\nX-Mozilla-Status: 0001\n", true},
      {"Subject: x\rX-Mozilla-Status: 0000\r", false},
  };
  for (const auto& c : cases) {
    const std::string message = c.head + "\nbody\n";
    MessageHeaderScanner whole;
    whole.Feed(reinterpret_cast<const unsigned char*>(message.data()), message.size());
    whole.Finish();
    EXPECT_EQ(whole.Read(), c.read) << c.head;
    MessageHeaderScanner bytewise;
    for (char ch : message) {
      const auto byte = static_cast<unsigned char>(ch);
      if (bytewise.Feed(&byte, 1)) break;
    }
    bytewise.Finish();
    EXPECT_EQ(bytewise.Read(), c.read) << c.head;
  }
}

}  // namespace
}  // namespace mailsheaf
