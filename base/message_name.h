#pragma once
// Which files are messages. The scan counts them and the archive stores them by this one rule,
// so that the count the window shows is the number of messages the archive holds.

#include <string>
#include <string_view>

namespace mailsheaf {

// The find-first pattern the scan lists messages by.
inline constexpr std::u16string_view kMessagePattern = u"*.eml";

// A name the pattern matches, the long name only: one ending in ".eml" in any case. Nothing
// else is a message: not ".emlx", not ".eml.txt", not "eml" without its dot.
bool IsMessageName(const std::u16string& name);

}  // namespace mailsheaf
