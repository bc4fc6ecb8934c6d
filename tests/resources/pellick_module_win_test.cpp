// The built modules as the agent opens them: every text equal to its source,
// every icon and menu image loadable at the sizes the shell asks for.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "protocol/utf8.h"
#include "resources/string_table.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

struct Module {
    const char* folder;  // under the install directory; "" for the neutral one
    const char* language;
};
const Module kModules[] = {{"", "en-US"},         {"en-US", "en-US"}, {"de-DE", "de-DE"}, {"fr-FR", "fr-FR"},
                           {"es-ES", "es-ES"}, {"it-IT", "it-IT"}, {"pt-BR", "pt-BR"}, {"nl-NL", "nl-NL"},
                           {"pl-PL", "pl-PL"}, {"ru-RU", "ru-RU"}, {"ja-JP", "ja-JP"}, {"zh-CN", "zh-CN"},
                           {"ko-KR", "ko-KR"}};

const int kIcons[] = {20, 21, 23, 24, 25, 26};
const int kBitmaps[] = {50, 51, 52, 53, 54, 55, 56};

std::wstring Widen(const std::string& text)
{
    const std::u16string wide = DecodeUtf8Lenient(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string InstallDir() { return VANTOREL_INSTALL_DIR; }

std::wstring ModulePath(const Module& m)
{
    std::string path = InstallDir();
    if (*m.folder) path += std::string("/") + m.folder;
    return Widen(path + "/Pellick.dll");
}

StringTable ReadSource(const char* language)
{
    std::ifstream in(std::string(VANTOREL_STRINGS_DIR) + "/" + language + ".txt", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    StringTable table;
    std::string error;
    EXPECT_TRUE(ReadStringTable(bytes.str(), table, error)) << error;
    return table;
}

class LoadedModule {
public:
    explicit LoadedModule(const std::wstring& path) : handle_(LoadLibraryW(path.c_str())) {}
    ~LoadedModule()
    {
        if (handle_) FreeLibrary(handle_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    HMODULE get() const { return handle_; }

private:
    HMODULE handle_;
};

// Width and height of the colour bitmap of an icon, or of a bitmap.
SIZE BitmapSize(HBITMAP bitmap, WORD* bitsPerPixel = nullptr)
{
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info)) return {0, 0};
    if (bitsPerPixel) *bitsPerPixel = info.bmBitsPixel;
    return {info.bmWidth, info.bmHeight};
}

SIZE IconSize(HICON icon)
{
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return {0, 0};
    const SIZE size = BitmapSize(info.hbmColor ? info.hbmColor : info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return size;
}

TEST(PellickModule, EveryTextLoadsAsWrittenInItsSource)
{
    for (const Module& m : kModules) {
        SCOPED_TRACE(std::string("module ") + m.folder);
        LoadedModule module(ModulePath(m));
        ASSERT_NE(module.get(), nullptr) << "LoadLibraryW failed: " << GetLastError();
        const StringTable source = ReadSource(m.language);
        ASSERT_EQ(source.size(), AllUiStringIds().size());
        for (unsigned id : AllUiStringIds()) {
            SCOPED_TRACE(id);
            // As the agent reads it: 520 units, cut to 519.
            wchar_t buffer[520] = {};
            const int length = LoadStringW(module.get(), id, buffer, 520);
            const std::u16string& expected = source.at(id);
            ASSERT_EQ(length, static_cast<int>(expected.size()));
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer));
        }
        // Nothing beyond the identifiers the agent knows.
        for (unsigned id : {99u, 102u, 125u, 133u, 158u}) {
            wchar_t buffer[8] = {};
            EXPECT_EQ(LoadStringW(module.get(), id, buffer, 8), 0) << id;
        }
    }
}

TEST(PellickModule, EveryIconAndMenuImageLoads)
{
    for (const Module& m : kModules) {
        SCOPED_TRACE(std::string("module ") + m.folder);
        LoadedModule module(ModulePath(m));
        ASSERT_NE(module.get(), nullptr) << "LoadLibraryW failed: " << GetLastError();
        for (int id : kIcons) {
            SCOPED_TRACE(id);
            // Every size the taskbar's slot and the balloon take, each an
            // image of its own in the group rather than one scaled.
            HRSRC group = FindResourceW(module.get(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
            ASSERT_NE(group, nullptr);
            auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module.get(), group)));
            for (int size : {16, 20, 24, 28, 32, 40, 48, 64}) {
                const int image = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
                HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(image), MAKEINTRESOURCEW(3));  // RT_ICON
                ASSERT_NE(found, nullptr) << "size " << size;
                const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module.get(), found)));
                EXPECT_EQ(header->biWidth, size);
                HICON icon = static_cast<HICON>(
                    LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
                ASSERT_NE(icon, nullptr) << "size " << size << ": " << GetLastError();
                EXPECT_EQ(IconSize(icon).cx, size);
                DestroyIcon(icon);
            }
            // The agent's own call: shared, the system's default size.
            EXPECT_NE(LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0,
                                 LR_SHARED | LR_DEFAULTSIZE),
                      nullptr);
        }
        for (int id : kBitmaps) {
            SCOPED_TRACE(id);
            HBITMAP bitmap = static_cast<HBITMAP>(
                LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
            ASSERT_NE(bitmap, nullptr) << GetLastError();
            WORD bits = 0;
            const SIZE got = BitmapSize(bitmap, &bits);
            EXPECT_EQ(got.cx, 16);
            EXPECT_EQ(got.cy, 16);
            EXPECT_EQ(bits, 32);
            DeleteObject(bitmap);
            EXPECT_NE(LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_SHARED), nullptr);
        }
    }
}

TEST(PellickModule, IconFilesBesideTheAgentLoad)
{
    struct File {
        const char* name;
        int size;
    };
    for (const File& f : {File{"Pellick.ico", 32}, File{"Pellick.ico", 16}, File{"Pellick16.ico", 16}}) {
        SCOPED_TRACE(f.name);
        const std::wstring path = Widen(InstallDir() + "/" + f.name);
        HICON icon = static_cast<HICON>(
            LoadImageW(nullptr, path.c_str(), IMAGE_ICON, f.size, f.size, LR_LOADFROMFILE));
        ASSERT_NE(icon, nullptr) << GetLastError();
        EXPECT_EQ(IconSize(icon).cx, f.size);
        DestroyIcon(icon);
    }
}

}  // namespace
}  // namespace vantorel
