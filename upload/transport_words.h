#pragma once
// What both platforms' transports say when a wait ends without the server, in the same words,
// so that a user reads one sentence whichever system they run.

#include <string>
#include <string_view>

namespace mailsheaf {

// The words of a wait that the cancel check ended.
inline constexpr std::u16string_view kStoppedText = u"Stopped";

// "The server HOST did not answer within 20 seconds (during the TLS handshake)": `stage` says
// what it was doing ("while connecting", "while sending", ...).
std::u16string TimeoutText(const std::string& host, int timeout_ms, std::u16string_view stage);

}  // namespace mailsheaf
