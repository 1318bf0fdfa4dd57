// "Send to Mail Account..." on the portable window: the button's states, the dialog's outcomes
// (a failure said and tried again, the certificate question, cancel), the run with its
// progress and boxes, and Stop answered No. The account, its check and the run are scripted.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/frm_step1.h"
#include "base/text.h"
#include "tests/support/app_fakes.h"
#include "tests/support/fake_system.h"

namespace mailsheaf {
namespace {

// Whether the text holds the part; the text shown when it does not.
::testing::AssertionResult Holds(const std::u16string& text, std::u16string_view part) {
  if (text.find(part) != std::u16string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Utf16ToUtf8(text);
}

class ScriptedRoute final : public AccountRoute, AccountCheck, AccountSettings {
 public:
  // AccountCheck: each attempt's outcome in turn.
  AccountCheckOutcome Check(AccountChoice& choice, const std::function<bool()>&) override {
    checked.push_back(choice);
    const AccountCheckOutcome outcome = outcomes.empty() ? AccountCheckOutcome{true, {}, {}}
                                                         : outcomes.front();
    if (!outcomes.empty()) outcomes.erase(outcomes.begin());
    return outcome;
  }
  AccountChoice Load() override { return remembered; }
  void Save(const AccountChoice& choice) override { saved.push_back(choice); }
  void Forget() override { forgotten = true; }
  AccountCheck& Check() override { return *this; }
  AccountSettings& Settings() override { return *this; }

  class ScriptedRun final : public AccountUpload {
   public:
    explicit ScriptedRun(ScriptedRoute& route) : route_(route) {}
    AccountRunResult Run(const std::u16string&, const AccountChoice& choice,
                         UploadEvents& events) override {
      route_.ran.push_back(choice);
      UploadProgress p;
      p.messages_total = 4;
      for (int i = 1; i <= 4; ++i) {
        p.messages_done = i;
        p.current_file = u"C:\\root\\" + DecimalText(i) + u".eml";
        events.Progress(p);
        if (events.StopRequested()) break;
      }
      return route_.result;
    }

   private:
    ScriptedRoute& route_;
  };
  std::unique_ptr<AccountUpload> CreateUpload() override { return std::make_unique<ScriptedRun>(*this); }

  std::vector<AccountCheckOutcome> outcomes;
  std::vector<AccountChoice> checked, saved, ran;
  AccountChoice remembered;
  bool forgotten = false;
  AccountRunResult result;
};

// The dialog as a person fills it: each attempt typed in turn, OK after each; cancelled when
// the attempts run out before a check logs in.
class DialogUi final : public testing::RecordingUi {
 public:
  std::optional<AccountChoice> ShowAccountDialog(WindowHandle, const AccountChoice& initial,
                                                 AccountCheck& check) override {
    shown.push_back(initial);
    for (AccountChoice typed : attempts) {
      const AccountCheckOutcome outcome = check.Check(typed, [] { return false; });
      if (outcome.logged_in) return typed;
      said.push_back(outcome.why);
    }
    return std::nullopt;
  }
  std::vector<AccountChoice> attempts, shown;
  std::vector<std::u16string> said;
};

AccountChoice Typed(std::string password, bool remember = true) {
  AccountChoice c;
  c.host = u"mail.example.org";
  c.user = u"alice@example.org";
  c.password = std::move(password);
  c.remember = remember;
  return c;
}

class AccountRouteTest : public ::testing::Test {
 protected:
  AccountRouteTest() {
    fake->AddFile(u"C:\\root\\a.eml");
    form.SetAccountRoute(&route);
  }
  void Select() {
    ui.chosenFolder = u"C:\\root";
    form.Click(ControlId::CmdAddFolder);
    ui.messages.clear();
  }
  bool Enabled(ControlId id) const { return form.Control(id).enabled; }

  testing::ScopedFakeSystem fake;
  DialogUi ui;
  testing::RecordingShell shell;
  testing::RecordingHost host;
  testing::FixedClock clock;
  testing::ScriptedTarFactory tars;
  ScriptedRoute route;
  FrmStep1 form{ui, shell, host, clock, tars, fake};
};

TEST_F(AccountRouteTest, TheButtonIsAvailableExactlyWhenStartIs) {
  EXPECT_FALSE(Enabled(ControlId::CmdSendToAccount));
  Select();
  EXPECT_TRUE(Enabled(ControlId::CmdSendToAccount));
  bool during = true;
  host.onYieldToQueue = [&] {
    if (form.Control(ControlId::CmdStop).visible) {
      during = during && !Enabled(ControlId::CmdSendToAccount) && !Enabled(ControlId::CmdConvertTGZ);
    }
  };
  ui.attempts = {Typed("right")};
  form.Click(ControlId::CmdSendToAccount);
  EXPECT_TRUE(during);
  EXPECT_TRUE(Enabled(ControlId::CmdSendToAccount));
  EXPECT_TRUE(Enabled(ControlId::CmdConvertTGZ));
}

TEST_F(AccountRouteTest, TheDialogsOutcomes) {
  const CertificateQuestion question{"AB:CD", u"mail.example.org", u"Example CA", 0, 86400 * 30};
  const struct {
    const char* what;
    std::vector<AccountCheckOutcome> outcomes;
    std::vector<AccountChoice> attempts;
    MessageAnswer answer;  // to the certificate question
    size_t runs;
    std::vector<std::u16string> said;
    std::string trusted;
  } cases[] = {
      {"a wrong password said in the dialog, then the right one",
       {{false, u"The server refused the account name or the password", {}}},
       {Typed("wrong"), Typed("right")}, MessageAnswer::No, 1,
       {u"The server refused the account name or the password"}, ""},
      {"cancelled", {{false, u"Could not connect", {}}}, {Typed("x")}, MessageAnswer::No, 0,
       {u"Could not connect"}, ""},
      {"a certificate trusted: exactly that one, and remembered",
       {{false, u"not trusted", question}}, {Typed("right")}, MessageAnswer::Yes, 1, {}, "AB:CD"},
      {"a certificate not trusted", {{false, u"not trusted", question}}, {Typed("right")},
       MessageAnswer::No, 0, {u"The server's certificate was not trusted; nothing was sent."}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    route.outcomes = c.outcomes;
    route.ran.clear();
    route.saved.clear();
    ui.attempts = c.attempts;
    ui.said.clear();
    ui.answer = c.answer;
    Select();
    form.Click(ControlId::CmdSendToAccount);
    EXPECT_EQ(route.ran.size(), c.runs);
    EXPECT_EQ(ui.said, c.said);
    if (c.runs == 1) {
      EXPECT_EQ(route.ran[0].trusted_sha256, c.trusted);
      ASSERT_EQ(route.saved.size(), 1u);
      EXPECT_EQ(route.saved[0].trusted_sha256, c.trusted);
      EXPECT_EQ(form.Control(ControlId::LblDestination).text, u"alice@example.org at mail.example.org");
    }
    if (c.answer == MessageAnswer::Yes || !c.trusted.empty()) {
      EXPECT_TRUE(Holds(ui.messages.front().text, u"SHA-256 fingerprint:\r\nAB:CD"));
    }
  }
}

TEST_F(AccountRouteTest, TheOutcomeBoxCountsAndTheReportBoxSaysWhere) {
  route.result.report.mailboxes.resize(1);
  route.result.report.mailboxes[0].already_there = 1980;
  route.result.report.mailboxes[0].added = 20;
  route.result.report.mailboxes[0].refused.push_back({u"C:\\root\\x.eml", u"NO too big"});
  route.result.report_file = u"C:\\Users\\a\\AppData\\Local\\Mailsheaf\\x - report.txt";
  ui.attempts = {Typed("right", false)};
  Select();
  form.Click(ControlId::CmdSendToAccount);
  EXPECT_TRUE(route.forgotten);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_TRUE(Holds(ui.messages[0].text, u"1,980 already in the account, 20 added, 1 refused"));
  EXPECT_TRUE(Holds(ui.messages[1].text, route.result.report_file));
  EXPECT_TRUE(Enabled(ControlId::CmdOpen));
  form.Click(ControlId::CmdOpen);
  EXPECT_EQ(shell.opened.back(), u"C:\\Users\\a\\AppData\\Local\\Mailsheaf\\");
}

TEST_F(AccountRouteTest, StopAnsweredNoLetsTheRunCarryOnAndIsAskedAgainOnlyAfterAClick) {
  ui.attempts = {Typed("right")};
  int yields = 0;
  host.onYieldToQueue = [&] {
    if (form.Control(ControlId::CmdStop).visible && ++yields == 1) form.Click(ControlId::CmdStop);
  };
  Select();
  ui.answer = MessageAnswer::No;
  form.Click(ControlId::CmdSendToAccount);
  ASSERT_GE(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, u"Are you sure you want to Stop now ?");
  EXPECT_EQ(ui.messages[1].caption, u"Sent to the Mail Account");  // no second question
  EXPECT_EQ(host.Count("end"), 0);
  EXPECT_EQ(form.Control(ControlId::LblTarFile).text, u"4 of 4: C:\\root\\4.eml");

  host.onYieldToQueue = [&] {
    if (form.Control(ControlId::CmdStop).visible) form.Click(ControlId::CmdStop);
  };
  ui.answer = MessageAnswer::Yes;
  form.Click(ControlId::CmdSendToAccount);
  EXPECT_EQ(host.Count("end"), 1);
}

}  // namespace
}  // namespace mailsheaf
