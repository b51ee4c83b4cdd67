// Everything about one session through the real DLL and the simulator; the
// array script functions through the host.
#include <windows.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "velquor_version.h"
#include "include/velquor.h"
#include "tests/real_dll.h"

namespace {

typedef LONG(WINAPI* QueryFn)(LPCSTR, DWORD, SessionInfoRecord**);
typedef void(WINAPI* FreeFn)(void*);

// Which texts the emulated version leaves unqueried.
// Whether this Windows leaves the application and the initial program
// unqueried: NT from 5.1 on, and NT versions not named (3.51, 4.0, 5.0).
bool Unsupported()
{
    OSVERSIONINFOA v;
    v.dwOSVersionInfoSize = sizeof v;
    GetVersionExA(&v);
    const bool named = (v.dwMajorVersion == 3 && v.dwMinorVersion == 51) ||
                       (v.dwMajorVersion == 4 && v.dwMinorVersion == 0) || (v.dwMajorVersion == 5 && v.dwMinorVersion == 0);
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT && !named;
}

class SessionInfo : public SimulatedTest {
protected:
    QueryFn query = nullptr;
    FreeFn freeBuffer = nullptr;

    const char* Scenario() const override { return "info.ini"; }
    void SetUp() override
    {
        SimulatedTest::SetUp();
        query = Api<QueryFn>("_QRVTS_QuerySessionInfo@12");
        freeBuffer = Api<FreeFn>("_QRVTS_FreeBuffer@4");
    }
    SessionInfoRecord* Query(DWORD session, const char* server = "")
    {
        SessionInfoRecord* info = nullptr;
        EXPECT_EQ(query(server, session, &info), QRVTS_OK);
        return info;
    }
};

// The texts follow one another in field order, each right after the NUL of
// the one before, and the block ends with the last.
void ExpectPacked(SessionInfoRecord* info)
{
    LPSTR* texts = &info->ApplicationName;
    const char* at = reinterpret_cast<const char*>(info) + sizeof(SessionInfoRecord);
    for (int t = 0; t < 17; ++t) {
        EXPECT_EQ(static_cast<const void*>(texts[t]), static_cast<const void*>(at)) << "text " << t;
        at += strlen(texts[t]) + 1;
    }
    EXPECT_EQ(_msize(info), size_t(at - reinterpret_cast<const char*>(info)));
}

}  // namespace

TEST_F(SessionInfo, EveryFieldOfARichSession)
{
    SessionInfoRecord* info = Query(2);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->ClientBuildNumber, 22621u);
    EXPECT_EQ(info->HorizontalResolution, 1920u);
    EXPECT_EQ(info->VerticalResolution, 1080u);
    EXPECT_EQ(info->ColorDepth, 24u);
    EXPECT_EQ(info->ClientHardwareId, 3u);
    EXPECT_EQ(info->ClientProductId, 1u);  // a 16-bit value
    EXPECT_STREQ(info->ApplicationName, Unsupported() ? "*UNSUPPORTED*" : "Editor");
    EXPECT_STREQ(info->InitialProgram, Unsupported() ? "*UNSUPPORTED*" : "C:\\start.cmd");
    EXPECT_STREQ(info->ClientAddress, "10.0.0.7");
    EXPECT_STREQ(info->ClientDirectory, "C:\\Program Files\\Client");
    EXPECT_STREQ(info->ClientName, "LAPTOP-ALICE");
    EXPECT_STREQ(info->ClientProtocolType, "RDP");
    EXPECT_STREQ(info->ConnectState, "ACTIVE");
    EXPECT_STREQ(info->DomainName, "CORP");
    EXPECT_STREQ(info->OEMId, "OEM7");
    EXPECT_STREQ(info->UserName, "alice");
    EXPECT_STREQ(info->WinStationName, "RDP-Tcp#14");
    EXPECT_STREQ(info->WorkingDirectory, "C:\\work");
    EXPECT_STREQ(info->CurrentTime, "2026:12:31:23:59:59");
    EXPECT_STREQ(info->LogonTime, "2006:03:04:05:06:07");
    EXPECT_STREQ(info->LastInputTime, "2006:03:04:09:30:59");
    EXPECT_STREQ(info->ConnectTime, "2006:03:04:05:06:00");
    EXPECT_STREQ(info->DisconnectTime, "2006:03:04:08:00:00");
    ExpectPacked(info);
    EXPECT_EQ(LastErrorRecord(), "<none>");
    const auto queries = log.Calls("WTSQuerySessionInformationA");
    EXPECT_EQ(queries.size(), Unsupported() ? 14u : 16u);
    EXPECT_EQ(log.Calls("WinStationQueryInformationW")[0],
              "WinStationQueryInformationW handle=00000000 session=2 class=8 length=1216");
    freeBuffer(info);
}

TEST_F(SessionInfo, ConvertedValues)
{
    SessionInfoRecord* s3 = Query(3);
    EXPECT_STREQ(s3->ClientAddress, "*IPX*");
    EXPECT_STREQ(s3->ClientProtocolType, "ICA");
    EXPECT_STREQ(s3->ConnectState, "DISCONNECTED");
    EXPECT_STREQ(s3->LastInputTime, "2026:01:02:03:04:05");  // the disconnect time stands in
    EXPECT_STREQ(s3->DisconnectTime, "2026:01:02:03:04:05");
    SessionInfoRecord* s4 = Query(4);
    EXPECT_STREQ(s4->ClientAddress, "*NETBIOS*");
    EXPECT_STREQ(s4->ClientProtocolType, "*UNKNOWN*");
    EXPECT_STREQ(s4->ConnectState, "*UNKNOWN*");
    EXPECT_STREQ(s4->ConnectTime, "");  // never connected
    EXPECT_STREQ(s4->LogonTime, "");
    EXPECT_STREQ(s4->LastInputTime, "");
    SessionInfoRecord* s5 = Query(5);
    EXPECT_STREQ(s5->ClientAddress, "fd00::7");  // IPv6, in its usual text
    EXPECT_STREQ(s5->ClientProtocolType, "CONSOLE");
    SessionInfoRecord* s6 = Query(6);
    EXPECT_STREQ(s6->ClientAddress, "*UNSPEC*");
    for (SessionInfoRecord* info : {s3, s4, s5, s6}) {
        ExpectPacked(info);
        freeBuffer(info);
    }
}

TEST_F(SessionInfo, UnknownSessionRefusesEverything)
{
    SessionInfoRecord* info = Query(77);
    ASSERT_NE(info, nullptr);
    for (const DWORD* n = &info->ClientBuildNumber; n <= &info->ClientProductId; ++n)
        EXPECT_EQ(*n, 0u);
    LPSTR* texts = &info->ApplicationName;
    for (int t = 0; t < 17; ++t) {
        const bool unsupported = Unsupported() && (t == 0 || t == 7);
        EXPECT_STREQ(texts[t], unsupported ? "*UNSUPPORTED*" : "") << t;
    }
    EXPECT_EQ(_msize(info), sizeof(SessionInfoRecord) + (Unsupported() ? 43u : 17u));  // 17 NULs, two texts
    EXPECT_EQ(LastErrorRecord(), "1B6E \"WinStationInformationWX() {session times} : QRVTS_QuerySessionInfo()\"");
    freeBuffer(info);
}

TEST_F(SessionInfo, OneRefusedPropertyIsRecordedAndLeftEmpty)
{
    SessionInfoRecord* info = Query(2, "alpha");
    EXPECT_STREQ(info->ClientName, "");
    EXPECT_STREQ(info->UserName, "alice");
    EXPECT_EQ(LastErrorRecord(), "5 \"WTSQuerySessionInformationAX() {WTSClientName} : QRVTS_QuerySessionInfo()\"");
    freeBuffer(info);
    SessionInfoRecord* held = info;
    EXPECT_EQ(query("", 2, &held), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(query("", 2, nullptr), QRVTS_INVALID_PARAMETER);
    held = nullptr;
    EXPECT_EQ(query("nosuch", 2, &held), QRVTS_OPEN_SERVER_FAILED);
    EXPECT_EQ(held, nullptr);
}

TEST_F(SessionInfo, ArraysThroughTheHost)
{
    Completion c = Call("wtsquerysessioninfo", {"", ""});  // the caller's own session
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(c.elements.size(), 23u);
    const int32_t integers[] = {5, 6, 7, 9, 10, 11};
    for (int i = 0; i < 23; ++i) {
        const bool integer = std::find(std::begin(integers), std::end(integers), i) != std::end(integers);
        EXPECT_EQ(c.elements[size_t(i)].type, integer ? ValueInteger : ValueString) << i;
    }
    EXPECT_EQ(c.elements[0].text, "RDP-Tcp#14");
    EXPECT_EQ(c.elements[7].integer, 22621);
    EXPECT_EQ(c.elements[8].text, "C:\\Program Files\\Client");
    EXPECT_EQ(c.elements[22].text, "2006:03:04:08:00:00");
    EXPECT_EQ(log.Calls("WTSQuerySessionInformationA")[0],
              "WTSQuerySessionInformationA handle=00000000 session=4294967295 class=9");
    EXPECT_EQ(Call("wtsquerysessioninfo", {"", "x"}).value.text, Message(QRVTS_INVALID_SESSION_ID));

    const size_t arrays = host.arrays.size();
    host.arrayItem = {3, -77};  // setting element 2 fails
    c = Call("wtsquerysessioninfo", {"", "2"});
    EXPECT_EQ(c.status, -1);
    EXPECT_EQ(c.value.text, Message(QRVTS_ARRAY_SERVICE_FAILED));
    EXPECT_EQ(host.arrays.size(), arrays);  // the partly built array was discarded
    EXPECT_EQ(LastErrorRecord(), "FFFFFFB3 \"xSetArrayItemString() : extender wtsQuerySessionInfo()\"");
}

TEST_F(SessionInfo, ListsAndVersionThroughTheHost)
{
    Completion c = Call("wtsenumsessions", {""});
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(c.elements.size(), 4u);
    EXPECT_EQ(c.elements[0].type, ValueInteger);
    EXPECT_EQ(c.elements[0].integer, 5);
    EXPECT_EQ(c.elements[1].text, "2\t3\t4\t5\t6");
    EXPECT_EQ(c.elements[3].text, "ACTIVE\tDISCONNECTED\t*UNKNOWN*\tACTIVE\tDISCONNECTED");
    EXPECT_EQ(Call("wtsenumsessions", {"", "x"}).value.text, Message(QRVTS_INVALID_PARAMETER));

    c = Call("wtsenumprocesses", {""});  // all sessions, basic enumeration
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(c.elements.size(), 5u);
    EXPECT_EQ(c.elements[0].integer, 0);
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(c.elements[size_t(i)].type, ValueString);
    EXPECT_EQ(log.Calls("WTSEnumerateProcessesA").size(), 1u);
    EXPECT_EQ(Call("wtsenumprocesses", {"", "x"}).value.text, Message(QRVTS_INVALID_SESSION_ID));
    EXPECT_EQ(Call("wtsenumprocesses", {"", "", "x"}).value.text, Message(QRVTS_INVALID_PARAMETER));
    host.arrayAllocate = {1, -5};
    EXPECT_EQ(Call("wtsenumprocesses", {"", "1", "1"}).value.text, Message(QRVTS_ARRAY_SERVICE_FAILED));
    EXPECT_EQ(LastErrorRecord(), "FFFFFFFB \"xAllocArray() : extender wtsEnumProcesses()\"");

    c = Call("wtsversion", {"1"});
    ASSERT_EQ(c.elements.size(), 4u);
    EXPECT_EQ(c.elements[0].integer, VELQUOR_VERSION_1);
    EXPECT_EQ(c.elements[3].integer, 1);
    c = Call("wtsversion", {"3"});
    ASSERT_EQ(c.status, 0);
    const auto& bytes = host.buffers.at(c.value.integer);
    const uint8_t expected[16] = {0xE3, 0xAB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(memcmp(bytes.data(), expected, 16), 0);
    EXPECT_EQ(host.bufferEnds.at(c.value.integer), 16);

    Host old(1005);
    HostCall(old, ext, 1, {"3"});
    EXPECT_EQ(old.completion.value.text, Message(QRVTS_BUFFER_SERVICE_FAILED));
    EXPECT_EQ(LastErrorRecord(), "FFFFFFFF \"xAllocBinBuf() : extender wtsVersion()\"");
    EXPECT_EQ(old.lastErrorTexts.back(), "FFFFFFFF \"xAllocBinBuf() : extender wtsVersion()\"");
}
