#include "base/message_name.h"

#include "base/wildcard_match.h"

namespace mailsheaf {

bool IsMessageName(const std::u16string& name) { return MatchesWildcard(name, kMessagePattern); }

}  // namespace mailsheaf
