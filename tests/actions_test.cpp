// The session actions through the real DLL: the script functions through
// the host, the exports directly, both against the simulator's call log and
// the settings file.
#include "host/exportname.h"
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include/velquor.h"
#include "support/wtsplatform.h"
#include "tests/real_dll.h"

namespace {

class Actions : public SimulatedTest {
protected:
    const char* Scenario() const override
    {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return test == "FailuresRecordTheServicesError" ? "failing.ini" : "basic.ini";
    }
};

}  // namespace

TEST_F(Actions, DisconnectAndLogoffArguments)
{
    ExpectError(Call("wtsdisconnectsession", {"", "x", "0"}), QRVTS_INVALID_SESSION_ID);
    ExpectError(Call("wtsdisconnectsession", {"", "3", "x"}), QRVTS_INVALID_PARAMETER);
    ExpectError(Call("wtslogoffsession", {"", "3", "1 "}), QRVTS_INVALID_PARAMETER);
    EXPECT_TRUE(log.Calls("WTS").empty());  // nothing reached the platform

    EXPECT_EQ(Call("wtsdisconnectsession", {"", "", "5"}).value.integer, 1);
    EXPECT_EQ(Call("wtslogoffsession", {"alpha", "2", ""}).value.integer, 1);
    EXPECT_EQ(Call("wtslogoffsession", {nullptr, nullptr, nullptr}).value.integer, 1);
    ASSERT_EQ(log.Calls("WTSDisconnectSession").size(), 1u);
    EXPECT_EQ(log.Calls("WTSDisconnectSession")[0], "WTSDisconnectSession handle=00000000 session=4294967295 wait=1");
    ASSERT_EQ(log.Calls("WTSLogoffSession").size(), 2u);
    EXPECT_EQ(log.Calls("WTSLogoffSession")[0], "WTSLogoffSession handle=00005100 session=2 wait=0");
    EXPECT_EQ(log.Calls("WTSLogoffSession")[1], "WTSLogoffSession handle=00000000 session=4294967295 wait=0");
    EXPECT_EQ(log.Calls("WTSOpenServerExA").size(), 1u);
}

// Every numeric argument of every script function: a number whose digits
// do not fit in 32 bits is refused as a text that is no number is, before
// anything reaches the platform (4294967300 would wrap to process 4).
TEST_F(Actions, NumbersBeyond32BitsAreNotIntegers)
{
    // Each function and arguments it takes; the numeric ones are those in digits.
    const std::vector<std::vector<const char*>> calls = {
        {"wtsprocidtosessid", "4"}, {"wtsenumsessions", "alpha", "0"}, {"wtsenumprocesses", "alpha", "1", "0"},
        {"wtsdisconnectsession", "alpha", "1", "0"}, {"wtslogoffsession", "alpha", "1", "0"},
        {"wtsterminateprocess", "alpha", "12", "0"}, {"wtssendmessage", "alpha", "1", "t", "m", "0", "0", "0"},
        {"wtsquerysessioninfo", "alpha", "1"}, {"wtswaitsystemevent", "alpha", "1"}, {"wtsshutdownsystem", "alpha", "1"},
        {"wtstest", "alpha", "1", "0"}, {"wtsversion", "0"}, {"wtsistsenabled", "0"}, {"wtsiscitrixenabled", "0"}};
    for (const auto& call : calls)
        for (size_t at = 1; at < call.size(); ++at) {
            std::vector<const char*> args(call.begin() + 1, call.end());
            if (!isdigit(static_cast<unsigned char>(args[at - 1][0])))
                continue;
            args[at - 1] = "x";
            const Completion notANumber = Call(call[0], args);
            for (const char* beyond : {"4294967300", "4294967296", "-2147483649", "99999999999999999999"}) {
                args[at - 1] = beyond;
                const Completion refused = Call(call[0], args);
                EXPECT_TRUE(refused.status == -1 && refused.value.text == notANumber.value.text)
                    << call[0] << " " << at << " " << beyond << ": " << refused.value.text;
            }
        }
    EXPECT_TRUE(log.Calls("WTS").empty());
}

TEST_F(Actions, TerminateProcessArguments)
{
    ExpectError(Call("wtsterminateprocess", {"", ""}), QRVTS_INVALID_PROCESS_ID);
    ExpectError(Call("wtsterminateprocess", {"", nullptr}), QRVTS_INVALID_PROCESS_ID);
    ExpectError(Call("wtsterminateprocess", {"", "a"}), QRVTS_INVALID_PROCESS_ID);
    ExpectError(Call("wtsterminateprocess", {"", "12", "x"}), QRVTS_INVALID_EXIT_CODE);
    EXPECT_TRUE(log.Calls("WTS").empty());
    EXPECT_EQ(Call("wtsterminateprocess", {"", "12", "3"}).value.integer, 1);
    EXPECT_EQ(Call("wtsterminateprocess", {"", "13"}).value.integer, 1);
    const auto calls = log.Calls("WTSTerminateProcess");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "WTSTerminateProcess handle=00000000 process=12 exit=3");
    EXPECT_EQ(calls[1], "WTSTerminateProcess handle=00000000 process=13 exit=0");
}

TEST_F(Actions, SendMessageArguments)
{
    ExpectError(Call("wtssendmessage", {"", "", "t", "m", "", "", ""}), QRVTS_INVALID_SESSION_ID);
    ExpectError(Call("wtssendmessage", {"", "a", "t", "m", "", "", ""}), QRVTS_INVALID_SESSION_ID);
    ExpectError(Call("wtssendmessage", {"", "2", "t", "m", "x", "", ""}), QRVTS_INVALID_STYLE);
    ExpectError(Call("wtssendmessage", {"", "2", "t", "m", "", "x", ""}), QRVTS_INVALID_TIMEOUT);
    ExpectError(Call("wtssendmessage", {"", "2", "t", "m", "", "", "x"}), QRVTS_INVALID_PARAMETER);
    EXPECT_TRUE(log.Calls("WTS").empty());
    EXPECT_EQ(Call("wtssendmessage", {"", "2", "Title", "Message", "", "", "3"}).value.integer, 6);  // the response
    EXPECT_EQ(Call("wtssendmessage", {"alpha", "2", nullptr, nullptr, "64", "30", "0"}).value.integer, 6);
    const auto calls = log.Calls("WTSSendMessageA");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "WTSSendMessageA handle=00000000 session=2 title=[Title] 5 message=[Message] 7 style=0 "
                        "timeout=0 wait=1");
    EXPECT_EQ(calls[1], "WTSSendMessageA handle=00005100 session=2 title=[] 0 message=[] 0 style=64 timeout=30 "
                        "wait=0");
}

TEST_F(Actions, WaitShutdownConsoleAndProcessSession)
{
    ExpectError(Call("wtswaitsystemevent", {"", ""}), QRVTS_INVALID_EVENT_MASK);
    ExpectError(Call("wtswaitsystemevent", {"", "x"}), QRVTS_INVALID_EVENT_MASK);
    ExpectError(Call("wtsshutdownsystem", {"", "x"}), QRVTS_INVALID_SESSION_ID);
    ExpectError(Call("wtsshutdownsystem", {"", ""}), QRVTS_INVALID_PARAMETER);  // flags 0 are refused before opening
    ExpectError(Call("wtsprocidtosessid", {"x"}), QRVTS_INVALID_PROCESS_ID);
    EXPECT_TRUE(log.Calls("WTS").empty());
    EXPECT_EQ(Call("wtswaitsystemevent", {"", "5"}).value.integer, 0x1);  // only the events asked for
    EXPECT_EQ(Call("wtsshutdownsystem", {"alpha", "2"}).value.integer, 1);
    EXPECT_EQ(log.Calls("WTSWaitSystemEvent")[0], "WTSWaitSystemEvent handle=00000000 mask=5");
    EXPECT_EQ(log.Calls("WTSShutdownSystem")[0], "WTSShutdownSystem handle=00005100 flags=2");

    DWORD expected = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &expected);
    const std::string pid = std::to_string(GetCurrentProcessId());
    EXPECT_EQ(Call("wtsprocidtosessid", {pid.c_str()}).value.integer, int32_t(expected));
    EXPECT_EQ(Call("wtsgetactiveconsolesessid", {}).value.integer, int32_t(WTSGetActiveConsoleSessionId()));
}

TEST_F(Actions, DiagnosticQuery)
{
    ExpectError(Call("wtstest", {"", "", "17"}), QRVTS_INVALID_REQUEST);
    ExpectError(Call("wtstest", {"", "", "-2"}), QRVTS_INVALID_REQUEST);
    ExpectError(Call("wtstest", {"", "x", "1"}), QRVTS_INVALID_SESSION_ID);
    EXPECT_EQ(Call("wtstest", {"", "", "-1"}).value.integer, 1);
    const auto queries = log.Calls("WTSQuerySessionInformationA");
    ASSERT_EQ(queries.size(), 17u);
    for (int c = 0; c <= 16; ++c)
        EXPECT_EQ(queries[size_t(c)], "WTSQuerySessionInformationA handle=00000000 session=0 class=" +
                                          std::to_string(c));
    EXPECT_EQ(Call("wtstest", {"alpha", "1", "5"}).value.integer, 1);
    EXPECT_EQ(log.Calls("WTSCloseServer").size(), 1u);
    EXPECT_EQ(Call("wtstest", {"nosuch", "1", "-1"}).value.integer, 1);  // no server: nothing queried
    EXPECT_EQ(log.Calls("WTSQuerySessionInformationA").size(), 18u);
}

TEST_F(Actions, OpeningServers)
{
    auto open = Api<LONG(WINAPI*)(LPCSTR, HANDLE*)>("_QRVTS_OpenServer@8");
    auto close = Api<LONG(WINAPI*)(HANDLE)>("_QRVTS_CloseServer@4");
    HANDLE h = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(open(nullptr, nullptr), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(open("", nullptr), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(open(nullptr, &h), QRVTS_OK);
    EXPECT_EQ(h, nullptr);
    h = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(open("", &h), QRVTS_OK);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(close(nullptr), 0);
    EXPECT_TRUE(log.Lines().empty());

    h = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(open(std::string(256, 'a').c_str(), &h), QRVTS_BUFFER_TOO_SMALL);
    EXPECT_EQ(h, reinterpret_cast<HANDLE>(1));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(LastErrorRecord(), "<none>");

    const std::string longest(255, 'b');
    EXPECT_EQ(open(longest.c_str(), &h), QRVTS_OPEN_SERVER_FAILED);
    EXPECT_EQ(h, nullptr);
    ASSERT_EQ(log.Calls("WTSOpenServerExA").size(), 1u);
    EXPECT_EQ(log.Calls("WTSOpenServerExA")[0], "WTSOpenServerExA name=" + longest + " -> 00000000");
    EXPECT_EQ(LastErrorRecord(), "6BA \"WTSOpenServerAX() : QRVTS_OpenServer()\"");

    EXPECT_EQ(open("alpha", &h), QRVTS_OK);
    EXPECT_EQ(h, reinterpret_cast<HANDLE>(0x5100));
    EXPECT_EQ(close(h), 0);
}

TEST_F(Actions, OutputPointersAreChecked)
{
    auto pidToSession = Api<LONG(WINAPI*)(DWORD, DWORD*)>("_QRVTS_ProcessIdToSessionId@8");
    auto console = Api<LONG(WINAPI*)(DWORD*)>("_QRVTS_GetActiveConsoleSessionId@4");
    auto wait = Api<LONG(WINAPI*)(LPCSTR, DWORD, DWORD*)>("_QRVTS_WaitSystemEvent@12");
    auto send = Api<LONG(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD, DWORD, BOOL, DWORD*)>("_QRVTS_SendMessage@32");
    auto shutdown = Api<LONG(WINAPI*)(LPCSTR, DWORD)>("_QRVTS_ShutdownSystem@8");
    auto freeBuffer = Api<void(WINAPI*)(void*)>("_QRVTS_FreeBuffer@4");
    EXPECT_EQ(pidToSession(1, nullptr), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(console(nullptr), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(wait("alpha", 1, nullptr), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(send("alpha", 1, "t", "m", 0, 0, FALSE, nullptr), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(shutdown("alpha", 0), QRVTS_INVALID_PARAMETER);
    freeBuffer(nullptr);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(LastErrorRecord(), "<none>");
}

// With the failing scenario: each action's own error is recorded, never the
// one the closing of the handle leaves behind.
TEST_F(Actions, FailuresRecordTheServicesError)
{
    struct Case {
        const char* function;
        std::vector<const char*> args;
        int error;
        const char* record;
    };
    const Case cases[] = {
        {"wtsdisconnectsession", {"alpha", "1", "0"}, QRVTS_DISCONNECT_FAILED, "5 \"WTSDisconnectSessionX() : QRVTS_DisconnectSession()\""},
        {"wtslogoffsession", {"alpha", "1", "0"}, QRVTS_LOGOFF_FAILED, "1B6E \"WTSLogoffSessionX() : QRVTS_LogoffSession()\""},
        {"wtsterminateprocess", {"alpha", "12", "0"}, QRVTS_TERMINATE_FAILED, "57 \"WTSTerminateProcessX() : QRVTS_TerminateProcess()\""},
        {"wtssendmessage", {"alpha", "1", "t", "m", "", "", ""}, QRVTS_SEND_MESSAGE_FAILED, "5B4 \"WTSSendMessageAX() : QRVTS_SendMessage()\""},
        {"wtswaitsystemevent", {"alpha", "1"}, QRVTS_WAIT_FAILED, "1 \"WTSWaitSystemEventX() : QRVTS_WaitSystemEvent()\""},
        {"wtsshutdownsystem", {"alpha", "1"}, QRVTS_SHUTDOWN_FAILED, "522 \"WTSShutdownSystemX() : QRVTS_ShutdownSystem()\""},
    };
    for (const Case& c : cases) {
        ExpectError(Call(c.function, c.args), c.error);
        EXPECT_EQ(LastErrorRecord(), c.record);
        ASSERT_FALSE(host.lastErrorTexts.empty());
        EXPECT_EQ(host.lastErrorTexts.back(), c.record);
    }
    // The interpreter is told only from interface version 1005.
    Host old(1004), newer(1005);
    ExpectError(Call("wtsdisconnectsession", {"", "1", "0"}, &old), QRVTS_DISCONNECT_FAILED);
    EXPECT_TRUE(old.lastErrorTexts.empty());
    ExpectError(Call("wtsdisconnectsession", {"", "1", "0"}, &newer), QRVTS_DISCONNECT_FAILED);
    EXPECT_EQ(newer.lastErrorTexts.size(), 1u);
}

// The text of an error number and the calling thread's own recorded code.
TEST_F(Actions, ErrorTextAndTheThreadsCode)
{
    auto text = Api<LONG(WINAPI*)(LONG, LPSTR, DWORD)>("_QRVTS_GetErrorText@12");
    auto code = Api<DWORD(WINAPI*)(void)>("_QRVTS_GetLastErrorCode@0");
    auto open = Api<LONG(WINAPI*)(LPCSTR, HANDLE*)>("_QRVTS_OpenServer@8");
    char buffer[300] = "x";
    EXPECT_EQ(text(QRVTS_OPEN_SERVER_FAILED, buffer, sizeof buffer), LONG(Message(QRVTS_OPEN_SERVER_FAILED).size()));
    EXPECT_EQ(buffer, Message(QRVTS_OPEN_SERVER_FAILED));
    for (LONG none : {0L, -5L, 65636L}) {
        EXPECT_EQ(text(none, buffer, sizeof buffer), 0) << none;
        EXPECT_STREQ(buffer, "");
    }
    EXPECT_EQ(text(QRVTS_OPEN_SERVER_FAILED, nullptr, 0), 0);
    HANDLE h = nullptr;
    EXPECT_EQ(open("nowhere", &h), QRVTS_OPEN_SERVER_FAILED);
    EXPECT_EQ(code(), 0x6BAu);
    // Another thread has no record of its own.
    struct Other {
        DWORD(WINAPI* code)(void);
        DWORD seen;
        static DWORD WINAPI Run(void* self)
        {
            Other& o = *static_cast<Other*>(self);
            o.seen = o.code();
            return 0;
        }
    } other = {code, 99};
    HANDLE thread = CreateThread(nullptr, 0, Other::Run, &other, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(other.seen, 0u);
    EXPECT_EQ(code(), 0x6BAu);
    // A call that records a refusal and still succeeds keeps its code
    // through the closing of its handle.
    auto query = Api<LONG(WINAPI*)(LPCSTR, DWORD, SessionInfoRecord**)>("_QRVTS_QuerySessionInfo@12");
    auto freeBuffer = Api<void(WINAPI*)(void*)>("_QRVTS_FreeBuffer@4");
    SessionInfoRecord* info = nullptr;
    EXPECT_EQ(query("alpha", 99, &info), QRVTS_OK);
    freeBuffer(info);
    EXPECT_EQ(code(), DWORD(ERROR_CTX_WINSTATION_NOT_FOUND));
}

namespace {

class Waits : public SimulatedTest {
protected:
    const char* Scenario() const override { return "watch.ini"; }

    // QRVTS_WaitSystemEvent on a thread of its own.
    struct Wait {
        Wait(const char* on, DWORD asked) : server(on), mask(asked) {}
        LONG(WINAPI* wait)(LPCSTR, DWORD, DWORD*) = nullptr;
        const char* server;
        DWORD mask, events = 99;
        LONG result = -1;
        HANDLE thread = nullptr;
        // Whether it ended within `ms` milliseconds, with `events` and no error.
        bool Ended(DWORD ms, DWORD want) const
        {
            return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0 && result == QRVTS_OK && events == want;
        }
    };
    static DWORD WINAPI Run(void* self)
    {
        Wait& w = *static_cast<Wait*>(self);
        w.result = w.wait(w.server, w.mask, &w.events);
        return 0;
    }
    void Start(std::vector<Wait>& waits)
    {
        for (Wait& w : waits) {
            w.wait = Api<LONG(WINAPI*)(LPCSTR, DWORD, DWORD*)>("_QRVTS_WaitSystemEvent@12");
            w.thread = CreateThread(nullptr, 0, Run, &w, 0, nullptr);
        }
    }
    // The platform's waits begun so far (not their returns).
    size_t WaitsBegun() const
    {
        size_t n = 0;
        for (const std::string& line : log.Calls("WTSWaitSystemEvent handle="))
            n += line.find("mask=") != std::string::npos;
        return n;
    }
};

}  // namespace

// Each wait blocks until the timeline's first change that carries a bit it
// asked for, and reports only those bits: disconnect at 3 s, logon at 4.5 s,
// logoff at 6 s; every event (WTS_EVENT_ALL) the first change. One platform
// call each: nothing spins.
TEST_F(Waits, BlockUntilTheirEventAndReportOnlyItsBits)
{
    std::vector<Wait> waits = {{"alpha", WTS_EVENT_DISCONNECT}, {"alpha", WTS_EVENT_LOGON},
                               {"beta", WTS_EVENT_LOGOFF | WTS_EVENT_RENAME}, {"alpha", WTS_EVENT_ALL}};
    const DWORD want[] = {WTS_EVENT_DISCONNECT, WTS_EVENT_LOGON, WTS_EVENT_LOGOFF,
                          WTS_EVENT_DISCONNECT | WTS_EVENT_STATECHANGE};
    Start(waits);
    for (size_t i = 0; i < waits.size(); ++i)
        EXPECT_TRUE(waits[i].Ended(30000, want[i])) << i << ": " << waits[i].result << " " << waits[i].events;
    EXPECT_EQ(WaitsBegun(), waits.size());
}

// A flush (WTS_EVENT_FLUSH) asked for a server, in any case of its letters,
// ends exactly the library's waits in progress on that server, each with no
// events; a wait for every event (WTS_EVENT_ALL) flushes nothing.
TEST_F(Waits, AFlushEndsExactlyTheWaitsOfItsServer)
{
    std::vector<Wait> waits = {{"gamma", WTS_EVENT_ALL}, {"gamma", WTS_EVENT_LOGON}, {"delta", WTS_EVENT_ALL},
                               {"gamma", WTS_EVENT_ALL}};
    Start(waits);
    for (DWORD tries = 0; WaitsBegun() < waits.size() && tries < 3000; ++tries)
        Sleep(10);
    ASSERT_EQ(WaitsBegun(), waits.size());
    const struct {
        const char* server;
        std::vector<bool> ended;  // each wait's, after the flush
    } flushes[] = {{nullptr, {false, false, false, false}}, {"GAMMA", {true, true, false, true}},
                   {"delta", {true, true, true, true}}};
    for (const auto& f : flushes) {
        DWORD events = 99;
        EXPECT_TRUE(!f.server || (waits[0].wait(f.server, WTS_EVENT_FLUSH, &events) == QRVTS_OK && events == 0));
        for (size_t i = 0; i < waits.size(); ++i)
            EXPECT_EQ(waits[i].Ended(f.ended[i] ? 10000 : 200, WTS_EVENT_NONE), f.ended[i]) << f.server << " " << i;
    }
}

// A process with no thread-local slot left when the library is loaded: the
// script functions and the exports work all the same, and the calling
// thread's code reads as no failure.
TEST(ThreadSlots, NoneLeftForTheLibrary)
{
    if (!MissingForScenario("basic.ini").empty())
        GTEST_SKIP() << MissingForScenario("basic.ini");
    std::vector<DWORD> taken;
    for (DWORD slot; taken.size() < 100000 && (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(slot);
    Extender ext;
    const bool loaded = ext.Load("velquor.dll");
    for (DWORD slot : taken)
        TlsFree(slot);
    Host host;
    std::string message;
    ASSERT_TRUE(loaded && HostInitialise(host, ext, &message) == 16) << message;
    const auto table = HostReadTable(host, ext);
    for (const auto& [function, status] : {std::make_pair("wtsenumsessions", 0), std::make_pair("wtslogoffsession", -1)}) {
        HostCall(host, ext, HostFindFunction(table, function), {"alpha", "99", "0"});
        EXPECT_EQ(host.completion.status, status) << function;
    }
    auto code = reinterpret_cast<DWORD(WINAPI*)(void)>(
        reinterpret_cast<void*>(GetProcAddress(ext.module, ExportName("_QRVTS_GetLastErrorCode@0").c_str())));
    EXPECT_EQ(code(), 0u);
}
