#pragma once
// A header field with a line too long for the importer, made acceptable without changing what
// it says: line ends put before white space (unfolding gives the same value back), and in an
// unstructured field (Subject and the like) a word too long to fold split into encoded words
// (RFC 2047), which decode to exactly its bytes.

#include <optional>
#include <string>
#include <string_view>

namespace mailsheaf {

// The field (its folded lines and their line ends) with no line over the limit, or nothing
// when that cannot be done exactly.
std::optional<std::string> FoldedField(std::string_view field, const std::string& eol);

}  // namespace mailsheaf
