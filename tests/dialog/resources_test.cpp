// Checks the resources of the built QorEngineUpdate.exe (its path is the first argument): the
// installer page's template 101 byte by byte, the side picture's formats, the icon, the version
// block and the manifest. The page's code and its layout rely on all of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string exePath;

// The executable mapped as data: its resources can be read, none of its code runs.
class ExeResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << "cannot load " << exePath << " (error " << GetLastError() << ")";
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  std::vector<std::uint8_t> Resource(LPCSTR type, int id) {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

// Reads a DLGTEMPLATEEX front to back, failing the test on a read past the end.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  std::uint32_t Word() { return Take(2); }
  std::uint32_t Dword() { return Take(4); }
  int Short() { return static_cast<std::int16_t>(Take(2)); }
  std::uint32_t Byte() { return Take(1); }
  void AlignDword() { at_ = (at_ + 3) & ~std::size_t{3}; }

  // A string or an ordinal: "#N" for an ordinal, "" for none. The atoms of the predefined button
  // and static classes come back as their names; the page must use the real classes either way.
  std::string NameOrOrdinal() {
    const std::uint32_t first = Word();
    if (first == 0xFFFF) {
      const std::uint32_t ordinal = Word();
      if (ordinal == 0x0080) return "Button";
      if (ordinal == 0x0082) return "Static";
      return "#" + std::to_string(ordinal);
    }
    std::string text;
    for (std::uint32_t c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  std::string Text() {
    std::string text;
    for (std::uint32_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  std::size_t Offset() const { return at_; }

 private:
  std::uint32_t Take(std::size_t count) {
    if (at_ + count > bytes_.size()) {
      ADD_FAILURE() << "template ends at " << bytes_.size() << ", read at " << at_;
      at_ = bytes_.size();
      return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value |= std::uint32_t{bytes_[at_ + i]} << (8 * i);
    at_ += count;
    return value;
  }

  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
};

struct Control {
  std::uint32_t id;
  std::string className;
  std::uint32_t style;
  int x, y, cx, cy;
  std::uint32_t exStyle;
  std::string text;
};

TEST_F(ExeResources, InstallerPageTemplate) {
  const std::vector<std::uint8_t> bytes = Resource(RT_DIALOG, 101);
  ASSERT_FALSE(bytes.empty()) << "no dialog 101";
  TemplateReader in(bytes);
  EXPECT_EQ(in.Word(), 1u) << "not a DIALOGEX";
  EXPECT_EQ(in.Word(), 0xFFFFu);
  EXPECT_EQ(in.Dword(), 0u) << "help id";
  EXPECT_EQ(in.Dword(), 0u) << "extended style";
  EXPECT_EQ(in.Dword(), 0x80C800C0u) << "style";
  const std::uint32_t count = in.Word();
  EXPECT_EQ(in.Short(), 0);
  EXPECT_EQ(in.Short(), 0);
  EXPECT_EQ(in.Short(), 336);
  EXPECT_EQ(in.Short(), 222);
  EXPECT_EQ(in.NameOrOrdinal(), "") << "menu";
  EXPECT_EQ(in.NameOrOrdinal(), "") << "class";
  EXPECT_EQ(in.Text(), "?") << "caption";
  EXPECT_EQ(in.Word(), 8u) << "point size";
  EXPECT_EQ(in.Word(), 0u) << "weight";
  EXPECT_EQ(in.Byte(), 0u) << "italic";
  EXPECT_EQ(in.Byte(), 1u) << "character set";
  EXPECT_EQ(in.Text(), "MS Sans Serif");

  // In template order, which is the tab order.
  const std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
  const Control expected[] = {
      {1, "Button", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 217, 199, 49, 14, 0, "?"},
      {2, "Button", kChild | WS_TABSTOP, 275, 199, 49, 14, 0, "?"},
      {3, "Button", kChild | WS_DISABLED | WS_TABSTOP, 168, 199, 49, 14, 0, "?"},
      {1002, "msctls_progress32", kChild | WS_BORDER | 0x1 /* PBS_SMOOTH */, 115, 158, 195, 9,
       WS_EX_TRANSPARENT, "Progress2"},
      {1005, "Static", kChild | SS_LEFT | WS_GROUP, 115, 40, 196, 60, WS_EX_TRANSPARENT, "?"},
      {1007, "Static", kChild | SS_LEFT | WS_GROUP, 115, 132, 195, 22, WS_EX_TRANSPARENT, "?"},
      {1012, "Static", kChild | SS_LEFT | WS_GROUP, 115, 7, 195, 24, WS_EX_TRANSPARENT, "?"},
      {1014, "Static", kChild | SS_BITMAP, 0, 0, 336, 193, WS_EX_TRANSPARENT, "#103"},
  };
  ASSERT_EQ(count, sizeof expected / sizeof expected[0]) << "controls";
  for (const Control& want : expected) {
    SCOPED_TRACE("control " + std::to_string(want.id));
    in.AlignDword();
    Control seen;
    EXPECT_EQ(in.Dword(), 0u) << "help id";
    seen.exStyle = in.Dword();
    seen.style = in.Dword();
    seen.x = in.Short();
    seen.y = in.Short();
    seen.cx = in.Short();
    seen.cy = in.Short();
    seen.id = in.Dword();
    seen.className = in.NameOrOrdinal();
    seen.text = in.NameOrOrdinal();
    const std::uint32_t extra = in.Word();
    for (std::uint32_t i = 0; i < extra; ++i) in.Byte();
    EXPECT_EQ(seen.id, want.id);
    // Windows looks class names up without regard to case, and the resource compiler writes a
    // named class in upper case.
    EXPECT_EQ(lstrcmpiA(seen.className.c_str(), want.className.c_str()), 0)
        << seen.className << " != " << want.className;
    EXPECT_EQ(seen.style, want.style) << std::hex << "0x" << seen.style << " != 0x" << want.style;
    EXPECT_EQ(seen.exStyle, want.exStyle);
    EXPECT_EQ(seen.x, want.x);
    EXPECT_EQ(seen.y, want.y);
    EXPECT_EQ(seen.cx, want.cx);
    EXPECT_EQ(seen.cy, want.cy);
    EXPECT_EQ(seen.text, want.text);
  }
  EXPECT_EQ(in.Offset(), bytes.size()) << "bytes after the last control";
}

TEST_F(ExeResources, SidePictureIs164x314At4BitsUncompressed) {
  const std::vector<std::uint8_t> bytes = Resource(RT_BITMAP, 103);
  ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER)) << "no bitmap 103";
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes.data(), sizeof header);
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biWidth, 164);
  EXPECT_EQ(header.biHeight, 314) << "bottom-up, as the page's layout expects";
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, 4);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 16);
  // Header, a 16-entry palette and 314 rows of 84 bytes (164 pixels at 4 bits, padded to 4 bytes).
  EXPECT_EQ(bytes.size(), 40u + 16 * 4 + 84 * 314);
}

// The source of the picture at every DPI but 96: twice bitmap 103's size, in its proportions, so the
// page only ever reduces it or enlarges it a little.
TEST_F(ExeResources, LargeSidePictureIsTwiceTheSize) {
  const std::vector<std::uint8_t> bytes = Resource(RT_BITMAP, 104);
  ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER)) << "no bitmap 104";
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes.data(), sizeof header);
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biWidth, 2 * 164);
  EXPECT_EQ(header.biHeight, 2 * 314);
  EXPECT_EQ(header.biBitCount, 8);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RLE8));
}

TEST_F(ExeResources, ManifestDeclaresDpiAwarenessAndWindows7To11) {
  const std::vector<std::uint8_t> bytes = Resource(MAKEINTRESOURCEA(24), 1);
  ASSERT_FALSE(bytes.empty()) << "no manifest 1";
  const std::string manifest(bytes.begin(), bytes.end());
  // Without it Windows draws the page at 96 DPI and stretches it, blurred, above 100 %.
  EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
                          "true</dpiAware>"),
            std::string::npos);
  const struct {
    const char* system;
    const char* id;
  } supported[] = {
      {"Windows 7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
      {"Windows 8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
      {"Windows 8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
      {"Windows 10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"},
  };
  for (const auto& entry : supported) {
    EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + entry.id + "\"/>"), std::string::npos)
        << entry.system;
  }
}

TEST_F(ExeResources, IconVersionAndManifest) {
  EXPECT_FALSE(Resource(RT_GROUP_ICON, 100).empty()) << "no icon group 100";

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(exePath.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version block";
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(exePath.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  char* product = nullptr;
  UINT productSize = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\ProductName",
                             reinterpret_cast<void**>(&product), &productSize));
  EXPECT_STREQ(product, "QorEngineUpdate");

  const std::vector<std::uint8_t> bytes = Resource(MAKEINTRESOURCEA(24), 1);
  ASSERT_FALSE(bytes.empty()) << "no manifest 1";
  const std::string manifest(bytes.begin(), bytes.end());
  const std::size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
  ASSERT_NE(controls, std::string::npos);
  const std::size_t end = manifest.find("/>", controls);
  const std::string identity = manifest.substr(controls, end - controls);
  EXPECT_NE(identity.find("version=\"6.0.0.0\""), std::string::npos) << identity;
  EXPECT_NE(identity.find("processorArchitecture=\"X86\""), std::string::npos) << identity;
  EXPECT_NE(identity.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos) << identity;
  // Without it Windows decides from the file name whether a package is elevated.
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""),
            std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_resources_test QorEngineUpdate.exe\n");
    return 2;
  }
  exePath = argv[1];
  return RUN_ALL_TESTS();
}
