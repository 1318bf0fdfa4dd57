#pragma once
// Listing one folder entry by entry through find-first / find-next / find-close, on the wide
// route (long-path buffers, UTF-16 names) where the capability flags allow it and on the ANSI
// route elsewhere. Failures show only in the return values.

#include <cstdint>
#include <string>

#include "fs/capabilities.h"

namespace mailsheaf {

// One listing and the entry it returned last, owned by the caller.
//
//   state        how it is reached                        SearchHandle
//   fresh        made by the caller                        0
//   open         FindFirstEntry returned a handle          the handle
//   not opened   FindFirstEntry returned -1                -1
//   ended        FindNextEntry returned 0 (listing closed) 0
//   closed       CloseFind                                 -1
//
// Name is the current entry's name cut at its first NUL; a failing call leaves it as it was.
struct FindState {
  FindHandle SearchHandle = 0;
  std::u16string Name;
};

// Opens a listing of the search path (a folder followed by a pattern) and fills the state with
// its first entry. Returns the search handle, or -1 when no listing could be opened. Starts a
// new listing whatever the state holds; a listing still open in it is not closed.
FindHandle FindFirstEntry(System& system, const std::u16string& searchPath, FindState& state);

// Fills the state with the next entry. Returns non-zero when there was one; 0 at the end of the
// listing or on any failure, and then the listing has been closed (SearchHandle 0): the caller
// must not close it again.
int32_t FindNextEntry(System& system, FindState& state);

// Closes a listing that is stopped before its end. True when the close succeeded or there was
// nothing to close (SearchHandle 0 or -1, for which no system call is made). Leaves -1 behind.
bool CloseFind(System& system, FindState& state);

}  // namespace mailsheaf
