#include "tests/support/fake_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "fs/capabilities.h"
#include "base/wildcard_match.h"

namespace mailsheaf::testing {
namespace {

constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
constexpr size_t kAnsiPathLimit = 260;  // MAX_PATH, NUL included

void VersionExport() {}

char16_t Fold(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
    return static_cast<char16_t>(c - 0x20);
  }
  return c;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

std::vector<std::u16string> SplitPath(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!part.empty()) {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) {
    parts.push_back(part);
  }
  return parts;
}

void CopyName(const std::u16string& units, FindDataW& data) {
  const size_t n = std::min<size_t>(units.size(), kMaxPath - 1);
  std::copy_n(units.begin(), n, data.cFileName);
  data.cFileName[n] = u'\0';
}

std::u16string WithoutLongPrefix(const std::u16string& text) {
  return text.starts_with(kLongPrefix) ? text.substr(kLongPrefix.size()) : text;
}

}  // namespace

FakeSystem::FakeSystem() = default;
FakeSystem::~FakeSystem() = default;

std::u16string FakeSystem::Key(const std::u16string& path) {
  std::u16string key;
  for (char16_t c : path) {
    key.push_back(Fold(c));
  }
  while (!key.empty() && key.back() == u'\\') {
    key.pop_back();
  }
  return key;
}

FakeSystem::Node& FakeSystem::MakeNode(const std::u16string& path, bool folder) {
  const auto parts = SplitPath(path);
  auto& drive = drives_[Key(parts.at(0))];
  if (!drive) {
    drive = std::make_unique<Node>();
    drive->name = parts[0];
    drive->folder = true;
  }
  Node* node = drive.get();
  for (size_t i = 1; i < parts.size(); ++i) {
    Node* child = nullptr;
    for (auto& c : node->children) {
      if (SameName(c->name, parts[i])) {
        child = c.get();
      }
    }
    if (child == nullptr) {
      node->children.push_back(std::make_unique<Node>());
      child = node->children.back().get();
      child->name = parts[i];
      child->folder = (i + 1 < parts.size()) || folder;
    }
    node = child;
  }
  return *node;
}

void FakeSystem::AddFolder(const std::u16string& path, uint32_t extraAttributes) {
  MakeNode(path, true).extraAttributes = extraAttributes;
}

void FakeSystem::AddFile(const std::u16string& path, uint32_t extraAttributes,
                         const std::u16string& shortName) {
  Node& node = MakeNode(path, false);
  node.extraAttributes = extraAttributes;
  node.shortName = shortName;
}

void FakeSystem::AddFolderLink(const std::u16string& path, const std::u16string& target) {
  Node& link = MakeNode(path, true);
  link.extraAttributes = kFileAttributeReparsePoint;
  link.linkTarget = Resolve(target, true);
}

FakeSystem::Node* FakeSystem::Resolve(const std::u16string& path, bool followLast) {
  const auto parts = SplitPath(path);
  if (parts.empty()) {
    return nullptr;
  }
  const auto drive = drives_.find(Key(parts[0]));
  if (drive == drives_.end()) {
    return nullptr;
  }
  Node* node = drive->second.get();
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!node->folder) {
      return nullptr;
    }
    Node* child = nullptr;
    for (auto& c : node->children) {
      if (SameName(c->name, parts[i]) || (!c->shortName.empty() && SameName(c->shortName, parts[i]))) {
        child = c.get();
      }
    }
    if (child == nullptr) {
      return nullptr;
    }
    const bool last = i + 1 == parts.size();
    node = (child->linkTarget != nullptr && (!last || followLast)) ? child->linkTarget : child;
  }
  return node;
}

uint32_t FakeSystem::AttributesOf(const Node& node) {
  return (node.folder ? kFileAttributeDirectory : kFileAttributeArchive) | node.extraAttributes;
}

void FakeSystem::Log(Call call) {
  if (sharedLog != nullptr) {
    sharedLog->push_back(call.path.empty() ? call.function
                                           : call.function + " " + Utf16ToUtf8(call.path));
  }
  calls.push_back(std::move(call));
  if (onCall) onCall(calls.back());
}

int FakeSystem::CountCalls(const std::string& function) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const Call& c) { return c.function == function; }));
}

int FakeSystem::openListings() const {
  return static_cast<int>(std::count_if(listings_.begin(), listings_.end(),
                                        [](const auto& l) { return !l.second.closed; }));
}

int FakeSystem::closesOf(FindHandle handle) const {
  const auto it = listings_.find(handle);
  return it == listings_.end() ? 0 : it->second.closes;
}

// --- version -----------------------------------------------------------------------------------

ModuleHandle FakeSystem::LoadLibraryA(const char* name) {
  Log(Call(std::string("LoadLibraryA ") + name));
  return kernel32Loads && std::string(name) == "kernel32" ? &module_ : nullptr;
}

ProcAddress FakeSystem::GetProcAddress(ModuleHandle module, const char* name) {
  Log(Call(std::string("GetProcAddress ") + name));
  if (module != &module_) {
    ++misuse;
    return nullptr;
  }
  return exports.count(name) != 0 ? &VersionExport : nullptr;
}

int32_t FakeSystem::FreeLibrary(ModuleHandle module) {
  Log(Call("FreeLibrary"));
  if (module != &module_) {
    ++misuse;
    return 0;
  }
  return 1;
}

int32_t FakeSystem::GetVersionExW(OsVersionInfoW& info) {
  Log(Call("GetVersionExW"));
  if (info.dwOSVersionInfoSize != 276 || !getVersionExWSucceeds) {
    return 0;
  }
  info.dwPlatformId = platformId;
  return 1;
}

int32_t FakeSystem::GetVersionExA(OsVersionInfoA& info) {
  Log(Call("GetVersionExA"));
  if (info.dwOSVersionInfoSize != 148 || !getVersionExASucceeds) {
    return 0;
  }
  info.dwPlatformId = platformId;
  return 1;
}

uint32_t FakeSystem::GetVersion() {
  Log(Call("GetVersion"));
  return getVersionValue;
}

// --- paths -------------------------------------------------------------------------------------

std::u16string FakeSystem::FromWideBuffer(const unsigned char* buffer, std::vector<unsigned char>& raw) {
  std::u16string text;
  for (size_t i = 0;; i += 2) {
    raw.push_back(buffer[i]);
    raw.push_back(buffer[i + 1]);
    const auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

std::u16string FakeSystem::FromAnsi(const char* path, std::string& raw) const {
  raw.assign(path, std::strlen(path) + 1);
  std::u16string text;
  for (const char* p = path; *p != '\0'; ++p) {
    text.push_back(static_cast<unsigned char>(*p));
  }
  return text;
}

std::string FakeSystem::WideToAnsi(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size()) {
      ++i;  // one substitute for the whole pair
    }
    out.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
  }
  return out;
}

std::u16string FakeSystem::AnsiToWide(std::string_view bytes) {
  std::u16string out;
  for (char b : bytes) {
    out.push_back(static_cast<unsigned char>(b));
  }
  return out;
}

// --- listings ----------------------------------------------------------------------------------

void FakeSystem::CountFindCall() {
  if (++find_calls_ > findCallCap) {
    ADD_FAILURE() << "more than " << findCallCap << " FindFirst/FindNext calls: the walk does not end";
    throw RunawayWalk("the fake file system's step cap was reached");
  }
}

FindHandle FakeSystem::FindFirst(const std::u16string& searchPath, Entry& first) {
  CountFindCall();
  const auto slash = searchPath.rfind(u'\\');
  if (slash == std::u16string::npos) {
    return kInvalidSearchHandle;
  }
  const std::u16string folderPath = searchPath.substr(0, slash);
  const std::u16string pattern = searchPath.substr(slash + 1);
  Node* folder = Resolve(folderPath, true);
  if (folder == nullptr || !folder->folder || failing_listings_.count(Key(folderPath)) != 0) {
    return kInvalidSearchHandle;
  }

  Listing listing;
  const bool driveRoot = SplitPath(folderPath).size() == 1;
  if (listDotEntries && !driveRoot) {
    listing.entries.push_back({u".", u"", kFileAttributeDirectory});
    listing.entries.push_back({u"..", u"", kFileAttributeDirectory});
  }
  std::vector<const Node*> children;
  for (const auto& c : folder->children) {
    children.push_back(c.get());
  }
  if (reverseListingOrder) {
    std::reverse(children.begin(), children.end());
  }
  for (const Node* c : children) {
    listing.entries.push_back({c->name, c->shortName, AttributesOf(*c)});
  }
  std::erase_if(listing.entries, [&](const Entry& e) {
    return !MatchesWildcard(e.name, pattern) &&
           (e.shortName.empty() || !MatchesWildcard(e.shortName, pattern));
  });
  if (listing.entries.empty()) {
    return kInvalidSearchHandle;
  }
  const auto fails = listing_fails_after_.find(Key(folderPath));
  if (fails != listing_fails_after_.end()) {
    listing.failsAfter = fails->second;
  }
  first = listing.entries[0];
  listing.next = 1;
  const FindHandle handle = next_handle_++;
  listings_[handle] = std::move(listing);
  return handle;
}

bool FakeSystem::FindNext(FindHandle handle, Entry& next) {
  CountFindCall();
  const auto it = listings_.find(handle);
  if (it == listings_.end() || it->second.closed) {
    ++misuse;
    return false;
  }
  Listing& listing = it->second;
  if (listing.failsAfter >= 0 && static_cast<int>(listing.next) >= listing.failsAfter) {
    return false;
  }
  if (listing.next >= listing.entries.size()) {
    return false;
  }
  next = listing.entries[listing.next++];
  return true;
}

FindHandle FakeSystem::FindFirstFileW(const unsigned char* path, FindDataW& data) {
  Call call("FindFirstFileW");
  std::u16string text = FromWideBuffer(path, call.widePath);
  call.path = WithoutLongPrefix(text);
  FindHandle handle = kInvalidSearchHandle;
  if (text.starts_with(kLongPrefix)) {
    Entry first;
    handle = FindFirst(text.substr(kLongPrefix.size()), first);
    if (handle != kInvalidSearchHandle) {
      data.dwFileAttributes = first.attributes;
      CopyName(first.name, data);
    }
  } else {
    ++misuse;  // the wide calls always get the long-path form
  }
  call.handle = handle;
  Log(std::move(call));
  return handle;
}

FindHandle FakeSystem::FindFirstFileA(const char* path, FindDataA& data) {
  Call call("FindFirstFileA");
  const std::u16string text = FromAnsi(path, call.ansiPath);
  call.path = text;
  FindHandle handle = kInvalidSearchHandle;
  if (call.ansiPath.size() <= kAnsiPathLimit) {
    Entry first;
    handle = FindFirst(text, first);
    if (handle != kInvalidSearchHandle) {
      data.dwFileAttributes = first.attributes;
      const std::string bytes = WideToAnsi(first.name);
      std::memcpy(data.cFileName, bytes.data(), std::min<size_t>(bytes.size(), kMaxPath - 1));
    }
  }
  call.handle = handle;
  Log(std::move(call));
  return handle;
}

int32_t FakeSystem::FindNextFileW(FindHandle handle, FindDataW& data) {
  Log(Call("FindNextFileW", handle));
  Entry next;
  if (!FindNext(handle, next)) {
    return 0;
  }
  data.dwFileAttributes = next.attributes;
  CopyName(next.name, data);
  return 1;
}

int32_t FakeSystem::FindNextFileA(FindHandle handle, FindDataA& data) {
  Log(Call("FindNextFileA", handle));
  Entry next;
  if (!FindNext(handle, next)) {
    return 0;
  }
  data.dwFileAttributes = next.attributes;
  const std::string bytes = WideToAnsi(next.name);
  std::memcpy(data.cFileName, bytes.data(), std::min<size_t>(bytes.size(), kMaxPath - 1));
  return 1;
}

int32_t FakeSystem::FindClose(FindHandle handle) {
  Log(Call("FindClose", handle));
  const auto it = listings_.find(handle);
  if (it == listings_.end() || it->second.closed) {
    ++misuse;
    if (it != listings_.end()) {
      ++it->second.closes;
    }
    return 0;
  }
  it->second.closed = true;
  ++it->second.closes;
  return 1;
}

// --- attributes and identities -----------------------------------------------------------------

uint32_t FakeSystem::Attributes(const std::u16string& path) {
  if (failing_attributes_.count(Key(path)) != 0) {
    return kInvalidFileAttributes;
  }
  const Node* node = Resolve(path, false);
  return node == nullptr ? kInvalidFileAttributes : AttributesOf(*node);
}

uint32_t FakeSystem::GetFileAttributesW(const unsigned char* path) {
  Call call("GetFileAttributesW");
  const std::u16string text = FromWideBuffer(path, call.widePath);
  call.path = WithoutLongPrefix(text);
  Log(call);
  if (!text.starts_with(kLongPrefix)) {
    ++misuse;
    return kInvalidFileAttributes;
  }
  return Attributes(text.substr(kLongPrefix.size()));
}

uint32_t FakeSystem::GetFileAttributesA(const char* path) {
  Call call("GetFileAttributesA");
  const std::u16string text = FromAnsi(path, call.ansiPath);
  call.path = text;
  const bool tooLong = call.ansiPath.size() > kAnsiPathLimit;
  Log(call);
  return tooLong ? kInvalidFileAttributes : Attributes(text);
}

bool FakeSystem::Identity(const std::u16string& path, FileIdentity& identity) {
  const Node* node = Resolve(path, true);
  if (node == nullptr || !node->folder) {
    return false;
  }
  identity.volume = 0x1234ABCD;
  identity.index = reinterpret_cast<uintptr_t>(node);
  return true;
}

bool FakeSystem::FolderIdentityW(const unsigned char* path, FileIdentity& identity) {
  Call call("FolderIdentityW");
  const std::u16string text = FromWideBuffer(path, call.widePath);
  call.path = WithoutLongPrefix(text);
  Log(call);
  return text.starts_with(kLongPrefix) && Identity(text.substr(kLongPrefix.size()), identity);
}

bool FakeSystem::FolderIdentityA(const char* path, FileIdentity& identity) {
  Call call("FolderIdentityA");
  const std::u16string text = FromAnsi(path, call.ansiPath);
  call.path = text;
  Log(call);
  return Identity(text, identity);
}

}  // namespace mailsheaf::testing
