// Message texts through private copies of the real DLL, with language files
// beside the copy, on the search path, chosen by the shared settings file or
// by the regional language.
#include "host/exportname.h"
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "include/velquor_errors.h"
#include "support/strings.h"

namespace {

typedef int(WINAPI* LoadStringFn)(HMODULE, UINT, char*, int);

// Every id of the string table, by its name.
const UINT kIds[] = {
    QRVTS_INVALID_REQUEST,      QRVTS_OUT_OF_MEMORY,         QRVTS_NOT_ENABLED,          QRVTS_OPEN_SERVER_FAILED,
    QRVTS_SESSION_ID_FAILED,    QRVTS_INVALID_PROCESS_ID,    QRVTS_ENUM_SESSIONS_FAILED, QRVTS_ENUM_PROCESSES_FAILED,
    QRVTS_INVALID_SESSION_ID,   QRVTS_DISCONNECT_FAILED,     QRVTS_LOGOFF_FAILED,        QRVTS_TERMINATE_FAILED,
    QRVTS_INVALID_EXIT_CODE,    QRVTS_SEND_MESSAGE_FAILED,   QRVTS_INVALID_STYLE,        QRVTS_INVALID_TIMEOUT,
    QRVTS_SESSION_INFO_FAILED,  QRVTS_WAIT_FAILED,           QRVTS_INVALID_EVENT_MASK,   QRVTS_SHUTDOWN_FAILED,
    QRVTS_INVALID_PARAMETER,    QRVTS_UNKNOWN_FUNCTION,      QRVTS_NOT_IMPLEMENTED,      QRVTS_NEED_NEWER_HOST,
    QRVTS_UNKNOWN_ERROR,        QRVTS_INVALID_POINTER,       QRVTS_BUFFER_TOO_SMALL,     QRVTS_NOT_AVAILABLE,
    QRVTS_ARRAY_SERVICE_FAILED, QRVTS_VARIABLE_SERVICE_FAILED, QRVTS_BUFFER_SERVICE_FAILED, QRVTS_TITLE_STRING,
};

// The text of `id` in the string table of `module` itself.
std::string TableText(HMODULE module, UINT id)
{
    char text[300] = "";
    LoadStringA(module, id, text, sizeof text);
    return text;
}

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
                             reinterpret_cast<void*>(GetProcAddress(module_, ExportName("_ZELExLoadString@16").c_str())))
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
    // Each error text begins with its number and "Velquor: "; the title is
    // "Velquor". The texts themselves are checked against the reference.
    for (UINT id : kIds) {
        const std::string table = TableText(dll.module(), id);
        const std::string prefix = std::to_string(id) + ": Velquor: ";
        EXPECT_EQ(id == QRVTS_TITLE_STRING ? table == "Velquor" : table.compare(0, prefix.size(), prefix) == 0 &&
                                                                      table.size() > prefix.size(), true) << table;
        int count = -1;
        EXPECT_EQ(dll.Text(id, 257, &count), table);
        EXPECT_EQ(count, int(table.size()));
    }
    int count = -1;
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST, 10, &count), "100: Velq");
    EXPECT_EQ(count, 9);
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST, 1, &count), "");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dll.Text(124, 257, &count), "");  // an id with no text
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dll.load(dll.module(), QRVTS_INVALID_REQUEST, nullptr, 257), 0);
}

TEST_F(Strings, LanguageFileBesideTheLibraryReplacesTexts)
{
    PrivateDll dll(BinFolder() + "\\strings_beside");
    ASSERT_NE(dll.load, nullptr);
    WriteLanguageFile(dll.File("TST"), kGerman, 4);
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST), TableText(dll.module(), QRVTS_INVALID_REQUEST));  // no language chosen yet: resources
    SetSharedLanguage("TST");
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST), TableText(dll.module(), QRVTS_INVALID_REQUEST));  // the choice is kept until id 0
    dll.Rechoose();
    int count = -1;
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST, 257, &count), "one\ntwo\tthree");
    EXPECT_EQ(count, 13);
    EXPECT_EQ(dll.Text(QRVTS_OUT_OF_MEMORY), TableText(dll.module(), QRVTS_OUT_OF_MEMORY));  // not in the file
    EXPECT_EQ(dll.Text(QRVTS_INVALID_PROCESS_ID), TableText(dll.module(), QRVTS_INVALID_PROCESS_ID));  // "XXX" counts as absent
    EXPECT_EQ(dll.Text(50), "");             // below 100: never from the file
    EXPECT_EQ(dll.Text(QRVTS_TITLE_STRING), "Titel");
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST, 5, &count), "one\n");
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
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST), "one\ntwo\tthree");

    WriteProfileStringA("intl", "sLanguage", "XXX");  // absent too: "enu"
    dll.Rechoose();
    EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST), "regional default");
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
    EXPECT_EQ(dll.Text(QRVTS_UNKNOWN_FUNCTION), "from the Windows folder");
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
    EXPECT_EQ(dll.Text(QRVTS_NOT_IMPLEMENTED), "long path fallback");
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
        EXPECT_EQ(dll.Text(QRVTS_INVALID_REQUEST), "found beside") << folder.size();
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
    EXPECT_EQ(dll.Text(QRVTS_UNKNOWN_FUNCTION), "from the current folder");
    DeleteFileA((deep + "\\QRVELANG.VQC").c_str());
}

// Buffers too small for the sentinel still get the string table's text, cut
// as usual; ids beyond 16 bits have no text, from the file or the table.
TEST_F(Strings, SmallBuffersAndIdsBeyondSixteenBits)
{
    PrivateDll dll(BinFolder() + "\\strings_small");
    ASSERT_NE(dll.load, nullptr);
    const char* const entries[][2] = {{"X100", "ab"}, {"X65636", "wide"}};  // 65636: 0x10000 + 100
    WriteLanguageFile(dll.File("TST"), entries, 2);
    const struct {
        UINT id;
        int size;
        const char* text;
        int count;
    } cases[] = {
        // X100 of the file holds "ab"; the table's text of 101 begins "101: ".
        {QRVTS_INVALID_REQUEST, 1, "", 0},    {QRVTS_INVALID_REQUEST, 2, "a", 1},
        {QRVTS_INVALID_REQUEST, 3, "ab", 2},  {QRVTS_OUT_OF_MEMORY, 2, "1", 1},
        {QRVTS_OUT_OF_MEMORY, 3, "10", 2},    {QRVTS_OUT_OF_MEMORY, 4, "101", 3},
        {QRVTS_OUT_OF_MEMORY, 5, "101:", 4},  {0x10000u + QRVTS_INVALID_REQUEST, 257, "", 0},
        {65535, 257, "", 0},
    };
    for (bool withFile : {true, false}) {
        SetSharedLanguage(withFile ? "TST" : "NONE");
        dll.Rechoose();
        for (const auto& c : cases) {
            if (!withFile && c.id == QRVTS_INVALID_REQUEST && c.size > 1)
                continue;  // the file's own text
            int count = -1;
            EXPECT_EQ(dll.Text(c.id, c.size, &count), c.text) << c.id << " in " << c.size;
            EXPECT_EQ(count, c.count) << c.id << " in " << c.size;
        }
    }
    DeleteFileA(dll.File("TST").c_str());
}

// The UTF-8 text of a language file's text in the ANSI code page, whole or
// cut to any size at a character's end.
TEST_F(Strings, Utf8TextsOfALanguageFile)
{
    PrivateDll dll(BinFolder() + "\\strings_utf8");
    ASSERT_NE(dll.load, nullptr);
    const char* const german[][2] = {{"X900", "Ung\xfcltige Gr\xf6\xdf" "e"}};
    WriteLanguageFile(dll.File("TST"), german, 1);
    SetSharedLanguage("TST");
    dll.Rechoose();
    typedef LONG(WINAPI * TextFn)(LONG, LPSTR, DWORD);
    const TextFn utf8 = reinterpret_cast<TextFn>(
        reinterpret_cast<void*>(GetProcAddress(dll.module(), ExportName("_QRVTS_GetErrorTextUtf8@12").c_str())));
    ASSERT_NE(utf8, nullptr);
    const std::string whole = "Ung\xc3\xbcltige Gr\xc3\xb6\xc3\x9f" "e";
    for (DWORD size = 1; size <= whole.size() + 2; ++size) {
        char buffer[64];
        memset(buffer, '#', sizeof buffer);
        const LONG n = utf8(QRVTS_INVALID_PARAMETER, buffer, size);
        const std::string got(buffer);
        EXPECT_EQ(LONG(got.size()), n);
        EXPECT_LT(got.size(), size_t(size));
        EXPECT_EQ(whole.compare(0, got.size(), got), 0) << size;
        // Cut only where the next character starts, never within one.
        EXPECT_TRUE(got.size() == whole.size() || (whole[got.size()] & 0xC0) != 0x80) << size;
        EXPECT_GT(got.size() + 3, std::min(size_t(size) - 1, whole.size())) << size;
    }
    DeleteFileA(dll.File("TST").c_str());
}
