// Names in several scripts through the C API against the simulator
// (tests/scenarios/names.ini): whole through every UTF-8 export, and
// through the ANSI exports as the platform converts them to the process's
// ANSI code page, with nothing lost beyond that.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include/velquor.h"
#include "tests/real_dll.h"

namespace {

// Session n + 1's name and user, and process 101 + n's name with ".exe".
const char* const kNames[] = {"Łukasz Żółć", "Ελένη Παπαδοπούλου", "Дмитрий Иванов", "山田 さくら", "𠮷野 café"};
const char* const kDomains[] = {"DOMÄNE-Ł", "DOMÄNE-Ε", "DOMÄNE-Д", "DOMÄNE-山", "DOMÄNE-𠮷"};
const size_t kCount = sizeof kNames / sizeof kNames[0];
const char* const kServers[] = {"", "Ελλάδα-TS", "東京"};

std::vector<std::string> Split(const char* list)
{
    std::vector<std::string> items;
    std::string text = list;
    for (size_t start = 0;;) {
        const size_t tab = text.find('\t', start);
        items.push_back(text.substr(start, tab - start));
        if (tab == std::string::npos)
            return items;
        start = tab + 1;
    }
}

std::wstring Wide(const std::string& text, UINT page = CP_UTF8)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(size_t(MultiByteToWideChar(page, 0, text.c_str(), -1, &wide[0], int(wide.size())) - 1));
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT page)
{
    std::string text(wide.size() * 4 + 1, '\0');
    text.resize(size_t(WideCharToMultiByte(page, 0, wide.c_str(), -1, &text[0], int(text.size()), nullptr, nullptr) - 1));
    return text;
}

// What the platform makes of a name in the process's ANSI code page, and
// that text read back: the name itself when the code page holds it.
std::string Ansi(const std::string& utf8) { return Narrow(Wide(utf8), CP_ACP); }
std::string BackFromAnsi(const std::string& ansi) { return Narrow(Wide(ansi, CP_ACP), CP_UTF8); }

// The names the n-th session and process have, as the way in under test
// gives them (`convert` is the identity for the UTF-8 exports).
template <class Convert>
std::vector<std::string> Expected(const char* suffix, Convert convert)
{
    std::vector<std::string> names;
    for (const char* name : kNames)
        names.push_back(convert(std::string(name) + suffix));
    return names;
}

typedef LONG(WINAPI* EnumSessionsFn)(LPCSTR, BOOL, SessionListRecord**);
typedef LONG(WINAPI* EnumProcessesFn)(LPCSTR, DWORD, BOOL, ProcessListRecord**);
typedef LONG(WINAPI* QueryFn)(LPCSTR, DWORD, SessionInfoRecord**);
typedef LONG(WINAPI* UsersFn)(LPCSTR, UserListRecord**);

// Both ways in, each through the same checks of every name it lists.
struct WayIn {
    EnumSessionsFn sessions;
    EnumProcessesFn processes;
    QueryFn query;
    UsersFn users;
    std::string (*convert)(const std::string&);
};

std::string Same(const std::string& text) { return text; }

class Names : public SimulatedTest {
protected:
    const char* Scenario() const override { return "names.ini"; }

    void ExpectEveryName(const WayIn& way, const char* server)
    {
        for (BOOL extended : {FALSE, TRUE}) {
            SessionListRecord* s = nullptr;
            ASSERT_EQ(way.sessions(server, extended, &s), QRVTS_OK) << server;
            EXPECT_EQ(Split(s->SessionNames), Expected("", way.convert)) << server << " extended " << extended;
            QRVTS_FreeBuffer(s);
            ProcessListRecord* p = nullptr;
            ASSERT_EQ(way.processes(server, 0xFFFFFFFF, extended, &p), QRVTS_OK) << server;
            EXPECT_EQ(Split(p->ProcessNames), Expected(".exe", way.convert)) << server << " extended " << extended;
            QRVTS_FreeBuffer(p);
        }
        UserListRecord* u = nullptr;
        ASSERT_EQ(way.users(server, &u), QRVTS_OK) << server;
        EXPECT_EQ(Split(u->UserNames), Expected("", way.convert)) << server;
        EXPECT_EQ(Split(u->SessionNames), Expected("", way.convert)) << server;
        EXPECT_EQ(Split(u->ClientNames), Expected("", [&](const std::string& n) { return way.convert("PC-" + n); }));
        EXPECT_EQ(Split(u->DomainNames)[3], way.convert(kDomains[3])) << server;
        QRVTS_FreeBuffer(u);
        for (size_t n = 0; n < kCount; ++n) {
            SessionInfoRecord* r = nullptr;
            ASSERT_EQ(way.query(server, DWORD(n + 1), &r), QRVTS_OK) << server;
            const std::string name = kNames[n];
            const std::string got[] = {r->WinStationName, r->UserName, r->DomainName, r->ClientName,
                                       r->ClientDirectory};
            const std::string want[] = {name, name, kDomains[n], "PC-" + name, "C:\\Programme\\" + name};
            for (size_t k = 0; k < 5; ++k)
                EXPECT_EQ(got[k], way.convert(want[k])) << server << " session " << n + 1 << " text " << k;
            QRVTS_FreeBuffer(r);
        }
    }
};

}  // namespace

TEST_F(Names, EveryUtf8ExportGivesTheNamesWhole)
{
    const WayIn utf8 = {QRVTS_EnumerateSessionsUtf8, QRVTS_EnumerateProcessesUtf8, QRVTS_QuerySessionInfoUtf8,
                        QRVTS_EnumerateUsersUtf8, Same};
    for (const char* server : kServers)
        ExpectEveryName(utf8, server);
    // Every action reaches the server by its name, and the message box
    // carries each name, its lengths in bytes as the wide entry point takes them.
    for (const char* server : kServers) {
        DWORD answer = 0, events = 0;
        EXPECT_EQ(QRVTS_DisconnectSessionUtf8(server, 1, FALSE), QRVTS_OK);
        EXPECT_EQ(QRVTS_LogoffSessionUtf8(server, 1, FALSE), QRVTS_OK);
        EXPECT_EQ(QRVTS_TerminateProcessUtf8(server, 101, 0), QRVTS_OK);
        EXPECT_EQ(QRVTS_WaitSystemEventUtf8(server, 1, &events), QRVTS_OK);
        EXPECT_EQ(QRVTS_ShutdownSystemUtf8(server, 1), QRVTS_OK);
        for (const char* name : kNames) {
            EXPECT_EQ(QRVTS_SendMessageUtf8(server, 1, name, name, 0, 0, FALSE, &answer), QRVTS_OK);
            const std::string bytes = std::to_string(Wide(name).size() * 2);
            const std::string shown = std::string("[") + name + "] " + bytes;
            EXPECT_NE(log.Calls("WTSSendMessageW").back().find(" title=" + shown + " message=" + shown + " "),
                      std::string::npos)
                << log.Calls("WTSSendMessageW").back();
        }
    }
    // Per server: five enumerations, a query per session, five actions and a message per name.
    for (const char* server : {"Ελλάδα-TS", "東京"})
        EXPECT_EQ(log.Calls(std::string("WTSOpenServerExW name=") + server + " -> 0000").size(), 5 + 2 * kCount + 5);
    EXPECT_TRUE(log.Calls("WTSOpenServerA").empty() && log.Calls("WTSEnumerateSessionsA").empty());
    char message[300] = "x";
    EXPECT_EQ(QRVTS_GetBindingMessageUtf8(message, sizeof message), QRVTS_OK);
    EXPECT_STREQ(message, "");
}

// What is not UTF-8, and a name longer than the platform takes, is refused
// before the platform is asked.
TEST_F(Names, TextsThatAreNotUtf8OrTooLongAreRefused)
{
    const std::string tooLong = [] {
        std::string s;
        for (int i = 0; i < 256; ++i)
            s += "λ";
        return s;
    }();
    struct Case {
        const char* server;
        LONG result;
    } cases[] = {{"\xff\xfe", QRVTS_INVALID_PARAMETER}, {"caf\xe9", QRVTS_INVALID_PARAMETER},
                 {tooLong.c_str(), QRVTS_BUFFER_TOO_SMALL}, {tooLong.c_str() + 2, QRVTS_OPEN_SERVER_FAILED}};
    for (const Case& c : cases) {
        HANDLE h = nullptr;
        SessionListRecord* s = nullptr;
        EXPECT_EQ(QRVTS_OpenServerUtf8(c.server, &h), c.result);
        EXPECT_EQ(QRVTS_EnumerateSessionsUtf8(c.server, FALSE, &s), c.result);
        EXPECT_EQ(QRVTS_LogoffSessionUtf8(c.server, 1, FALSE), c.result);
    }
    DWORD answer = 0;
    EXPECT_EQ(QRVTS_SendMessageUtf8("", 1, "caf\xe9", "text", 0, 0, FALSE, &answer), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(QRVTS_SendMessageUtf8("", 1, "title", "\xc3", 0, 0, FALSE, &answer), QRVTS_INVALID_PARAMETER);
    EXPECT_TRUE(log.Calls("WTSSendMessage").empty());
    EXPECT_EQ(log.Calls("WTSOpenServerExW").size(), 3u);  // only the name of 255 units is asked for
}

// The ANSI exports give what the platform gives in the ANSI code page: a
// name the code page holds comes back whole, any other as the platform
// converts it, and no worse.
TEST_F(Names, AnsiExportsLoseOnlyWhatTheCodePageLacks)
{
    const WayIn ansi = {QRVTS_EnumerateSessions, QRVTS_EnumerateProcesses, QRVTS_QuerySessionInfo,
                        QRVTS_EnumerateUsers, Ansi};
    ExpectEveryName(ansi, "");
    // A server's name reaches it only where the code page holds it: else
    // the platform asks for another ("??"), which is not there.
    for (const char* server : {kServers[1], kServers[2]}) {
        if (BackFromAnsi(Ansi(server)) == server) {
            ExpectEveryName(ansi, Ansi(server).c_str());
        } else {
            SessionListRecord* s = nullptr;
            EXPECT_EQ(QRVTS_EnumerateSessions(Ansi(server).c_str(), FALSE, &s), QRVTS_OPEN_SERVER_FAILED);
        }
    }
    size_t whole = 0;
    for (const char* name : kNames)
        whole += BackFromAnsi(Ansi(name)) == name;
    RecordProperty("code_page", int(GetACP()));
    RecordProperty("names_whole", int(whole));
    if (GetACP() == 1252) {
        EXPECT_EQ(whole, 0u);  // each has a letter outside Western European
    } else if (GetACP() == 932) {
        EXPECT_EQ(whole, 2u);  // the Cyrillic and the Japanese name; it lacks accented Greek
    }
}

// Without a wide entry point the UTF-8 exports are not available, the
// binding message names what is missing, and the ANSI exports work on.
TEST_F(Names, WithoutAWideEntryPoint)
{
    const char* missing = getenv("VELQUOR_SIM_MISSING");
    if (!missing || !*missing)
        GTEST_SKIP() << "needs VELQUOR_SIM_MISSING=WTSQuerySessionInformationW";
    SessionListRecord* s = nullptr;
    SessionInfoRecord* r = nullptr;
    HANDLE h = nullptr;
    DWORD answer = 0;
    EXPECT_EQ(QRVTS_EnumerateSessionsUtf8("", FALSE, &s), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_QuerySessionInfoUtf8("", 1, &r), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_OpenServerUtf8("東京", &h), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(QRVTS_SendMessageUtf8("", 1, "t", "m", 0, 0, FALSE, &answer), QRVTS_NOT_AVAILABLE);
    const std::string named = std::string("Unable to initialize Velquor: ") + missing + "() not found in WTSAPI32.DLL";
    char message[300];
    EXPECT_EQ(QRVTS_GetBindingMessageUtf8(message, sizeof message), QRVTS_NOT_AVAILABLE);
    EXPECT_EQ(message, named);
    EXPECT_EQ(QRVTS_GetBindingMessage(message, sizeof message), QRVTS_OK);
    EXPECT_EQ(message, named);
    ASSERT_EQ(QRVTS_EnumerateSessions("", FALSE, &s), QRVTS_OK);
    EXPECT_EQ(s->Count, kCount);
    QRVTS_FreeBuffer(s);
}
