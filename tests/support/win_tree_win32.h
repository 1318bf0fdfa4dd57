#pragma once
// Real folder trees in the temporary folder for the Windows tests that run on the system itself:
// Unicode names, paths past 260 characters (every call takes the long-path form). The tree goes
// with everything in it when the object does.

#include <string>
#include <vector>

namespace mailsheaf::testing {

class WinTree {
 public:
  WinTree();
  ~WinTree();
  WinTree(const WinTree&) = delete;
  WinTree& operator=(const WinTree&) = delete;

  // The absolute path of `relative` ("a\\b.eml") below the root (which has no trailing
  // backslash).
  std::u16string Path(const std::u16string& relative) const { return root_ + u"\\" + relative; }
  // Makes the folder and the folders on the way.
  void Folder(const std::u16string& relative) const;
  // Writes a file, making the folders on the way; fails the calling test when it cannot.
  void Write(const std::u16string& relative, const std::string& content) const;
  // The bytes of the file at the absolute path, or "<missing>".
  std::string Read(const std::u16string& path) const;
  // The names in a folder, "." and ".." left out, in the order the system lists them.
  std::vector<std::u16string> NamesIn(const std::u16string& relative) const;

 private:
  std::u16string root_;
};

}  // namespace mailsheaf::testing
