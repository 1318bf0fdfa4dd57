// Mailsheaf.exe as built: a GUI program for the build's machine (the 32-bit program that ships,
// or the 64-bit test build) needing only Windows' own libraries, with its manifest, version,
// icons and cursor, read back from the file.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

namespace {

std::wstring ExePath() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  path.resize(path.find_last_of(L"\\/") + 1);
  for (const char* c = MAILSHEAF_EXE_FROM_TEST; *c; ++c) {
    path.push_back(*c == '/' ? L'\\' : wchar_t(*c));
  }
  wchar_t full[MAX_PATH];
  GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return full;
}

std::vector<unsigned char> FileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr unsigned kMajor = MAILSHEAF_EXPECTED_MAJOR;
constexpr unsigned kMinor = MAILSHEAF_EXPECTED_MINOR;
constexpr unsigned kPatch = MAILSHEAF_EXPECTED_PATCH;

template <typename T>
T Read(const std::vector<unsigned char>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

class Executable : public ::testing::Test {
 protected:
  void SetUp() override {
    path = ExePath();
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << "cannot load the program as data";
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }

  std::vector<unsigned char> Resource(LPCWSTR type, int id, WORD language = 0) {
    HRSRC found = language ? FindResourceExW(module, type, MAKEINTRESOURCEW(id), language)
                           : FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return {};
    const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    return {data, data + SizeofResource(module, found)};
  }

  std::wstring VersionString(const std::vector<unsigned char>& info, const wchar_t* name) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || !value) return L"<none>";
    return static_cast<const wchar_t*>(value);
  }

  std::wstring path;
  HMODULE module = nullptr;
};

TEST_F(Executable, IsAGuiProgramForTheBuildsMachineThatNeedsOnlyWindowsOwnLibraries) {
  const std::vector<unsigned char> pe = FileBytes(path);
  ASSERT_GT(pe.size(), 1024u);
  ASSERT_EQ(Read<WORD>(pe, 0), IMAGE_DOS_SIGNATURE);
  const std::size_t nt = Read<LONG>(pe, offsetof(IMAGE_DOS_HEADER, e_lfanew));
  ASSERT_EQ(Read<DWORD>(pe, nt), IMAGE_NT_SIGNATURE);
  // The headers' layout and magic are the build's own: PE32 in the 32-bit build, PE32+ in the
  // 64-bit one.
  const auto headers = Read<IMAGE_NT_HEADERS>(pe, nt);
  EXPECT_EQ(headers.FileHeader.Machine, MAILSHEAF_EXPECTED_MACHINE);
  EXPECT_EQ(headers.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR_MAGIC);
  EXPECT_EQ(headers.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  // Imported libraries, found through the section that holds the import directory.
  const std::size_t sections = nt + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                               headers.FileHeader.SizeOfOptionalHeader;
  auto fileOffset = [&](DWORD rva) -> std::size_t {
    for (WORD i = 0; i < headers.FileHeader.NumberOfSections; ++i) {
      const auto s = Read<IMAGE_SECTION_HEADER>(pe, sections + i * sizeof(IMAGE_SECTION_HEADER));
      const DWORD extent = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + extent) {
        return rva - s.VirtualAddress + s.PointerToRawData;
      }
    }
    return pe.size();
  };
  const DWORD imports =
      headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  ASSERT_NE(imports, 0u);
  const std::set<std::string> windowsOwn = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL",
                                            "COMCTL32.DLL", "COMDLG32.DLL", "SHELL32.DLL",
                                            "OLE32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"};
  std::set<std::string> used;
  for (std::size_t at = fileOffset(imports);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto descriptor = Read<IMAGE_IMPORT_DESCRIPTOR>(pe, at);
    if (descriptor.Name == 0) break;
    std::string name(reinterpret_cast<const char*>(pe.data() + fileOffset(descriptor.Name)));
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return char(toupper(c)); });
    used.insert(name);
    EXPECT_TRUE(windowsOwn.count(name)) << name << " is not part of Windows";
  }
  EXPECT_TRUE(used.count("USER32.DLL"));
  EXPECT_TRUE(used.count("COMCTL32.DLL"));
}

TEST_F(Executable, CarriesTheCommonControlsManifestInUsEnglish) {
  const std::string kArch = sizeof(void*) == 8 ? "amd64" : "x86";
  const auto data = Resource(MAKEINTRESOURCEW(24), 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_FALSE(data.empty());
  const std::string manifest(data.begin(), data.end());
  const std::string ownVersion = std::to_string(kMajor) + "." + std::to_string(kMinor) + "." +
                                 std::to_string(kPatch) + ".0";
  for (const std::string& part :
       {std::string("type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                    "processorArchitecture=\"" + kArch + "\" publicKeyToken=\"6595b64144ccf1df\" "
                    "language=\"*\""),
        "<assemblyIdentity type=\"win32\" name=\"Corvane.Mailsheaf\" version=\"" + ownVersion +
            "\" processorArchitecture=\"" + kArch + "\"/>",
        std::string(">true</dpiAware>")}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

TEST_F(Executable, TellsItsVersionAndMaker) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (kMajor << 16) | kMinor);
  EXPECT_EQ(fixed->dwFileVersionLS, kPatch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, (kMajor << 16) | kMinor);
  EXPECT_EQ(fixed->dwProductVersionLS, kPatch << 16);

  // The text form shows the minor number in two digits: 3.00 for 3.0.
  const std::wstring shortVersion =
      std::to_wstring(kMajor) + (kMinor < 10 ? L".0" : L".") + std::to_wstring(kMinor);
  EXPECT_EQ(VersionString(info, L"FileDescription"), L"Migrate EML Messages to Zimbra Mailbox");
  EXPECT_EQ(VersionString(info, L"FileVersion"), shortVersion);
  EXPECT_EQ(VersionString(info, L"ProductVersion"), shortVersion);
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Mailsheaf");
  EXPECT_EQ(VersionString(info, L"CompanyName"), L"Corvane");
  EXPECT_EQ(VersionString(info, L"LegalCopyright"), L"Copyright \u00A9 2026 Corvane");
}

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitsPerPixel;
  DWORD bytes;
  WORD id;
};
struct CursorGroupEntry {
  WORD width, height;  // the height counts the mask too
  WORD planes, bitsPerPixel;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(Executable, HasItsIconsInFourSizesOf256ColoursAndTheTwoSmallPictures) {
  auto sizesOf = [&](int group) {
    std::vector<int> sizes;
    const auto dir = Resource(RT_GROUP_ICON, group);
    const WORD count = Read<WORD>(dir, 4);
    for (WORD i = 0; i < count; ++i) {
      const auto e = Read<IconGroupEntry>(dir, 6 + i * sizeof(IconGroupEntry));
      EXPECT_EQ(e.bitsPerPixel, 8);
      EXPECT_EQ(e.colours, 0);  // 256
      const auto image = Resource(RT_ICON, e.id);
      const auto header = Read<BITMAPINFOHEADER>(image, 0);
      EXPECT_EQ(header.biBitCount, 8);
      EXPECT_EQ(header.biWidth, e.width);
      EXPECT_EQ(header.biHeight, 2 * e.height);
      sizes.push_back(e.width);
    }
    std::sort(sizes.begin(), sizes.end());
    return sizes;
  };
  EXPECT_EQ(sizesOf(MAILSHEAF_IDI_APP), (std::vector<int>{16, 24, 32, 48}));
  EXPECT_EQ(sizesOf(MAILSHEAF_IDI_HINT), std::vector<int>{16});
  EXPECT_EQ(sizesOf(MAILSHEAF_IDI_GUIDE), std::vector<int>{16});
}

// The pixels a mask leaves transparent in one icon or cursor image ("bytes" from its
// BITMAPINFOHEADER on) whose colour is not black. Windows ANDs the mask onto the screen and then
// XORs the colours, so such a pixel tints whatever lies under the picture.
int TintedTransparentPixels(const std::vector<unsigned char>& bytes) {
  const auto header = Read<BITMAPINFOHEADER>(bytes, 0);
  const int width = header.biWidth;
  const int height = header.biHeight / 2;  // the colours, then the mask
  const int bits = header.biBitCount;
  const std::size_t paletteSize =
      bits <= 8 ? (header.biClrUsed ? header.biClrUsed : 1u << bits) : 0;
  const std::size_t palette = header.biSize;
  const std::size_t colours = palette + 4 * paletteSize;
  const std::size_t colourStride = ((width * bits + 31) / 32) * 4;
  const std::size_t mask = colours + colourStride * height;
  const std::size_t maskStride = ((width + 31) / 32) * 4;
  EXPECT_GE(bytes.size(), mask + maskStride * height) << "image cut short";
  if (bytes.size() < mask + maskStride * height) return -1;

  int tinted = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!(bytes[mask + y * maskStride + x / 8] & (0x80 >> (x % 8)))) continue;
      const std::size_t row = colours + y * colourStride;
      DWORD rgb = 0;
      if (bits <= 8) {
        const int perByte = 8 / bits;
        const int shift = (perByte - 1 - x % perByte) * bits;
        const unsigned index = (bytes[row + x / perByte] >> shift) & ((1u << bits) - 1);
        rgb = Read<DWORD>(bytes, palette + 4 * index) & 0xFFFFFF;
      } else {
        const std::size_t at = row + x * (bits / 8);
        rgb = bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16);
      }
      if (rgb != 0) ++tinted;
    }
  }
  return tinted;
}

TEST_F(Executable, TransparentPixelsOfEveryPictureAreBlackSoNoBoxShowsAroundIt) {
  for (int group : {MAILSHEAF_IDI_APP, MAILSHEAF_IDI_HINT, MAILSHEAF_IDI_GUIDE}) {
    const auto dir = Resource(RT_GROUP_ICON, group);
    const WORD count = Read<WORD>(dir, 4);
    ASSERT_GT(count, 0) << "icon group " << group;
    for (WORD i = 0; i < count; ++i) {
      const auto e = Read<IconGroupEntry>(dir, 6 + i * sizeof(IconGroupEntry));
      SCOPED_TRACE(::testing::Message() << "icon group " << group << ", " << int(e.width)
                                        << " px, " << e.bitsPerPixel << " bits");
      EXPECT_EQ(TintedTransparentPixels(Resource(RT_ICON, e.id)), 0);
    }
  }
  const auto dir = Resource(RT_GROUP_CURSOR, MAILSHEAF_IDC_POINTING_HAND);
  ASSERT_EQ(Read<WORD>(dir, 4), 1);
  const auto cursor = Resource(RT_CURSOR, Read<CursorGroupEntry>(dir, 6).id);
  ASSERT_GT(cursor.size(), 4u);
  // The cursor's image follows its hot spot.
  EXPECT_EQ(TintedTransparentPixels({cursor.begin() + 4, cursor.end()}), 0) << "cursor";
}

TEST_F(Executable, HasThePointingHandCursorWithItsHotSpot) {
  const auto dir = Resource(RT_GROUP_CURSOR, MAILSHEAF_IDC_POINTING_HAND);
  ASSERT_EQ(Read<WORD>(dir, 4), 1);
  const auto entry = Read<CursorGroupEntry>(dir, 6);
  EXPECT_EQ(entry.width, 32);
  EXPECT_EQ(entry.height, 64);
  EXPECT_EQ(entry.bitsPerPixel, 1);
  const auto cursor = Resource(RT_CURSOR, entry.id);
  ASSERT_GE(cursor.size(), 4 + sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(Read<WORD>(cursor, 0), 5);  // hot spot x
  EXPECT_EQ(Read<WORD>(cursor, 2), 0);  // hot spot y
  const auto header = Read<BITMAPINFOHEADER>(cursor, 4);
  EXPECT_EQ(header.biWidth, 32);
  EXPECT_EQ(header.biBitCount, 1);
}

}  // namespace
