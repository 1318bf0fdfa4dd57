#pragma once
// Fixed texts of the program that are not control captions.

#include <string_view>

namespace mailsheaf {

// The caption of every message box unless a handler names another.
inline constexpr std::u16string_view kAppTitle = u"Mailsheaf";

inline constexpr std::u16string_view kWindowTitle = u"Corvane Mailsheaf v3.0";

inline constexpr std::u16string_view kHelpTitle = u"Mailsheaf Help Manual";

inline constexpr std::u16string_view kCopyrightLine =
    u"Copyright \u00A9 2026 Corvane. Support: support@corvane.example";

inline constexpr std::u16string_view kNotSelected = u"< Not Selected >";

inline constexpr std::u16string_view kExitQuestion = u"Are you sure you want to exit now?";

// Folder selection.
inline constexpr std::u16string_view kChooseSourceTitle = u"Choose Source Folder...";
inline constexpr std::u16string_view kMessagesAnd = u" Messages && ";
inline constexpr std::u16string_view kFoldersQueued = u" Folder(s) Queued for Conversion.";
inline constexpr std::u16string_view kMessagesQueued = u" Messages Queued for Conversion.";
inline constexpr std::u16string_view kScanOverflow =
    u"The folder holds more messages or folders than can be counted (2147483647). "
    u"Counting stopped; choose a smaller folder.";
inline constexpr std::u16string_view kScanOutOfMemory =
    u"There was not enough memory to count the messages in this folder. Counting stopped.";
inline constexpr std::u16string_view kScanFailed =
    u"Counting the messages in this folder failed and was stopped.";

// The archive run.
inline constexpr std::u16string_view kProposedNameStart = u"ZimbraMailbox";
inline constexpr std::u16string_view kArchiveExtension = u".tgz";
inline constexpr std::u16string_view kSaveFilter = u"Zimbra Mailboxe(s) (*.tgz)|*.tgz";
inline constexpr std::u16string_view kArchiveFormat = u"gnu";
inline constexpr std::u16string_view kPleaseWait = u"Please Wait...";
inline constexpr std::u16string_view kStartConversion = u"Start Conversion";
inline constexpr std::u16string_view kConversionInProgress = u"Conversion in Progress...";
inline constexpr std::u16string_view kReadingMessageFolders = u"Reading Message Folder(s)...";
inline constexpr std::u16string_view kErrorReadingMessages = u"Error Reading Messages...";
inline constexpr std::u16string_view kErrorCreatingArchive = u"Error in Creating TGZ File...";
inline constexpr std::u16string_view kFileErrorText = u"Zimbra Mailbox File Creation Error !";
inline constexpr std::u16string_view kFileErrorCaption = u"File Error";
inline constexpr std::u16string_view kCompletedCaption = u"Completed...";
inline constexpr std::u16string_view kCompletedText =
    u"Messages Converted Successfully.\r\n"
    u"Click \"Open Saving Location\" button to view & locate converted file.\r\n"
    u"\r\n"
    u"Open Zimbra Desktop or Zimbra Web Client and use \"Import\" option to import emails from "
    u"converted .tgz file.\r\n";

// After a run that had to adjust something: "<n> messages were queued and <m> stored." and so on.
inline constexpr std::u16string_view kReportQueued = u" messages were queued and ";
inline constexpr std::u16string_view kReportStored = u" stored.";
inline constexpr std::u16string_view kReportWhere = u"The details are in the report beside the archive:";
inline constexpr std::u16string_view kReportNotWritten = u"The report could not be written: ";

// The account route.
inline constexpr std::u16string_view kSendToAccount = u"Send to &Mail Account...";
inline constexpr std::u16string_view kAccountDialogTitle = u"Send to Mail Account";
inline constexpr std::u16string_view kAccountAt = u" at ";
inline constexpr std::u16string_view kCertificateQuestionStart =
    u"The server's certificate is not vouched for by any authority this computer trusts.\r\n"
    u"\r\n";
inline constexpr std::u16string_view kCertificateQuestionEnd =
    u"\r\n"
    u"Trust exactly this certificate for this server from now on? Check its fingerprint with the "
    u"server's administrator first: a certificate you do not know may be someone listening in.";
inline constexpr std::u16string_view kCertificateNotTrusted =
    u"The server's certificate was not trusted; nothing was sent.";
inline constexpr std::u16string_view kAccountDoneCaption = u"Sent to the Mail Account";
inline constexpr std::u16string_view kAccountReportWhere = u"The details are in the report:";
inline constexpr std::u16string_view kAccountFailed = u"The messages could not all be sent.";

// Stopping.
inline constexpr std::u16string_view kStopQuestion = u"Are you sure you want to Stop now ?";

}  // namespace mailsheaf
