#pragma once
// Fixed texts of the program that are not control captions.

#include <string_view>

namespace mailsheaf {

// The caption of every message box unless a handler names another.
inline constexpr std::u16string_view kAppTitle = u"Mailsheaf";

inline constexpr std::u16string_view kWindowTitle = u"Corvane Mailsheaf v3.0";

inline constexpr std::u16string_view kHelpAddress = u"https://www.corvane.example/mailsheaf/help";

inline constexpr std::u16string_view kCopyrightLine =
    u"Copyright \u00A9 2026 Corvane. Support: support@corvane.example";

inline constexpr std::u16string_view kNotSelected = u"< Not Selected >";

inline constexpr std::u16string_view kExitQuestion = u"Are you sure you want to exit now?";

}  // namespace mailsheaf
