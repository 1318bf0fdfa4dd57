#pragma once
// Real folder trees in the temporary folder, for the tests that run the services against the
// system itself.

#include <string>

namespace mailsheaf::testing {

class TempTree {
 public:
  TempTree();   // a fresh, empty folder under the temporary folder
  ~TempTree();  // removes it with everything in it, however deep
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::wstring& root() const { return root_; }  // no trailing backslash

  // Relative paths; missing folders on the way are made. Work past 260 characters.
  void Folder(const std::wstring& relative) const;
  void File(const std::wstring& relative, unsigned long attributes = 0) const;

  // Makes a directory link at `relative` that leads to the folder `target` (absolute). Tries a
  // junction, then a symbolic link, then (under Wine, whose kernel32 makes neither) a POSIX
  // symbolic link, which Wine presents as a directory reparse point. Empty on success, else why
  // no link could be made.
  std::string DirectoryLink(const std::wstring& relative, const std::wstring& target) const;

 private:
  std::wstring root_;
};

// The long-path form of an absolute path, for the wide calls.
std::wstring Long(const std::wstring& path);

}  // namespace mailsheaf::testing
