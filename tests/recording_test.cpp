// The last-error record and the settings folder, and the actions' copies and
// allocation failures, linked from the library's core.
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "extender/binding.h"
#include "extender/request.h"
#include "host/host.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/procaddr.h"
#include "tests/alloc_fail.h"
#include "tests/settings.h"

namespace {

bool RemoveTree(const std::string& folder)
{
    DeleteFileA((folder + "\\Settings\\qrvtavrk.ini").c_str());
    RemoveDirectoryA((folder + "\\Settings").c_str());
    return RemoveDirectoryA(folder.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::string WindowsFolder()
{
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

// A shell whose folder lookup hands back a chosen path, or none at all.
std::string fakeFolder;
bool shellMissing = false;

HMODULE WINAPI ShellLoad(LPCSTR name) { return shellMissing ? nullptr : ::LoadLibraryA(name); }

HRESULT WINAPI FakeFolderPath(HWND, int, HANDLE, DWORD, LPSTR buffer)
{
    strcpy(buffer, fakeFolder.c_str());
    return S_OK;
}

FARPROC WINAPI ShellFind(HMODULE, LPCSTR) { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeFolderPath)); }

class Recording : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShellBinding = {::LoadLibraryA, ::GetProcAddress, ::FreeLibrary, ::GetWindowsDirectoryA};
        ClearLastErrorRecord();
    }
    void TearDown() override
    {
        ShellBinding = {::LoadLibraryA, ::GetProcAddress, ::FreeLibrary, ::GetWindowsDirectoryA};
        shellMissing = false;
    }
};

}  // namespace

TEST_F(Recording, RecordFormatAndResult)
{
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", "LastError", "%X \"%s\"", 0u, "x"), 5);
    EXPECT_EQ(LastErrorRecord(), "0 \"x\"");
    xRecordLastError(5, "WTSOpenServerAX() : QRVTS_OpenServer()");
    EXPECT_EQ(LastErrorRecord(), "5 \"WTSOpenServerAX() : QRVTS_OpenServer()\"");
    xRecordLastError(0xFFFFFFFF, "100% done : {x}");
    EXPECT_EQ(LastErrorRecord(), "FFFFFFFF \"100% done : {x}\"");
}

TEST_F(Recording, MissingNamesRecordNothing)
{
    Host host(1005);
    InterpreterCall call(&host.block);
    EXPECT_EQ(xRecordError("", "Velquor", "LastError", "%s", "a"), 0);
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "", "LastError", "%s", "a"), 0);
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", nullptr, "%s", "a"), 0);
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", "LastError", ""), 0);
    EXPECT_TRUE(host.lastErrorTexts.empty());
    EXPECT_EQ(LastErrorRecord(), "<none>");
}

// The interpreter hears of a record made inside one of its calls on the
// same thread, from version 1005 on; a record made after its call, or on
// another thread, reaches only the settings file.
TEST_F(Recording, InterpreterIsToldInsideItsCallFromVersion1005)
{
    Host old(1004), current(1005);
    // Version 1004, 1005 inside its call, 1005 after it, 1005 inside its call but another thread.
    const struct { Host* host; bool inside, otherThread; } cases[] = {
        {&old, true, false}, {&current, true, false}, {&current, false, false}, {&current, true, true}};
    for (DWORD code = 0; code < 4; ++code) {
        InterpreterCall call(cases[code].inside ? &cases[code].host->block : nullptr);
        cases[code].otherThread ? std::thread(xRecordLastError, code, "a").join() : xRecordLastError(code, "a");
        EXPECT_EQ(LastErrorRecord(), std::to_string(code) + " \"a\"");
    }
    EXPECT_TRUE(old.lastErrorTexts.empty());
    EXPECT_EQ(current.lastErrorTexts, std::vector<std::string>{"1 \"a\""});
}

TEST_F(Recording, FoldersAreCreatedOnFirstUse)
{
    const std::string tavrik = AppDataFolder() + "\\Tavrik";
    ASSERT_TRUE(RemoveTree(tavrik));
    xRecordLastError(7, "first");
    EXPECT_EQ(GetFileAttributesA((tavrik + "\\Settings").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(LastErrorRecord(), "7 \"first\"");
    xRecordLastError(8, "again");
    EXPECT_EQ(LastErrorRecord(), "8 \"again\"");
    char folder[MAX_PATH];
    EXPECT_EQ(xGetSettingsFolder(folder, MAX_PATH), 1);
    EXPECT_EQ(std::string(folder), tavrik + "\\Settings");
}

TEST_F(Recording, WindowsFolderWithoutTheShell)
{
    shellMissing = true;
    ShellBinding.LoadLibraryA = ShellLoad;
    const std::string file = SettingsFile(WindowsFolder());
    ClearLastErrorRecord(file);
    xRecordLastError(9, "fallback");
    EXPECT_EQ(LastErrorRecord(file), "9 \"fallback\"");
    EXPECT_EQ(LastErrorRecord(), "<none>");
}

UINT WINAPI NoWindowsFolder(LPSTR buffer, UINT) { return buffer[0] = '\0', 0; }

// Neither folder known: nothing is made where the program runs.
TEST_F(Recording, NoFolderKnownWritesNothing)
{
    fakeFolder = "";
    ShellBinding = {::LoadLibraryA, ShellFind, ::FreeLibrary, NoWindowsFolder};
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", "LastError", "%s", "x"), 0);
    EXPECT_EQ(GetFileAttributesA("Tavrik"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Recording, ShellFolderEndingInASeparatorGetsNoSecond)
{
    fakeFolder = AppDataFolder() + "\\";
    ShellBinding.GetProcAddress = ShellFind;
    char folder[MAX_PATH];
    ASSERT_EQ(xGetSettingsFolder(folder, MAX_PATH), 1);
    EXPECT_EQ(std::string(folder), AppDataFolder() + "\\Tavrik\\Settings");
}

TEST_F(Recording, PathsThatDoNotFitWriteNothing)
{
    // The folders fit, but not the file name after them.
    const std::string base = AppDataFolder() + "\\long";
    CreateDirectoryA(base.c_str(), nullptr);
    fakeFolder = base + "\\" + std::string(MAX_PATH - 1 - (base.size() + 1) - 16 - 8, 'p');
    CreateDirectoryA(fakeFolder.c_str(), nullptr);
    ShellBinding.GetProcAddress = ShellFind;
    char folder[MAX_PATH];
    EXPECT_EQ(xGetSettingsFolder(folder, MAX_PATH), 1);
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", "LastError", "%s", "x"), 0);
    // A folder too long for "\Tavrik" is no settings folder at all.
    fakeFolder = std::string(MAX_PATH - 4, 'q');
    EXPECT_EQ(xGetSettingsFolder(folder, MAX_PATH), 0);
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", "LastError", "%s", "x"), 0);
}

TEST_F(Recording, AllocationFailureRecordsNothing)
{
    FailCallocAt(1);
    EXPECT_EQ(xRecordError("qrvtavrk.ini", "Velquor", "LastError", "%s", "x"), 0);
    CountCallocs();
    EXPECT_EQ(LastErrorRecord(), "<none>");
}

namespace {

// A platform that accepts every open and remembers what it was sent.
std::string sentTitle, sentMessage;
DWORD sentTitleLength = 99, sentMessageLength = 99;
int opens = 0, closes = 0;

HANDLE WINAPI OpenAny(LPSTR) { return ++opens, reinterpret_cast<HANDLE>(0x44); }
void WINAPI CloseAny(HANDLE) { ++closes; }
BOOL WINAPI Send(HANDLE, DWORD, LPSTR title, DWORD titleLength, LPSTR message, DWORD messageLength, DWORD, DWORD,
                 DWORD* response, BOOL)
{
    sentTitle = title;
    sentMessage = message;
    sentTitleLength = titleLength;
    sentMessageLength = messageLength;
    *response = 1;
    return TRUE;
}

class Actions : public Recording {
protected:
    void SetUp() override
    {
        Recording::SetUp();
        table = BindingTable{};
        table.Entry.Ansi.OpenServer = OpenAny;
        table.Entry.WTSCloseServer = CloseAny;
        table.Entry.Ansi.SendMessageBox = Send;
        table.ServicesBound = table.ExportsBound = 1;
        xInstallBinding(table);
        opens = closes = 0;
    }
    void TearDown() override
    {
        xInstallBinding(BindingTable{});
        Recording::TearDown();
    }
    BindingTable table;
};

}  // namespace

TEST_F(Actions, NullTextsAreSentEmptyAndCopiesReleased)
{
    DWORD response = 0;
    CountCallocs();
    EXPECT_EQ(QRVTS_SendMessage("alpha", 1, nullptr, nullptr, 0, 0, FALSE, &response), QRVTS_OK);
    EXPECT_EQ(OutstandingCallocs(), 0);
    EXPECT_EQ(sentTitle, "");
    EXPECT_EQ(sentMessage, "");
    EXPECT_EQ(sentTitleLength, 0u);
    EXPECT_EQ(sentMessageLength, 0u);
    EXPECT_EQ(response, 1u);
    EXPECT_EQ(opens, closes);
}

TEST_F(Actions, CopyFailuresAreOutOfMemory)
{
    for (int failing = 1; failing <= 2; ++failing) {
        DWORD response = 0;
        FailCallocAt(failing);
        EXPECT_EQ(QRVTS_SendMessage("alpha", 1, "title", "message", 0, 0, FALSE, &response), QRVTS_OUT_OF_MEMORY);
        EXPECT_EQ(OutstandingCallocs(), 0) << failing;
        CountCallocs();
        EXPECT_EQ(LastErrorRecord(), "0 \"xAllocPrintf() {returned NULL pointer} : QRVTS_SendMessage()\"");
        EXPECT_EQ(opens, closes);
    }
}

BOOL WINAPI SessionOfProcess(DWORD process, DWORD* session)
{
    if (process == 13) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *session = process * 2;
    return TRUE;
}

// The process-to-session service failing is recorded; its answer otherwise
// goes to the caller.
TEST_F(Actions, ProcessToSessionFailureIsRecorded)
{
    table.Entry.ProcessIdToSessionId = SessionOfProcess;
    xInstallBinding(table);
    DWORD session = 99;
    EXPECT_EQ(QRVTS_ProcessIdToSessionId(13, &session), QRVTS_SESSION_ID_FAILED);
    EXPECT_EQ(session, 99u);
    EXPECT_EQ(LastErrorRecord(), "57 \"ProcessIdToSessionIdX() : QRVTS_ProcessIdtoSessionId()\"");
    EXPECT_EQ(QRVTS_ProcessIdToSessionId(4, &session), QRVTS_OK);
    EXPECT_EQ(session, 8u);
}

TEST_F(Actions, UnboundServicesAreNotAvailable)
{
    xInstallBinding(BindingTable{});
    DWORD out = 5;
    EXPECT_EQ(QRVTS_DisconnectSession("", 1, FALSE), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_LogoffSession(nullptr, 1, FALSE), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_TerminateProcess("", 1, 0), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_WaitSystemEvent("", 1, &out), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_ShutdownSystem("", 1), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_SendMessage("", 1, "", "", 0, 0, 0, &out), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_ProcessIdToSessionId(1, nullptr), QRVTS_NOT_AVAILABLE);
    HANDLE h = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(QRVTS_OpenServer("alpha", &h), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_OpenServer("", &h), QRVTS_OK);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(QRVTS_CloseServer(reinterpret_cast<HANDLE>(0x44)), 0);
    EXPECT_EQ(QRVTS_GetActiveConsoleSessionId(&out), QRVTS_OK);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(LastErrorRecord(), "<none>");
}
