#include "tests/archive/support/fake_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "mail/temporary_name.h"

namespace mailsheaf::testing {

struct FakeFileSystem::Tree {
  // Every node by its normalised path (no trailing "/"; the root is "").
  std::map<std::u16string, Node> nodes;
};

namespace {

std::u16string Trimmed(std::u16string path) {
  while (!path.empty() && path.back() == u'/') path.pop_back();
  return path;
}

std::vector<std::u16string> Split(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

class FakeReadable final : public ReadableFile {
 public:
  FakeReadable(FakeFileSystem& fs, std::u16string path, const FakeFileSystem::Node& node)
      : fs_(fs),
        path_(std::move(path)),
        content_(node.content),
        size_(node.reported_size.value_or(node.content.size())),
        mtime_(node.mtime),
        stamp_(node.stamp),
        error_after_(node.read_error_after) {}
  int64_t Read(unsigned char* buffer, size_t capacity, std::u16string& error) override {
    if (fs_.on_read) fs_.on_read(path_);
    if (error_after_ && position_ >= *error_after_) {
      error = u"Input/output error";
      return -1;
    }
    size_t n = std::min(capacity, content_.size() - position_);
    if (error_after_) n = std::min(n, *error_after_ - position_);
    std::copy_n(content_.data() + position_, n, buffer);
    position_ += n;
    return static_cast<int64_t>(n);
  }
  bool Rewind(std::u16string&) override {
    position_ = 0;
    return true;
  }
  uint64_t Size() const override { return size_; }
  int64_t ModifiedTime() const override { return mtime_; }
  bool Unchanged(bool& unchanged, std::u16string& error) override {
    std::lock_guard<std::recursive_mutex> lock(fs_.mutex());
    const FakeFileSystem::Node* node = fs_.Find(path_);
    if (node == nullptr) {
      error = u"No such file or directory";
      return false;
    }
    unchanged = node->stamp == stamp_ &&
                node->reported_size.value_or(node->content.size()) == size_;
    return true;
  }

 private:
  FakeFileSystem& fs_;
  std::u16string path_;
  std::string content_;
  uint64_t size_;
  int64_t mtime_;
  uint64_t stamp_;
  std::optional<size_t> error_after_;
  size_t position_ = 0;
};

// Writes into its node in the tree once it has a name, into `content_` before that.
class FakeWritable final : public WritableFile {
 public:
  FakeWritable(FakeFileSystem& fs, std::u16string path, bool named)
      : fs_(fs), path_(std::move(path)), named_(named) {}
  ~FakeWritable() override { Close(); }

  bool Write(const unsigned char* data, size_t size, std::u16string& error) override {
    if (fs_.on_write) fs_.on_write();
    std::lock_guard<std::recursive_mutex> lock(fs_.mutex());
    if (fs_.disk_space) {
      if (*fs_.disk_space < size) {
        error = u"No space left on device";
        return false;
      }
      *fs_.disk_space -= size;
    }
    std::string* content = &content_;
    if (named_) {
      FakeFileSystem::Node* node = fs_.Find(path_);
      if (node == nullptr) {
        error = u"file vanished";
        return false;
      }
      content = &node->content;
    }
    content->append(reinterpret_cast<const char*>(data), size);
    return true;
  }

  bool Commit(std::u16string& error) override {
    std::lock_guard<std::recursive_mutex> lock(fs_.mutex());
    if (fs_.fail_commit) return Fail(u"Input/output error", error);
    if (!named_) {
      if (fs_.fail_link) return Fail(u"Operation not permitted", error);
      if (fs_.Exists(path_)) return Fail(u"File exists", error);
      fs_.AddFile(path_, std::move(content_)).held = true;
      named_ = true;
    }
    return true;
  }

  bool MoveOver(const std::u16string& name, std::u16string& error) override {
    std::lock_guard<std::recursive_mutex> lock(fs_.mutex());
    if (fs_.fail_replace) return Fail(u"Permission denied", error);
    FakeFileSystem::Node* node = fs_.Find(path_);
    if (!named_ || node == nullptr) return Fail(u"No such file or directory", error);
    FakeFileSystem::Node moved = *node;
    moved.held = false;
    fs_.Delete(path_);
    fs_.AddFile(path_.substr(0, path_.rfind(u'/') + 1) + name, "") = moved;
    named_ = false;
    return true;
  }

  void Close() override {
    std::lock_guard<std::recursive_mutex> lock(fs_.mutex());
    if (named_) fs_.Delete(path_);
    named_ = false;
    content_.clear();
  }

 private:
  bool Fail(const char16_t* reason, std::u16string& error) {
    error = reason;
    Close();
    return false;
  }

  FakeFileSystem& fs_;
  std::u16string path_;
  bool named_;
  std::string content_;
};

}  // namespace

FakeFileSystem::FakeFileSystem() : tree_(std::make_shared<Tree>()) {
  Node root;
  root.kind = Node::kFolder;
  root.id = next_id_++;
  tree_->nodes[u""] = root;
}

FakeFileSystem::Node* FakeFileSystem::Resolve(const std::u16string& path, bool follow_last,
                                              int depth) const {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  if (depth > 40) return nullptr;
  const std::vector<std::u16string> parts = Split(path);
  std::u16string current;
  for (size_t i = 0; i < parts.size(); ++i) {
    current += u"/" + parts[i];
    auto it = tree_->nodes.find(current);
    if (it == tree_->nodes.end()) return nullptr;
    if (it->second.kind == Node::kLink && (follow_last || i + 1 < parts.size())) {
      std::u16string rest;
      for (size_t k = i + 1; k < parts.size(); ++k) rest += u"/" + parts[k];
      return Resolve(it->second.link_target + rest, follow_last, depth + 1);
    }
  }
  auto it = tree_->nodes.find(current);
  return it == tree_->nodes.end() ? nullptr : &it->second;
}

FakeFileSystem::Node* FakeFileSystem::Find(const std::u16string& path) {
  return Resolve(path, true);
}

FakeFileSystem::Node& FakeFileSystem::AddFolder(const std::u16string& path) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  std::u16string current;
  for (const std::u16string& part : Split(path)) {
    current += u"/" + part;
    Node& node = tree_->nodes[current];
    if (node.id == 0) {
      node.kind = Node::kFolder;
      node.id = next_id_++;
    }
  }
  return tree_->nodes[Trimmed(path)];
}

FakeFileSystem::Node& FakeFileSystem::AddFile(const std::u16string& path, std::string content,
                                              int64_t mtime) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const std::u16string trimmed = Trimmed(path);
  AddFolder(trimmed.substr(0, trimmed.rfind(u'/')));
  Node& node = tree_->nodes[trimmed];
  node = Node{};
  node.kind = Node::kFile;
  node.content = std::move(content);
  node.mtime = mtime;
  node.id = next_id_++;
  return node;
}

FakeFileSystem::Node& FakeFileSystem::AddLink(const std::u16string& path,
                                              const std::u16string& target) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const std::u16string trimmed = Trimmed(path);
  AddFolder(trimmed.substr(0, trimmed.rfind(u'/')));
  Node& node = tree_->nodes[trimmed];
  node = Node{};
  node.kind = Node::kLink;
  node.link_target = Trimmed(target);
  node.id = next_id_++;
  return node;
}

void FakeFileSystem::Delete(const std::u16string& path) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const std::u16string trimmed = Trimmed(path);
  for (auto it = tree_->nodes.begin(); it != tree_->nodes.end();) {
    if (it->first == trimmed || it->first.rfind(trimmed + u"/", 0) == 0) {
      it = tree_->nodes.erase(it);
    } else {
      ++it;
    }
  }
}

void FakeFileSystem::Rewrite(const std::u16string& path, std::string content) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  Node* node = Find(path);
  if (node == nullptr) return;
  node->content = std::move(content);
  ++node->stamp;
}

std::vector<std::u16string> FakeFileSystem::NamesIn(const std::u16string& folder) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const std::u16string prefix = Trimmed(folder) + u"/";
  std::vector<std::u16string> names;
  for (const auto& [path, node] : tree_->nodes) {
    if (path.rfind(prefix, 0) == 0 && path.find(u'/', prefix.size()) == std::u16string::npos) {
      names.push_back(path.substr(prefix.size()));
    }
  }
  return names;
}

std::u16string FakeFileSystem::AbsolutePath(const std::u16string& path) const {
  if (path.empty() || path.front() == u'/') return path;
  return u"/work/" + path;
}

bool FakeFileSystem::IsFolder(const std::u16string& path) const {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const Node* node = Resolve(path, true);
  return node != nullptr && node->kind == Node::kFolder;
}

bool FakeFileSystem::Exists(const std::u16string& path) const {
  return Resolve(path, false) != nullptr;
}

bool FakeFileSystem::ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries,
                                std::u16string& error) {
  if (++listings_ > listing_cap) {
    ADD_FAILURE() << "more than " << listing_cap << " listings: does the walk go round a cycle?";
    error = u"Too many listings";
    return false;
  }
  const bool listed = ListLocked(path, entries, error);
  if (listed && on_listed) on_listed(path);
  return listed;
}

const FakeFileSystem::Node* FakeFileSystem::ListableFolder(const std::u16string& path,
                                                          std::u16string& error) const {
  const Node* folder = Resolve(path, true);
  if (folder == nullptr || folder->kind != Node::kFolder) {
    error = u"No such file or directory";
    return nullptr;
  }
  if (folder->unlistable) {
    error = u"Permission denied";
    return nullptr;
  }
  return folder;
}

bool FakeFileSystem::ListLocked(const std::u16string& path, std::vector<FolderEntry>& entries,
                                std::u16string& error) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  entries.clear();
  const Node* folder = ListableFolder(path, error);
  if (folder == nullptr) return false;
  // Listed in reverse name order: the writer must not rely on the listing's order.
  std::u16string real_path;
  for (const auto& [p, node] : tree_->nodes) {
    if (&node == folder) real_path = p;
  }
  std::vector<std::u16string> names = NamesIn(real_path);
  std::reverse(names.begin(), names.end());
  for (const std::u16string& name : names) {
    const std::u16string child = real_path + u"/" + name;
    const Node& node = tree_->nodes[child];
    FolderEntry entry;
    entry.name = name;
    entry.not_utf8 = node.bad_name;
    entry.mtime = node.mtime;
    if (node.unexaminable) {
      entry.examine_error = u"Permission denied";
    } else if (node.kind == Node::kLink) {
      entry.is_link = true;
      const Node* target = Resolve(child, true);
      entry.is_folder = target != nullptr && target->kind == Node::kFolder;
      if (target != nullptr && target->kind == Node::kFile) entry.size = target->content.size();
    } else {
      entry.is_folder = node.kind == Node::kFolder;
      entry.size = node.reported_size.value_or(node.content.size());
    }
    entries.push_back(entry);
  }
  return true;
}

Lookup FakeFileSystem::FolderIdentity(const std::u16string& path, FileIdentity& identity,
                                      std::u16string& error) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const Node* node = Resolve(path, true);
  if (node == nullptr || node->kind != Node::kFolder) {
    error = u"No such file or directory";
    return Lookup::kMissing;
  }
  if (node->identity_unreadable) {
    error = u"The device is not ready";
    return Lookup::kFailed;
  }
  identity = {7, node->id};
  return Lookup::kFound;
}

std::unique_ptr<ReadableFile> FakeFileSystem::OpenRead(const std::u16string& path,
                                                       std::u16string& error) {
  if (on_open_read) on_open_read(path);
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const Node* node = Resolve(path, true);
  if (node == nullptr) {
    error = u"No such file or directory";
    return nullptr;
  }
  if (node->kind != Node::kFile || node->unreadable) {
    error = u"Permission denied";
    return nullptr;
  }
  return std::make_unique<FakeReadable>(*this, path, *node);
}

std::unique_ptr<WritableFile> FakeFileSystem::CreateNew(const std::u16string& path,
                                                        std::u16string& error) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const std::u16string trimmed = Trimmed(path);
  if (ListableFolder(trimmed.substr(0, trimmed.rfind(u'/')), error) == nullptr) return nullptr;
  if (trimmed.size() - trimmed.rfind(u'/') - 1 > kLongestName) {
    error = u"File name too long";
    return nullptr;
  }
  if (Exists(trimmed)) {
    error = u"File exists";
    return nullptr;
  }
  if (!unnamed_temporary_files) AddFile(trimmed, "").held = true;
  return std::make_unique<FakeWritable>(*this, trimmed, !unnamed_temporary_files);
}

bool FakeFileSystem::WriteTarget(const std::u16string& path, std::u16string& target,
                                 std::u16string& error) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  target = Trimmed(path);
  for (int hops = 0; hops < 40; ++hops) {
    const auto it = tree_->nodes.find(target);
    if (it != tree_->nodes.end() && it->second.device) {
      error = NotAFile(path);
      return false;
    }
    if (it == tree_->nodes.end() || it->second.kind != Node::kLink) return true;
    target = it->second.link_target;
  }
  error = u"Too many levels of symbolic links";
  return false;
}

bool FakeFileSystem::RemoveFile(const std::u16string& path, std::u16string& error) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const auto it = tree_->nodes.find(Trimmed(path));
  if (it == tree_->nodes.end() || it->second.kind == Node::kFolder) {
    error = it == tree_->nodes.end() ? u"No such file or directory" : u"Is a directory";
    return false;
  }
  tree_->nodes.erase(it);
  return true;
}

void FakeFileSystem::RemoveStaleFiles(const std::u16string& folder) {
  std::lock_guard<std::recursive_mutex> lock(tree_mutex_);
  const std::u16string prefix = Trimmed(folder) + u"/";
  for (const std::u16string& name : NamesIn(folder)) {
    const auto it = tree_->nodes.find(prefix + name);
    const Node& node = it->second;
    if (IsDeadLeftover(name, {node.kind == Node::kFile, node.held, node.mtime},
                       std::time(nullptr))) {
      tree_->nodes.erase(it);
    }
  }
}

}  // namespace mailsheaf::testing
