// Message texts through private copies of the real DLL, with language files
// beside the copy, on the search path, chosen by the shared settings file or
// by the regional language.
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/strings.h"

namespace {

typedef int(WINAPI* LoadStringFn)(HMODULE, UINT, char*, int);

const char* const kTexts[][2] = {
    {"100", "100: Velquor: Invalid request number"},
    {"101", "101: Velquor: Out of memory"},
    {"102", "102: Velquor: Terminal Services are not enabled"},
    {"103", "103: Velquor: Unable to open a terminal server handle"},
    {"104", "104: Velquor: Unable to get a session id for a specific process id"},
    {"105", "105: Velquor: Invalid process identifier value"},
    {"106", "106: Velquor: Unable to enumerate sessions"},
    {"107", "107: Velquor: Unable to enumerate processes"},
    {"108", "108: Velquor: Invalid session identifier value"},
    {"109", "109: Velquor: Unable to disconnect session"},
    {"110", "110: Velquor: Unable to logoff session"},
    {"111", "111: Velquor: Unable to terminate process"},
    {"112", "112: Velquor: Invalid exit code value"},
    {"113", "113: Velquor: Unable to send message"},
    {"114", "114: Velquor: Invalid message box style value"},
    {"115", "115: Velquor: Invalid message box timeout value"},
    {"116", "116: Velquor: Error getting session information"},
    {"117", "117: Velquor: Unable to wait for a system event to occur"},
    {"118", "118: Velquor: Invalid event mask value"},
    {"119", "119: Velquor: Unable to shutdown the system"},
    {"900", "900: Velquor: Invalid parameter"},
    {"901", "901: Velquor: Unknown function"},
    {"902", "902: Velquor: Function not yet implemented"},
    {"903", "903: Velquor: Need newer version of ZEL DLL"},
    {"904", "904: Velquor: Unknown error"},
    {"905", "905: Velquor: Invalid Pointer"},
    {"906", "906: Velquor: Buffer too small"},
    {"907", "907: Velquor: Function not available in this version of Windows"},
    {"908", "908: Velquor: ZEL Array Services/Handler error"},
    {"909", "909: Velquor: ZEL Variable Handler error"},
    {"910", "910: Velquor: ZEL Binary Buffer Handler error"},
    {"1000", "Velquor"},
};

// The folder of `module`: the test program's own when null.
std::string FolderOf(HMODULE module)
{
    char path[MAX_PATH];
    GetModuleFileNameA(module, path, MAX_PATH);
    *strrchr(path, '\\') = '\0';
    return path;
}
std::string BinFolder() { return FolderOf(nullptr); }

std::string WindowsFolder()
{
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

void WriteLanguageFile(const std::string& path, const char* const (*entries)[2], int count)
{
    DeleteFileA(path.c_str());
    for (int i = 0; i < count; ++i)
        WritePrivateProfileStringA("Velquor", entries[i][0], entries[i][1], path.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());  // flush
}

void SetSharedLanguage(const char* name)
{
    WritePrivateProfileStringA("MAIN", "Language", name, "QRVTAVRK.INI");
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "QRVTAVRK.INI");
}

// A copy of velquor.dll under its own name in its own folder, so language
// files beside it concern only this test.
class PrivateDll {
public:
    explicit PrivateDll(const std::string& folder, const std::string& name = "vq_strings.dll")
        : folder_(folder), path_(folder + "\\" + name)
    {
        CreateDirectoryA(folder.c_str(), nullptr);
        CopyFileA((FolderOf(LoadLibraryA("velquor.dll")) + "\\velquor.dll").c_str(), path_.c_str(), FALSE);
        module_ = LoadLibraryA(path_.c_str());
        load = module_ ? reinterpret_cast<LoadStringFn>(
                             reinterpret_cast<void*>(GetProcAddress(module_, "_ZELExLoadString@16")))
                       : nullptr;
    }
    ~PrivateDll()
    {
        if (module_)
            FreeLibrary(module_);
    }
    std::string Text(UINT id, int size = 257, int* count = nullptr)
    {
        char buffer[512];
        memset(buffer, '#', sizeof buffer);
        int n = load(module_, id, buffer, size);
        if (count)
            *count = n;
        return buffer;
    }
    void Rechoose() { EXPECT_EQ(load(module_, 0, nullptr, 0), 0); }
    std::string File(const std::string& language) const { return folder_ + "\\QRVELANG." + language; }
    HMODULE module() const { return module_; }
    LoadStringFn load;

private:
    std::string folder_, path_;
    HMODULE module_;
};

class Strings : public ::testing::Test {
protected:
    void SetUp() override { SetSharedLanguage(nullptr); }
    void TearDown() override
    {
        SetSharedLanguage(nullptr);
        WriteProfileStringA("intl", "sLanguage", "ENU");
    }
};

const char* const kGerman[][2] = {
    {"X100", "one~two|three"}, {"X105", "XXX"}, {"X50", "fifty"}, {"X1000", "Titel"}};

}  // namespace

TEST_F(Strings, EveryTextFromTheStringTable)
{
    PrivateDll dll(BinFolder() + "\\strings_plain");
    ASSERT_NE(dll.load, nullptr);
    for (const auto& t : kTexts) {
        int count = -1;
        EXPECT_EQ(dll.Text(UINT(atoi(t[0])), 257, &count), t[1]);
        EXPECT_EQ(count, int(strlen(t[1])));
    }
    int count = -1;
    EXPECT_EQ(dll.Text(100, 10, &count), "100: Velq");
    EXPECT_EQ(count, 9);
    EXPECT_EQ(dll.Text(100, 1, &count), "");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dll.Text(120, 257, &count), "");  // an id with no text
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dll.load(dll.module(), 100, nullptr, 257), 0);
}

TEST_F(Strings, LanguageFileBesideTheLibraryReplacesTexts)
{
    PrivateDll dll(BinFolder() + "\\strings_beside");
    ASSERT_NE(dll.load, nullptr);
    WriteLanguageFile(dll.File("TST"), kGerman, 4);
    EXPECT_EQ(dll.Text(100), kTexts[0][1]);  // no language chosen yet: resources
    SetSharedLanguage("TST");
    EXPECT_EQ(dll.Text(100), kTexts[0][1]);  // the choice is kept until id 0
    dll.Rechoose();
    int count = -1;
    EXPECT_EQ(dll.Text(100, 257, &count), "one\ntwo\tthree");
    EXPECT_EQ(count, 13);
    EXPECT_EQ(dll.Text(101), kTexts[1][1]);  // not in the file
    EXPECT_EQ(dll.Text(105), kTexts[5][1]);  // "XXX" counts as absent
    EXPECT_EQ(dll.Text(50), "");             // below 100: never from the file
    EXPECT_EQ(dll.Text(1000), "Titel");
    EXPECT_EQ(dll.Text(100, 5, &count), "one\n");
    EXPECT_EQ(count, 4);
    DeleteFileA(dll.File("TST").c_str());
}

TEST_F(Strings, RegionalLanguageWhenTheSharedSettingIsAbsent)
{
    PrivateDll dll(BinFolder() + "\\strings_regional");
    ASSERT_NE(dll.load, nullptr);
    WriteLanguageFile(dll.File("VQS"), kGerman, 1);
    const char* const english[][2] = {{"X100", "regional default"}};
    WriteLanguageFile(dll.File("enu"), english, 1);

    SetSharedLanguage("XXX");  // the sentinel counts as absent
    WriteProfileStringA("intl", "sLanguage", "VQS");
    dll.Rechoose();
    EXPECT_EQ(dll.Text(100), "one\ntwo\tthree");

    WriteProfileStringA("intl", "sLanguage", "XXX");  // absent too: "enu"
    dll.Rechoose();
    EXPECT_EQ(dll.Text(100), "regional default");
    DeleteFileA(dll.File("VQS").c_str());
    DeleteFileA(dll.File("enu").c_str());
}

TEST_F(Strings, LanguageFileOnTheSearchPath)
{
    PrivateDll dll(BinFolder() + "\\strings_search");
    ASSERT_NE(dll.load, nullptr);
    const std::string file = WindowsFolder() + "\\QRVELANG.VQP";
    const char* const found[][2] = {{"X901", "from the Windows folder"}};
    WriteLanguageFile(file, found, 1);
    SetSharedLanguage("VQP");
    dll.Rechoose();
    EXPECT_EQ(dll.Text(901), "from the Windows folder");
    DeleteFileA(file.c_str());
}

TEST_F(Strings, ModulePathTooLongForTheCandidateFallsBackToTheSearchPath)
{
    // 19-character language name and a module folder that leaves no room for it.
    const std::string language = "ABCDEFGHIJKLMNOPQRS";
    std::string folder = BinFolder() + "\\strings_long";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\" + std::string(230 - folder.size(), 'd');
    ASSERT_LT(folder.size() + 12, size_t(MAX_PATH));
    PrivateDll dll(folder, "vq.dll");
    ASSERT_NE(dll.load, nullptr);
    const std::string file = WindowsFolder() + "\\QRVELANG." + language;
    const char* const found[][2] = {{"X902", "long path fallback"}};
    WriteLanguageFile(file, found, 1);
    SetSharedLanguage(language.c_str());
    dll.Rechoose();
    EXPECT_EQ(dll.Text(902), "long path fallback");
    DeleteFileA(file.c_str());
}

TEST(Separator, DbcsTrailByteIsNoSeparator)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932";
    // 0x95 0x5C is one double-byte character whose trail byte is "\".
    char path[] = "C:\\folder\\strings_\x95\x5c";
    EXPECT_EQ(xFindLastSeparator(path), path + 9);
    char file[] = "C:\\\x95\x5c\\QRVELANG.TST";
    EXPECT_EQ(xFindLastSeparator(file), file + 5);
    char slash[] = "a/b\\\x95\x5c";
    EXPECT_EQ(xFindLastSeparator(slash), slash + 3);
}

TEST(Separator, PlainPaths)
{
    char none[] = "velquor.dll";
    EXPECT_EQ(xFindLastSeparator(none), nullptr);
    char mixed[] = "a\\b/c";
    EXPECT_EQ(xFindLastSeparator(mixed), mixed + 3);
}

TEST(IntToText, EveryRadixAndSign)
{
    char out[40];
    xIntToText(0, out, 10);
    EXPECT_STREQ(out, "0");
    xIntToText(1000, out, 10);
    EXPECT_STREQ(out, "1000");
    xIntToText(-2147483647 - 1, out, 10);
    EXPECT_STREQ(out, "-2147483648");
    xIntToText(255, out, 16);
    EXPECT_STREQ(out, "FF");
    xIntToText(35, out, 36);
    EXPECT_STREQ(out, "Z");
    // Radix 2 needs 31 places for the largest magnitudes.
    xIntToText(0x7fffffff, out, 2);
    EXPECT_STREQ(out, std::string(31, '1').c_str());
    xIntToText(-2147483647 - 1, out, 2);
    EXPECT_STREQ(out, ("-1" + std::string(31, '0')).c_str());
}

// Folders the platform's old limits used to hide: a module folder deeper
// than 128 characters, and one whose name is not ASCII.
TEST_F(Strings, LanguageFileBesideADeepOrNonAsciiFolder)
{
    const std::string deep = BinFolder() + "\\strings_deep_" + std::string(150, 'd');
    for (const std::string& folder : {deep, BinFolder() + "\\strings_caf\xe9"}) {
        ASSERT_LT(folder.size() + 30, size_t(MAX_PATH));
        PrivateDll dll(folder);
        ASSERT_NE(dll.load, nullptr) << folder;
        const char* const beside[][2] = {{"X100", "found beside"}};
        WriteLanguageFile(dll.File("TST"), beside, 1);
        SetSharedLanguage("TST");
        dll.Rechoose();
        EXPECT_EQ(dll.Text(100), "found beside") << folder.size();
        DeleteFileA(dll.File("TST").c_str());
    }
}

// The bare-name search reports paths of 128 characters and more too: here
// the current folder, searched right after the program's own.
TEST_F(Strings, DeepCurrentFolderOnTheSearchPath)
{
    PrivateDll dll(BinFolder() + "\\strings_nofile");
    ASSERT_NE(dll.load, nullptr);
    const std::string deep = BinFolder() + "\\strings_current_" + std::string(150, 'c');
    CreateDirectoryA(deep.c_str(), nullptr);
    const char* const there[][2] = {{"X901", "from the current folder"}};
    WriteLanguageFile(deep + "\\QRVELANG.VQC", there, 1);
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    SetSharedLanguage("VQC");
    dll.Rechoose();
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(dll.Text(901), "from the current folder");
    DeleteFileA((deep + "\\QRVELANG.VQC").c_str());
}

// Buffers too small for the sentinel still get the string table's text, cut
// as usual; ids beyond 16 bits have no text, from the file or the table.
TEST_F(Strings, SmallBuffersAndIdsBeyondSixteenBits)
{
    PrivateDll dll(BinFolder() + "\\strings_small");
    ASSERT_NE(dll.load, nullptr);
    const char* const entries[][2] = {{"X100", "ab"}, {"X65636", "wide"}};
    WriteLanguageFile(dll.File("TST"), entries, 2);
    const struct {
        UINT id;
        int size;
        const char* text;
        int count;
    } cases[] = {
        {100, 1, "", 0},   {100, 2, "a", 1},   {100, 3, "ab", 2},    {101, 2, "1", 1},
        {101, 3, "10", 2}, {101, 4, "101", 3}, {101, 5, "101:", 4},  {65636, 257, "", 0},
        {65535, 257, "", 0}, {0x10000u + 100, 257, "", 0},
    };
    for (bool withFile : {true, false}) {
        SetSharedLanguage(withFile ? "TST" : "NONE");
        dll.Rechoose();
        for (const auto& c : cases) {
            if (!withFile && c.id == 100 && c.size > 1)
                continue;  // the file's own text
            int count = -1;
            EXPECT_EQ(dll.Text(c.id, c.size, &count), c.text) << c.id << " in " << c.size;
            EXPECT_EQ(count, c.count) << c.id << " in " << c.size;
        }
    }
    DeleteFileA(dll.File("TST").c_str());
}
