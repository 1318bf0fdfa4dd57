#pragma once
// An in-memory file system behind the archive writer's seam, "/"-separated, with faults on cue.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mail/file_system.h"

namespace mailsheaf::testing {

class FakeFileSystem : public FileSystem {
 public:
  struct Node {
    enum Kind { kFolder, kFile, kLink } kind = kFile;
    std::string content;
    int64_t mtime = 1000000000;
    std::u16string link_target;  // absolute
    uint64_t id = 0;
    // Faults.
    bool unreadable = false;            // OpenRead fails
    bool unlistable = false;            // ListFolder fails
    bool unexaminable = false;          // listed, but its kind cannot be examined
    bool identity_unreadable = false;   // FolderIdentity fails (an offline mount, say)
    uint64_t stamp = 0;                 // changes with every rewrite: the file's change time
    bool bad_name = false;              // listed as not UTF-8
    bool device = false;                // stands for a device or a pipe
    std::optional<uint64_t> reported_size;  // what Size() says, when it differs from content
    std::optional<size_t> read_error_after; // Read fails once this many bytes were read
    // Writing: a file some running write has open (RemoveStaleFiles must leave it).
    bool held = false;
  };

  // The longest name a file can be created with, in units, as on the real systems.
  static constexpr size_t kLongestName = 255;

  FakeFileSystem();

  // Creating; parents are made as needed. Paths are absolute, "/"-separated, UTF-16.
  Node& AddFolder(const std::u16string& path);
  Node& AddFile(const std::u16string& path, std::string content, int64_t mtime = 1000000000);
  Node& AddLink(const std::u16string& path, const std::u16string& target);
  void Delete(const std::u16string& path);
  // New contents in place, as an editor saving over the file would; the change time moves.
  void Rewrite(const std::u16string& path, std::string content);
  Node* Find(const std::u16string& path);  // follows links
  std::vector<std::u16string> NamesIn(const std::u16string& folder);

  // Which way temporary files are made: out of sight until committed (O_TMPFILE), or named
  // from the start (the fallback, where only a later run's cleanup removes what a killed run
  // left).
  bool unnamed_temporary_files = true;
  // Writing faults: the flush, the naming of a file made out of sight, the move over the
  // destination.
  std::optional<size_t> disk_space;  // total bytes that can still be written
  bool fail_commit = false;
  bool fail_link = false;
  bool fail_replace = false;
  // Called for every Write of a file being written, before it lands (e.g. to look around).
  std::function<void()> on_write;
  // Called after every successful ListFolder, and before every OpenRead, outside the tree's lock
  // (e.g. to hold one walk back until another has got somewhere).
  std::function<void(const std::u16string& path)> on_listed;
  // A walk caught in a link cycle would never end: past this many listings the fake fails the
  // test and answers every listing with an error, so the walk stops.
  size_t listing_cap = 20000;
  std::function<void(const std::u16string& path)> on_open_read;
  // Called before every Read of a message, outside the tree's lock.
  std::function<void(const std::u16string& path)> on_read;

  // FileSystem.
  char16_t Separator() const override { return u'/'; }
  std::u16string AbsolutePath(const std::u16string& path) const override;
  bool SameName(const std::u16string& a, const std::u16string& b) const override { return a == b; }
  bool IsFolder(const std::u16string& path) const override;
  bool Exists(const std::u16string& path) const override;
  bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries,
                  std::u16string& error) override;
  Lookup FolderIdentity(const std::u16string& path, FileIdentity& identity,
                        std::u16string& error) override;
  std::unique_ptr<ReadableFile> OpenRead(const std::u16string& path,
                                         std::u16string& error) override;
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path,
                                          std::u16string& error) override;
  bool WriteTarget(const std::u16string& path, std::u16string& target,
                   std::u16string& error) override;
  bool RemoveFile(const std::u16string& path, std::u16string& error) override;
  void RemoveStaleFiles(const std::u16string& folder) override;

  std::recursive_mutex& mutex() { return tree_mutex_; }

 private:
  struct Tree;
  Node* Resolve(const std::u16string& path, bool follow_last, int depth = 0) const;
  Node* Parent(const std::u16string& path, std::u16string& name);
  // The folder at a path, or null with the error a real system would give for listing it.
  const Node* ListableFolder(const std::u16string& path, std::u16string& error) const;
  bool ListLocked(const std::u16string& path, std::vector<FolderEntry>& entries,
                  std::u16string& error);

  std::shared_ptr<Tree> tree_;
  mutable std::recursive_mutex tree_mutex_;
  uint64_t next_id_ = 1;
  std::atomic<size_t> listings_{0};
};

}  // namespace mailsheaf::testing
