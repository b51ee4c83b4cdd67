// The extender's entry points and dispatch, linked from the library's core
// and driven through the host's interpreter side; the binding seam stands
// in for missing libraries and entry points.
#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "velquor_version.h"
#include "extender/binding.h"
#include "extender/entry.h"
#include "extender/request.h"
#include "extender/table.h"
#include "host/host.h"
#include "include/velquor.h"
#include "support/platform.h"
#include "support/strings.h"

namespace {

// What the fake platform lacks, and what it loaded.
std::set<std::string> missingLibraries;
std::set<std::string> missingEntries;
std::vector<std::string> freed;
BOOL productPresent = FALSE;
std::atomic<int> libraryLoads;

HMODULE WINAPI FakeLoad(LPCSTR path)
{
    ++libraryLoads;
    const char* name = strrchr(path, '\\');
    if (missingLibraries.count(name ? name + 1 : path))
        return nullptr;
    return ::LoadLibraryA("KERNEL32.DLL");  // serves every library of the fake platform
}

HMODULE WINAPI FakeProbe(LPCSTR name, HANDLE, DWORD flags)
{
    return flags == LOAD_LIBRARY_AS_DATAFILE ? FakeLoad(name) : nullptr;
}

bool temporaryFolderFails = false;
DWORD WINAPI NoTemporaryFolder(DWORD, LPSTR) { return 0; }

// Every entry point the platform offers is one harmless function.
void WINAPI Anything() {}

FARPROC WINAPI FakeFind(HMODULE module, LPCSTR name)
{
    if (missingEntries.count(name))
        return nullptr;
    if (std::string(name) == "GetTempPathA")
        return temporaryFolderFails ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(NoTemporaryFolder))
                                    : ::GetProcAddress(module, name);
    return reinterpret_cast<FARPROC>(Anything);
}

BOOL WINAPI FakeFree(HMODULE module)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    freed.push_back(path);
    return TRUE;
}

BOOL WINAPI FakePresent() { return productPresent; }

Extender CoreExtender()
{
    Extender ext;
    ext.Extender2 = ZELExtender2;
    ext.Query = ZELExtenderQuery;
    ext.Version = ZELExVersion;
    ext.LoadString = ZELExLoadString;
    return ext;
}

class ExtenderTest : public ::testing::Test {
protected:
    Host host;
    Extender ext = CoreExtender();

    void SetUp() override
    {
        xPlatformAttach(&PlatformInfo, GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);
        Binding = {FakeLoad, FakeProbe, FakeFind, FakeFree, FakePresent};
        xReleaseAllBindings();
        libraryLoads = 0;
        temporaryFolderFails = false;
        missingLibraries = {"WFAPI.DLL", "APSDK.DLL", "CTXSMCAPI.DLL"};
        missingEntries.clear();
        freed.clear();
        productPresent = FALSE;
    }

    // The binding as it stands.
    static BindingTable Now()
    {
        BindingLease lease;
        return lease.Current();
    }

    std::string Initialise(int32_t* result = nullptr)
    {
        std::string message;
        int32_t r = HostInitialise(host, ext, &message);
        if (result)
            *result = r;
        return message;
    }

    // Status and value of a script call.
    // A script function by its name in the function table.
    Completion Call(const char* function, std::vector<const char*> args = {})
    {
        const int32_t request = HostFindFunction(HostReadTable(host, ext), function);
        EXPECT_NE(request, 0) << function;
        return Call(request, args);
    }
    Completion Call(int32_t request, std::vector<const char*> args = {})
    {
        EXPECT_EQ(HostCall(host, ext, request, args), host.completionResult);
        EXPECT_EQ(host.completion.calls, 1);
        return host.completion;
    }

    std::string Message(int number)
    {
        char text[300];
        ZELExLoadString(PlatformInfo.ModuleHandle, UINT(number), text, sizeof text);
        return text;
    }
};

}  // namespace

TEST(TextToNumber, IsIntegerTextAndParseInteger)
{
    for (const char* yes : {"", " ", "   ", "+", "-", " -", "42", " +42", "-7", "007", "4294967295", "+4294967295",
                            "-2147483648", "00000000000004294967295"})
        EXPECT_TRUE(IsIntegerText(yes)) << "[" << yes << "]";
    for (const char* no : {"42 ", "4 2", "a", "1a", "--1", "+-1", "\t1", "0x10", "1.0", "4294967296", "-2147483649",
                           "99999999999999999999", "18446744073709551617"})
        EXPECT_FALSE(IsIntegerText(no)) << "[" << no << "]";
    EXPECT_EQ(ParseInteger(" +42"), 42);
    EXPECT_EQ(ParseInteger("-7"), -7);
    EXPECT_EQ(ParseInteger(""), 0);
    EXPECT_EQ(ParseInteger(" -"), 0);
    EXPECT_EQ(ParseInteger("4294967295"), -1);  // the caller's own session, as 32 bits hold it
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInteger("12ab"), 12);
}

TEST(FunctionTable, RowsByteForByte)
{
    const char* const names[] = {"wtsversion",     "wtslasterrmsg",       "wtsistsenabled",
                                 "wtsprocidtosessid", "wtsenumsessions",  "wtsenumprocesses",
                                 "wtsdisconnectsession", "wtslogoffsession", "wtsterminateprocess",
                                 "wtssendmessage", "wtsquerysessioninfo", "wtswaitsystemevent",
                                 "wtsgetactiveconsolesessid", "wtsshutdownsystem", "wtstest",
                                 "wtsiscitrixenabled"};
    const uint8_t required[] = {0, 1, 0, 1, 1, 1, 3, 3, 3, 7, 2, 2, 0, 2, 3, 0};
    const uint8_t optional[] = {1, 0, 1, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        uint8_t expected[56] = {};
        const int32_t number = i + 1, kind = 2;
        memcpy(expected, &number, 4);
        memcpy(expected + 4, &kind, 4);
        const uint8_t codes[4] = {0x11, 0x11, uint8_t(i == 9 ? 0x11 : 0x01), uint8_t(i == 9 ? 0x01 : 0x00)};
        memcpy(expected + 8, codes, 4);
        expected[16] = required[i];
        expected[17] = optional[i];
        memcpy(expected + 22, names[i], strlen(names[i]));
        const uint16_t nameLength = uint16_t(strlen(names[i]));
        memcpy(expected + 20, &nameLength, 2);
        FunctionTableEntry whole;
        memset(&whole, 0, sizeof whole);
        ASSERT_EQ(xDescribeFunction(i, &whole), 1);
        EXPECT_EQ(memcmp(&whole, expected, 56), 0) << names[i];
        EXPECT_EQ(xFindFunction(number)->WorksUnbound, number <= 3 || number == 16) << names[i];

        FunctionTableEntry record;
        memset(&record, 0xCC, sizeof record);
        ASSERT_EQ(xDescribeFunction(i, &record), 1);
        EXPECT_EQ(memcmp(&record, expected, 20), 0) << names[i];
        EXPECT_EQ(record.NameLength, strlen(names[i]));
        EXPECT_STREQ(record.Name, names[i]);
    }
    EXPECT_EQ(xDescribeFunction(16, nullptr), 0);  // the terminator
    EXPECT_EQ(xFindFunction(0), nullptr);
    EXPECT_EQ(xFindFunction(17), nullptr);
}

TEST_F(ExtenderTest, DescribeRequest)
{
    FunctionTableEntry record;
    memset(&record, 0xCC, sizeof record);
    const FunctionTableEntry untouched = record;
    auto describe = [&](int32_t index, void* target) {
        return ZELExtender2(nullptr, 0, &host, -2, HostCompleteRequest, &host.block, 0, target, index, nullptr);
    };
    EXPECT_EQ(describe(16, &record), 0);
    EXPECT_EQ(describe(17, &record), 0);
    EXPECT_EQ(describe(-1, &record), 0);
    EXPECT_EQ(describe(1000000, &record), 0);
    EXPECT_EQ(memcmp(&record, &untouched, sizeof record), 0);
    EXPECT_EQ(describe(0, nullptr), 1);
    EXPECT_EQ(describe(0, &record), 1);
    EXPECT_EQ(record.RequestNumber, 1);
    EXPECT_EQ(record.NameLength, 10);
    EXPECT_STREQ(record.Name, "wtsversion");
    EXPECT_EQ(host.completion.calls, 0);
    EXPECT_EQ(HostReadTable(host, ext).size(), 16u);
}

TEST_F(ExtenderTest, QueryAndVersion)
{
    const int32_t noFour[] = {1, 2, 3};
    const int32_t withFour[] = {3, 4};
    EXPECT_EQ(ZELExtenderQuery(2, const_cast<int32_t*>(noFour), 3), -1);
    EXPECT_EQ(ZELExtenderQuery(2, const_cast<int32_t*>(withFour), 2), 4);
    EXPECT_EQ(ZELExtenderQuery(0x10002, const_cast<int32_t*>(withFour), 2), 4);  // low 16 bits count
    EXPECT_EQ(ZELExtenderQuery(2, const_cast<int32_t*>(withFour), 0), -1);
    EXPECT_EQ(ZELExtenderQuery(2, nullptr, 5), -1);
    char title[8];
    memset(title, 'x', sizeof title);
    EXPECT_EQ(ZELExtenderQuery(1, title, 4), VELQUOR_VERSION_1);
    EXPECT_STREQ(title, "Vel");
    EXPECT_EQ(ZELExtenderQuery(1, title, sizeof title), VELQUOR_VERSION_1);
    EXPECT_STREQ(title, "Velquor");
    EXPECT_EQ(ZELExtenderQuery(1, nullptr, 4), VELQUOR_VERSION_1);
    EXPECT_EQ(ZELExtenderQuery(3, title, 4), 0);
    EXPECT_EQ(ZELExVersion(0), VELQUOR_VERSION_1);
    EXPECT_EQ(ZELExVersion(1), 0);
    EXPECT_EQ(ZELExVersion(3), 1);
    EXPECT_EQ(ZELExVersion(4), -1);
    EXPECT_EQ(ZELExVersion(-1), -1);
}

TEST_F(ExtenderTest, RoutingBeforeAndAfterBinding)
{
    // Unbound: only 1, 2, 3 and 16 work; every other number of 0 or above is
    // "not enabled".
    EXPECT_EQ(Call("wtsversion").value.integer, VELQUOR_VERSION_1);
    for (int32_t request : {0, 4, 15, 17, 1000}) {
        Completion c = Call(request);
        EXPECT_EQ(c.status, -1);
        EXPECT_EQ(c.value.text, Message(QRVTS_NOT_ENABLED)) << request;
    }
    EXPECT_EQ(Call(-4).value.text, Message(QRVTS_UNKNOWN_FUNCTION));
    EXPECT_EQ(Call(0x1FFFC).value.text, Message(QRVTS_UNKNOWN_FUNCTION));  // low 16 bits: -4

    int32_t result;
    EXPECT_EQ(Initialise(&result), "");
    EXPECT_EQ(result, 16);
    for (int32_t request : {0, 17, -4, -100}) {
        Completion c = Call(request);
        EXPECT_EQ(c.status, -1);
        EXPECT_EQ(c.value.text, Message(QRVTS_UNKNOWN_FUNCTION)) << request;
    }
    EXPECT_EQ(Call(0x10001).value.integer, VELQUOR_VERSION_1);  // low 16 bits: 1
}

TEST_F(ExtenderTest, CompletionResultIsTheRequestResult)
{
    host.completionResult = 12345;
    EXPECT_EQ(HostCall(host, ext, 1, {}), 12345);
    EXPECT_EQ(HostCall(host, ext, 3, {"x"}), 12345);  // a failing request too
    EXPECT_EQ(host.completion.status, -1);
    EXPECT_EQ(host.completion.value.text, Message(QRVTS_INVALID_REQUEST));
}

TEST_F(ExtenderTest, NullArgumentArrayMeansEveryArgumentAbsent)
{
    HostVariable result;
    memset(&result, 0, sizeof result);
    EXPECT_EQ(ZELExtender2(nullptr, 0, &host, 1, HostCompleteRequest, &host.block, 0, nullptr, 0, &result),
              host.completionResult);
    EXPECT_EQ(host.completion.value.integer, VELQUOR_VERSION_1);
}

TEST_F(ExtenderTest, InitialisationNeedsHostVersion1006)
{
    Host old(1005);
    char message[100] = "";
    EXPECT_EQ(ZELExtender2(nullptr, 0, &old, -1, HostCompleteRequest, &old.block, 0, message, 0, nullptr), -1);
    EXPECT_STREQ(message, "Need newer version of ZEL DLL");
    EXPECT_EQ(ZELExtender2(nullptr, 0, &old, -1, HostCompleteRequest, &old.block, 0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(Now().ServicesBound, 0u);
    EXPECT_EQ(old.completion.calls, 0);
}

TEST_F(ExtenderTest, EachMissingRequiredEntryPointIsNamed)
{
    const char* const required[] = {"WTSOpenServerA", "WTSCloseServer", "WTSEnumerateSessionsA",
                                    "WTSEnumerateProcessesA", "WTSFreeMemory", "WTSDisconnectSession",
                                    "WTSLogoffSession", "WTSTerminateProcess", "WTSSendMessageA",
                                    "WTSQuerySessionInformationA", "WTSWaitSystemEvent", "WTSShutdownSystem"};
    for (const char* name : required) {
        missingEntries = {name, "WTSShutdownSystem"};  // the first in table order is named
        int32_t result;
        EXPECT_EQ(Initialise(&result),
                  std::string("Unable to initialize Velquor: ") + name + "() not found in WTSAPI32.DLL");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(Now().ServicesBound, 0u);
    }
    missingEntries.clear();
    int32_t result;
    EXPECT_EQ(Initialise(&result), "");  // a repeated initialisation repeats everything
    EXPECT_EQ(result, 16);
    EXPECT_EQ(Now().ServicesBound, 1u);
}

TEST_F(ExtenderTest, OptionalEntryPoints)
{
    missingEntries = {"WTSOpenServerExA", "WTSGetActiveConsoleSessionId"};
    EXPECT_EQ(Initialise(), "");
    EXPECT_EQ(Now().ServicesBound, 1u);
    EXPECT_EQ(Now().Entry.Ansi.OpenServerEx, nullptr);
    EXPECT_EQ(Now().Entry.Ansi.FreeMemoryEx, nullptr);  // not looked up without the first
    EXPECT_EQ(Now().Entry.Ansi.EnumerateSessionsEx, nullptr);
    EXPECT_EQ(Now().Entry.WTSGetActiveConsoleSessionId, nullptr);
    EXPECT_NE(Now().Entry.Ansi.OpenServer, nullptr);

    missingEntries = {"WTSFreeMemoryExA"};
    EXPECT_EQ(Initialise(), "");
    EXPECT_NE(Now().Entry.Ansi.OpenServerEx, nullptr);
    EXPECT_EQ(Now().Entry.Ansi.EnumerateSessionsEx, nullptr);
    EXPECT_EQ(Now().Entry.Ansi.EnumerateProcessesEx, nullptr);

    missingEntries.clear();
    EXPECT_EQ(Initialise(), "");
    EXPECT_NE(Now().Entry.Ansi.EnumerateSessionsEx, nullptr);
    EXPECT_NE(Now().Entry.Ansi.EnumerateProcessesEx, nullptr);
}

TEST_F(ExtenderTest, MissingTerminalServicesLibrary)
{
    missingLibraries.insert("WTSAPI32.DLL");
    int32_t result;
    EXPECT_EQ(Initialise(&result), "");  // product absent: not an error
    EXPECT_EQ(result, 16);
    EXPECT_EQ(Now().ServicesBound, 0u);
    EXPECT_EQ(Now().Entry.ProcessIdToSessionId, nullptr);  // not looked up when unbound
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 0);
    EXPECT_EQ(Call("wtsistsenabled", {"1"}).value.integer, 0);
    EXPECT_EQ(Call("wtsgetactiveconsolesessid").value.text, Message(QRVTS_NOT_ENABLED));

    SetUp();  // a fresh load on a system that reports the product present
    missingLibraries.insert("WTSAPI32.DLL");
    productPresent = TRUE;
    EXPECT_EQ(Initialise(&result), "Unable to initialize Velquor: Unable to load WTSAPI32.DLL");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Now().ProductPresent, 1u);
}

TEST_F(ExtenderTest, KernelAndWindowStationFailures)
{
    missingLibraries.insert("KERNEL32.DLL");
    EXPECT_EQ(Initialise(), "Unable to initialize Velquor: Unable to load KERNEL32.DLL");
    missingLibraries.erase("KERNEL32.DLL");

    missingEntries = {"GetTempPathA"};
    EXPECT_EQ(Initialise(), "Unable to initialize Velquor: GetTempPathA() not found in KERNEL32.DLL");

    missingEntries = {"ProcessIdToSessionId"};
    EXPECT_EQ(Initialise(), "Unable to initialize Velquor: ProcessIdToSessionId() not found in KERNEL32.DLL");
    PlatformInfo.VersionInfo.dwMajorVersion = 4;  // not required before version 5
    EXPECT_EQ(Initialise(), "");
    xPlatformAttach(&PlatformInfo, GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);

    missingEntries = {"WinStationQueryInformationW"};
    EXPECT_EQ(Initialise(), "Unable to initialize Velquor: WinStationQueryInformationW() not found in WINSTA.DLL");
    missingLibraries.insert("WINSTA.DLL");
    EXPECT_EQ(Initialise(), "");  // without the library the entry point is not needed
    temporaryFolderFails = true;  // asked for last, after the add-on's probe
    EXPECT_EQ(Initialise(), "Unable to initialize Velquor: GetTempPathAX() failed!");
    EXPECT_EQ(Now().Entry.WinStationQueryInformationW, nullptr);
}

TEST_F(ExtenderTest, AddOnFlagsAndTermination)
{
    Initialise();
    for (const char* selector : {"0", "1", "2", "3", ""})
        EXPECT_EQ(Call("wtsiscitrixenabled", {selector}).value.integer, 0) << selector;
    for (const char* bad : {"4", "-1", "x"})
        EXPECT_EQ(Call("wtsiscitrixenabled", {bad}).value.text, Message(QRVTS_INVALID_REQUEST)) << bad;

    missingLibraries = {"APSDK.DLL"};
    EXPECT_EQ(Initialise(), "");  // the add-on's libraries only need to load
    EXPECT_EQ(Call("wtsiscitrixenabled", {"0"}).value.integer, 1);
    EXPECT_EQ(Call("wtsiscitrixenabled", {"1"}).value.integer, 0);
    EXPECT_EQ(Call("wtsiscitrixenabled", {"2"}).value.integer, 1);
    EXPECT_EQ(Call("wtsiscitrixenabled", {"3"}).value.integer, 0);

    freed.clear();
    HostVariable unused;
    EXPECT_EQ(ZELExtender2(nullptr, 0, &host, -3, HostCompleteRequest, &host.block, 0, nullptr, 0, &unused), 1);
    EXPECT_EQ(freed.size(), 5u);  // KERNEL32, WTSAPI32, WINSTA, NETAPI32, ADVAPI32: the add-on's were let go when probed
    // Nothing stays bound: a script call fails with an error, and a C API
    // call binds again.
    EXPECT_EQ(Now().ServicesBound, 0u);
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 0);
    EXPECT_EQ(Call("wtsenumsessions", {""}).value.text, Message(QRVTS_NOT_ENABLED));
    const int loads = libraryLoads;
    EXPECT_EQ(QRVTS_GetBindingMessage(nullptr, 0), QRVTS_OK);
    EXPECT_GT(libraryLoads, loads);
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 1);
}

TEST_F(ExtenderTest, SimpleScriptFunctions)
{
    EXPECT_EQ(Call("wtsversion", {""}).value.integer, VELQUOR_VERSION_1);
    EXPECT_EQ(Call("wtsversion", {"2"}).value.text, VELQUOR_VERSION_TEXT);
    EXPECT_EQ(Call("wtsversion", {"4"}).value.text, Message(QRVTS_INVALID_REQUEST));
    EXPECT_EQ(Call("wtsversion", {"a"}).value.text, Message(QRVTS_INVALID_REQUEST));
    EXPECT_EQ(Call("wtsistsenabled", {"3"}).value.text, Message(QRVTS_INVALID_REQUEST));
    EXPECT_EQ(Call("wtsistsenabled", {"2"}).value.integer, 0);

    const std::string number = std::to_string(QRVTS_INVALID_PROCESS_ID);
    Completion c = Call("wtslasterrmsg", {number.c_str()});
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.value.text, Message(QRVTS_INVALID_PROCESS_ID));
    EXPECT_EQ(c.value.text.compare(0, number.size() + 11, number + ": Velquor: "), 0);
    for (const char* empty : {"abc", "0", "", "5"}) {
        c = Call("wtslasterrmsg", {empty});
        EXPECT_EQ(c.status, 0);
        EXPECT_EQ(c.value.text, "") << empty;
    }
    const std::string signed_ = " +" + std::to_string(QRVTS_UNKNOWN_FUNCTION);
    EXPECT_EQ(Call("wtslasterrmsg", {signed_.c_str()}).value.text, Message(QRVTS_UNKNOWN_FUNCTION));
}

// A program that never initialises the extender: the first call that needs
// the terminal services binds them, by the interpreter's sequence and rules.
TEST_F(ExtenderTest, FirstUseBindsAndTellsWhatIsMissing)
{
    struct Case {
        const char* missingLibrary;
        const char* missingEntry;
        BOOL present;
        LONG result;
        const char* message;
        bool actions;  // whether the session actions became available
    } cases[] = {
        {nullptr, nullptr, FALSE, QRVTS_OK, "", true},
        {nullptr, "WTSSendMessageA", FALSE, QRVTS_NOT_AVAILABLE,
         "Unable to initialize Velquor: WTSSendMessageA() not found in WTSAPI32.DLL", false},
        {"WTSAPI32.DLL", nullptr, TRUE, QRVTS_NOT_AVAILABLE,
         "Unable to initialize Velquor: Unable to load WTSAPI32.DLL", false},
        {"WTSAPI32.DLL", nullptr, FALSE, QRVTS_NOT_AVAILABLE,
         "Unable to initialize Velquor: Unable to load WTSAPI32.DLL", false},
        // Every export works without it: only the session times are missing.
        {nullptr, "WinStationQueryInformationW", FALSE, QRVTS_OK,
         "Unable to initialize Velquor: WinStationQueryInformationW() not found in WINSTA.DLL", true},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.missingLibrary)
            missingLibraries.insert(c.missingLibrary);
        if (c.missingEntry)
            missingEntries.insert(c.missingEntry);
        productPresent = c.present;
        HANDLE h = reinterpret_cast<HANDLE>(1);
        EXPECT_EQ(QRVTS_OpenServer("", &h), QRVTS_OK);  // the local server needs nothing bound
        EXPECT_EQ(libraryLoads, 0);
        // The first call that needs the platform binds; without the library's
        // required entry points an action is not available.
        if (!c.actions)
            EXPECT_EQ(QRVTS_LogoffSession("", 1, FALSE), QRVTS_NOT_AVAILABLE) << c.message;
        else
            QRVTS_GetBindingMessage(nullptr, 0);
        EXPECT_NE(libraryLoads, 0);
        EXPECT_EQ(Now().ServicesBound, c.actions ? 1u : 0u) << c.message;
        const int loads = libraryLoads;
        char message[300] = "x";
        EXPECT_EQ(QRVTS_GetBindingMessage(message, sizeof message), c.result);
        EXPECT_STREQ(message, c.message);
        EXPECT_EQ(QRVTS_GetBindingMessage(nullptr, 0), c.result);
        EXPECT_EQ(libraryLoads, loads) << "bound once per process";
    }
    char cut[8];
    EXPECT_EQ(QRVTS_GetBindingMessage(cut, sizeof cut), QRVTS_OK);  // the last case: every export works
    EXPECT_STREQ(cut, "Unable ");
}

// The interpreter's initialisation still runs the whole sequence, also after
// a first use has bound; the first use after it binds nothing again.
TEST_F(ExtenderTest, InitialisationAndFirstUseShareOneBinding)
{
    missingEntries = {"WTSShutdownSystem"};
    EXPECT_EQ(QRVTS_GetBindingMessage(nullptr, 0), QRVTS_NOT_AVAILABLE);
    missingEntries.clear();
    EXPECT_EQ(Initialise(), "");
    EXPECT_EQ(Now().ServicesBound, 1u);
    const int loads = libraryLoads;
    EXPECT_EQ(QRVTS_GetBindingMessage(nullptr, 0), QRVTS_OK);
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 1);
    EXPECT_EQ(libraryLoads, loads);
}

TEST_F(ExtenderTest, FirstUseFromManyThreadsBindsOnce)
{
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            WaitForSingleObject(start, INFINITE);
            char message[64] = "x";
            if (QRVTS_GetBindingMessage(message, sizeof message) == QRVTS_OK && !message[0])
                ++ok;
        });
    SetEvent(start);
    for (std::thread& t : threads)
        t.join();
    CloseHandle(start);
    EXPECT_EQ(ok, 8);
    EXPECT_EQ(libraryLoads, 8) << "WTSAPI32, KERNEL32, WINSTA, NETAPI32, ADVAPI32 and the three add-on libraries, once";
}
