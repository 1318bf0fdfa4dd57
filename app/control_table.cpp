#include "app/control_table.h"

#include <array>

#include "app/app_texts.h"
#include "resources/resource_ids.h"

namespace mailsheaf {
namespace {

constexpr Colour kWhite = FixedColour(255, 255, 255);
constexpr Colour kShapeBorder = FixedColour(192, 192, 192);
constexpr Colour kHintYellow = FixedColour(255, 255, 192);
constexpr Colour kPathBlue = FixedColour(0, 0, 192);

constexpr FontDesign Tahoma(int centipoints, bool bold = false) {
  return FontDesign{u"Tahoma", centipoints, bold, kDefaultCharset};
}
constexpr FontDesign Verdana(int centipoints, bool bold = false, int charset = kDefaultCharset) {
  return FontDesign{u"Verdana", centipoints, bold, charset};
}

using K = ControlKind;
using C = Container;
using Id = ControlId;

constexpr ControlDesign Shape(Id id, std::u16string_view name, TwipsRect at, Colour fill) {
  ControlDesign s{id, name, K::Rectangle, C::Window, u"", at, {}};
  s.back = fill;
  s.border = kShapeBorder;
  return s;
}

constexpr ControlDesign Label(Id id, std::u16string_view name, C in, std::u16string_view text,
                            TwipsRect at, FontDesign font, Colour fore = kButtonText,
                            Colour back = kButtonFace) {
  ControlDesign s{id, name, K::Label, in, text, at, font};
  s.fore = fore;
  s.back = back;
  return s;
}

// A path cut at the label's edge, or broken over lines mid-name, hides what tells it apart: the
// name of the file or folder at its end.
constexpr ControlDesign PathLabel(Id id, std::u16string_view name, C in, TwipsRect at) {
  ControlDesign s = Label(id, name, in, kNotSelected, at, Tahoma(825), kPathBlue);
  s.literalText = true;
  s.shortensPath = true;
  return s;
}

constexpr ControlDesign Description() {
  ControlDesign s = Label(
      Id::Label3, u"Label3", C::Window,
      u"Mailsheaf supports conversion of (*.eml) email messages to Zimbra compatible mailbox "
      u"file. Converted file can be easily imported into Zimbra Web Client or Zimbra Desktop "
      u"via Import option.",
      {240, 960, 10095, 600}, Verdana(900));
  s.wraps = true;
  return s;
}

constexpr ControlDesign Button(Id id, std::u16string_view name, C in, std::u16string_view text,
                             TwipsRect at, FontDesign font, int tabIndex, bool enabled = true,
                             bool visible = true) {
  ControlDesign s{id, name, K::Button, in, text, at, font};
  s.tabIndex = tabIndex;
  s.enabled = enabled;
  s.visible = visible;
  return s;
}

constexpr ControlDesign Image(Id id, std::u16string_view name, TwipsRect at, int resource,
                            Colour back) {
  ControlDesign s{id, name, K::Image, C::Window, u"", at, {}};
  s.imageResource = resource;
  s.back = back;
  return s;
}

constexpr ControlDesign GuideLink() {
  ControlDesign s = Label(Id::Label4, u"Label4", C::Window,
                        u"Need Help - Read Step-by-Step Product Guide", {4680, 2280, 3375, 255},
                        Tahoma(825), FixedColour(0, 0, 255));
  s.pointingHand = true;
  return s;
}

// The file being stored shows here during a run, and before it the reading of the folders.
constexpr ControlDesign TarFileLabel() {
  ControlDesign s = PathLabel(Id::LblTarFile, u"LblTarFile", C::Frame1, {1920, 360, 7935, 495});
  s.alsoShows = kReadingMessageFolders;
  return s;
}

// Its caption follows the run: "Please Wait...", then "Conversion in Progress...".
constexpr ControlDesign StartButton() {
  ControlDesign s = Button(Id::CmdConvertTGZ, u"CmdConvertTGZ", C::Window, kStartConversion,
                           {3480, 5640, 3615, 555}, Verdana(1125, true, kCentralEuropeanCharset),
                           1, false);
  s.alsoShows = kConversionInProgress;
  return s;
}

constexpr ControlDesign Frame1() {
  return ControlDesign{Id::Frame1, u"Frame1", K::Frame, C::Window, u" Conversion Details ",
                     {240, 3360, 10095, 1335}, Verdana(900)};
}

constexpr ControlDesign ProgressBar() {
  return ControlDesign{Id::ProgressBar_tgz, u"ProgressBar_tgz", K::ProgressBar, C::Frame1, u"",
                     {1920, 960, 7935, 255}, {}};
}

constexpr ControlDesign Picture3() {
  ControlDesign s{Id::Picture3, u"Picture3", K::Panel, C::Window, u"", {0, 6480, 10455, 495}, {}};
  s.back = kWhite;
  return s;
}

constexpr std::array<ControlDesign, kControlCount> kControls = {{
    // Top banner
    Shape(Id::Shape2, u"Shape2", {0, 0, 10695, 855}, kWhite),
    Label(Id::lblTitle, u"lblTitle", C::Window, u"Corvane Mailsheaf", {240, 120, 6255, 375},
          Tahoma(1425, true), FixedColour(0, 0, 192), kWhite),
    Label(Id::lblCopyright, u"lblCopyright", C::Window, kCopyrightLine, {240, 480, 6135, 255},
          Tahoma(825), FixedColour(0, 0, 0), kWhite),
    // Description and hint
    Description(),
    Shape(Id::Shape3, u"Shape3", {240, 1560, 10095, 495}, kHintYellow),
    Image(Id::Image2, u"Image2", {360, 1680, 240, 240}, MAILSHEAF_IDI_HINT, kHintYellow),
    Label(Id::Label2, u"Label2", C::Window,
          u"First locate your folder having (*.eml) files && then select main folder having "
          u"*.eml files",
          {720, 1680, 9495, 255}, Tahoma(900, true), kButtonText, kHintYellow),
    // Source
    Button(Id::CmdAddFolder, u"CmdAddFolder", C::Window, u"Select folder having (*.eml) file(s)...",
           {240, 2160, 3735, 450}, Tahoma(900, true), 0),
    Image(Id::Image1, u"Image1", {4320, 2280, 240, 240}, MAILSHEAF_IDI_GUIDE, kButtonFace),
    GuideLink(),
    Label(Id::Label5, u"Label5", C::Window, u"Source Folder    : ", {240, 2680, 1575, 255},
          Tahoma(900)),
    PathLabel(Id::LblSource, u"LblSource", C::Window, {1800, 2685, 8415, 255}),
    Label(Id::LblCount, u"LblCount", C::Window, u"", {240, 3000, 9975, 255}, Tahoma(825, true),
          FixedColour(192, 0, 0)),
    // Conversion details
    Frame1(),
    Label(Id::Label8, u"Label8", C::Frame1, u"Reading File(s)     :", {240, 360, 2055, 375},
          Tahoma(825)),
    TarFileLabel(),
    Label(Id::Label1, u"Label1", C::Frame1, u"Progress Update  : ", {240, 960, 1575, 255},
          Tahoma(825)),
    ProgressBar(),
    // Destination
    Label(Id::Label6, u"Label6", C::Window, u"Destination File  : ", {240, 4900, 1455, 255},
          Tahoma(900)),
    PathLabel(Id::LblDestination, u"LblDestination", C::Window, {1800, 4900, 6375, 495}),
    Button(Id::CmdOpen, u"CmdOpen", C::Window, u"Open Saving Location", {8280, 4800, 2055, 450},
           Tahoma(900), 5, false),
    // Start and stop: the same rectangle, "Stop Conversion" above; beside them the account
    // route, available exactly when Start is
    StartButton(),
    Button(Id::CmdSendToAccount, u"CmdSendToAccount", C::Window, kSendToAccount,
           {7335, 5640, 3000, 555}, Verdana(900, true), 2, false),
    Button(Id::CmdStop, u"CmdStop", C::Window, u"Stop Conversion", {3480, 5640, 3615, 555},
           Verdana(1125, true, kCentralEuropeanCharset), 6, true, false),
    // Bottom band
    Shape(Id::Shape1, u"Shape1", {-120, 6360, 11175, 855}, kWhite),
    Picture3(),
    Button(Id::CmdHelp, u"CmdHelp", C::Picture3, u"&Help Manual", {240, 40, 1695, 450},
           Verdana(900), 4),
    Button(Id::cmdEnd, u"cmdEnd", C::Picture3, u"E&xit", {9000, 40, 1335, 450}, Verdana(900), 3),
}};

constexpr bool RowsFollowTheirIds() {
  for (int i = 0; i < kControlCount; ++i) {
    if (IndexOf(kControls[static_cast<std::size_t>(i)].id) != i) return false;
  }
  return true;
}
static_assert(RowsFollowTheirIds(), "every row must sit at the index of its ControlId");

constexpr WindowDesign kDesign{kWindowTitle, 10575, 7125, MAILSHEAF_IDI_APP,
                               MAILSHEAF_IDC_POINTING_HAND};

}  // namespace

std::span<const ControlDesign> ControlTable() { return kControls; }

const ControlDesign& DesignOf(ControlId id) {
  return kControls[static_cast<std::size_t>(IndexOf(id))];
}

const WindowDesign& FrmStep1Design() { return kDesign; }

}  // namespace mailsheaf
