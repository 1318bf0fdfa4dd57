#pragma once
// A scripted system behind the file-system services' seam: a version source to script, and an
// in-memory file system with listing order, failures, 8.3 aliases, links and a simulated ANSI
// code page (Latin-1; every other character becomes "?"). It logs every call it receives.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fs/capabilities.h"
#include "tests/support/wide_bytes.h"

namespace mailsheaf::testing {

class FakeSystem final : public SystemCalls {
 public:
  struct Call {
    explicit Call(std::string name, FindHandle listing = 0)
        : function(std::move(name)), handle(listing) {}
    std::string function;
    std::u16string path;                  // as the call received it, long-path prefix removed
    std::vector<unsigned char> widePath;  // the buffer up to and including its NUL unit
    std::string ansiPath;                 // the bytes up to and including the NUL
    FindHandle handle = 0;
  };

  FakeSystem();
  ~FakeSystem() override;

  // --- version and exports -----------------------------------------------------------------
  bool kernel32Loads = true;
  std::set<std::string> exports{"GetVersionExA", "GetVersionExW"};
  bool getVersionExWSucceeds = true;
  bool getVersionExASucceeds = true;
  uint32_t platformId = 2;          // what GetVersionExW/A report
  uint32_t getVersionValue = 0x1DB10106;  // bit 31 clear: NT

  // --- the file system -----------------------------------------------------------------------
  // Paths are absolute, drive-letter based ("C:\root\a.eml"); missing folders on the way are
  // made. Children list in the order they were added unless reversed.
  void AddFolder(const std::u16string& path, uint32_t extraAttributes = 0);
  void AddFile(const std::u16string& path, uint32_t extraAttributes = 0,
               const std::u16string& shortName = u"");
  // A folder link (junction) at path that leads to the folder at target.
  void AddFolderLink(const std::u16string& path, const std::u16string& target);

  void FailAttributesOf(const std::u16string& path) { failing_attributes_.insert(Key(path)); }
  void FailListingOf(const std::u16string& folder) { failing_listings_.insert(Key(folder)); }
  // The listing of this folder fails (not at its end) after handing out this many entries.
  void FailListingAfter(const std::u16string& folder, int entries) {
    listing_fails_after_[Key(folder)] = entries;
  }
  bool listDotEntries = true;  // "." and ".." in every folder below the drive root
  bool reverseListingOrder = false;

  // A walk that never ends (a link cycle the scan failed to notice) fails the test once this
  // many FindFirst and FindNext calls have been made, and throws RunawayWalk to stop it, rather
  // than running until memory is gone. Far above what any finite test tree needs.
  int findCallCap = 3000;
  struct RunawayWalk : std::runtime_error {
    using std::runtime_error::runtime_error;
  };

  // --- what happened -------------------------------------------------------------------------
  std::vector<Call> calls;
  std::vector<std::string>* sharedLog = nullptr;  // when set, every call's name goes here too
  std::function<void(const Call&)> onCall;        // runs after each call is logged; may throw
  int openListings() const;
  int closesOf(FindHandle handle) const;
  int CountCalls(const std::string& function) const;
  // FindNext on a closed handle, a second FindClose and the like; each is a fault of the caller.
  int misuse = 0;

  // --- SystemCalls ---------------------------------------------------------------------------
  ModuleHandle LoadLibraryA(const char* name) override;
  ProcAddress GetProcAddress(ModuleHandle module, const char* name) override;
  int32_t FreeLibrary(ModuleHandle module) override;
  int32_t GetVersionExW(OsVersionInfoW& info) override;
  int32_t GetVersionExA(OsVersionInfoA& info) override;
  uint32_t GetVersion() override;
  FindHandle FindFirstFileW(const unsigned char* path, FindDataW& data) override;
  FindHandle FindFirstFileA(const char* path, FindDataA& data) override;
  int32_t FindNextFileW(FindHandle handle, FindDataW& data) override;
  int32_t FindNextFileA(FindHandle handle, FindDataA& data) override;
  int32_t FindClose(FindHandle handle) override;
  uint32_t GetFileAttributesW(const unsigned char* path) override;
  uint32_t GetFileAttributesA(const char* path) override;
  std::string WideToAnsi(std::u16string_view text) override;
  std::u16string AnsiToWide(std::string_view bytes) override;
  bool FolderIdentityW(const unsigned char* path, FileIdentity& identity) override;
  bool FolderIdentityA(const char* path, FileIdentity& identity) override;

 private:
  struct Node {
    std::u16string name;
    std::u16string shortName;
    bool folder = false;
    uint32_t extraAttributes = 0;
    Node* linkTarget = nullptr;
    std::vector<std::unique_ptr<Node>> children;
  };
  struct Entry {
    std::u16string name;
    std::u16string shortName;
    uint32_t attributes;
  };
  struct Listing {
    std::vector<Entry> entries;
    size_t next = 0;
    int failsAfter = -1;
    bool closed = false;
    int closes = 0;
  };

  static std::u16string Key(const std::u16string& path);
  static std::u16string FromWideBuffer(const unsigned char* buffer, std::vector<unsigned char>& raw);
  std::u16string FromAnsi(const char* path, std::string& raw) const;
  Node* Resolve(const std::u16string& path, bool followLast);
  Node& MakeNode(const std::u16string& path, bool folder);
  static uint32_t AttributesOf(const Node& node);
  void Log(Call call);

  void CountFindCall();
  FindHandle FindFirst(const std::u16string& searchPath, Entry& first);
  bool FindNext(FindHandle handle, Entry& next);
  uint32_t Attributes(const std::u16string& path);
  bool Identity(const std::u16string& path, FileIdentity& identity);

  std::map<std::u16string, std::unique_ptr<Node>> drives_;
  std::set<std::u16string> failing_attributes_;
  std::set<std::u16string> failing_listings_;
  std::map<std::u16string, int> listing_fails_after_;
  std::map<FindHandle, Listing> listings_;
  FindHandle next_handle_ = 0x100;
  int find_calls_ = 0;
  int module_ = 0;
};

// A base, so that the fake is made before the System that refers to it.
struct FakeSystemHolder {
  FakeSystem fake_;
};

// A fake, and the System over it that a test hands the services: nothing outlives the scope.
class ScopedFakeSystem : private FakeSystemHolder, public System {
 public:
  ScopedFakeSystem() : System(fake_) {}
  FakeSystem& operator*() { return fake_; }
  FakeSystem* operator->() { return &fake_; }
};

}  // namespace mailsheaf::testing
