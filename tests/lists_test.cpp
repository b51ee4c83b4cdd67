// Session and process lists through the real DLL and the simulator.
#include <windows.h>
#include <malloc.h>
#include <sddl.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "include/velquor.h"
#include "tests/loops.h"
#include "tests/real_dll.h"

namespace {

typedef LONG(WINAPI* EnumSessionsFn)(LPCSTR, BOOL, SessionListRecord**);
typedef LONG(WINAPI* EnumProcessesFn)(LPCSTR, DWORD, BOOL, ProcessListRecord**);
typedef BOOL(WINAPI* SidTextFn)(PSID, LPSTR, DWORD);
typedef void(WINAPI* FreeFn)(void*);

class Lists : public SimulatedTest {
protected:
    EnumSessionsFn sessions = nullptr;
    EnumProcessesFn processes = nullptr;
    SidTextFn sidText = nullptr;
    FreeFn freeBuffer = nullptr;

    const char* Scenario() const override { return "lists.ini"; }
    void SetUp() override
    {
        SimulatedTest::SetUp();
        sessions = Api<EnumSessionsFn>("_QRVTS_EnumerateSessions@12");
        processes = Api<EnumProcessesFn>("_QRVTS_EnumerateProcesses@16");
        sidText = Api<SidTextFn>("_QRVTS_ConvertSIDToText@12");
        freeBuffer = Api<FreeFn>("_QRVTS_FreeBuffer@4");
    }
    // The block holds exactly the header and the packed texts.
    template <class Block>
    void ExpectPacked(Block* block, std::initializer_list<const char*> texts)
    {
        size_t size = sizeof(Block);
        const char* at = reinterpret_cast<const char*>(block) + sizeof(Block);
        for (const char* text : texts) {
            EXPECT_EQ(static_cast<const void*>(text), static_cast<const void*>(at));
            size += strlen(text) + 1;
            at += strlen(text) + 1;
        }
        EXPECT_EQ(_msize(block), size);
    }
};

}  // namespace

TEST_F(Lists, SessionsLineUpItemByItem)
{
    for (BOOL extended : {FALSE, TRUE}) {
        SessionListRecord* block = nullptr;
        ASSERT_EQ(sessions("", extended, &block), QRVTS_OK);
        EXPECT_EQ(block->Count, 3u);
        EXPECT_STREQ(block->SessionIds, "0\t1\t65536");
        EXPECT_STREQ(block->SessionNames, "Services\t\t");  // null name empty, last empty keeps its TAB
        EXPECT_STREQ(block->SessionStates, "DISCONNECTED\tACTIVE\t*UNKNOWN*");
        ExpectPacked(block, {block->SessionIds, block->SessionNames, block->SessionStates});
        freeBuffer(block);
    }
    EXPECT_EQ(log.Calls("WTSEnumerateSessionsA")[0], "WTSEnumerateSessionsA handle=00000000 reserved=0 version=1");
    EXPECT_EQ(log.Calls("WTSEnumerateSessionsExA")[0], "WTSEnumerateSessionsExA handle=00000000 level=1 filter=0");
    ASSERT_EQ(log.Calls("WTSFreeMemoryExA").size(), 1u);
    EXPECT_NE(log.Calls("WTSFreeMemoryExA")[0].find("type=2"), std::string::npos);
    EXPECT_NE(log.Calls("WTSFreeMemoryExA")[0].find("count=3"), std::string::npos);
}

TEST_F(Lists, NoSessionsAndRefusals)
{
    SessionListRecord* block = nullptr;
    ASSERT_EQ(sessions("vacant", TRUE, &block), QRVTS_OK);
    EXPECT_EQ(block->Count, 0u);
    ExpectPacked(block, {block->SessionIds, block->SessionNames, block->SessionStates});
    EXPECT_STREQ(block->SessionIds, "");
    EXPECT_STREQ(block->SessionNames, "");
    EXPECT_STREQ(block->SessionStates, "");
    SessionListRecord* held = block;
    EXPECT_EQ(sessions("", FALSE, &block), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(block, held);
    EXPECT_EQ(sessions("", FALSE, nullptr), QRVTS_INVALID_PARAMETER);
    freeBuffer(block);
    block = nullptr;
    EXPECT_EQ(sessions("broken", FALSE, &block), QRVTS_ENUM_SESSIONS_FAILED);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(LastErrorRecord(), "6BA \"WTSEnumerateSessionsAX() : QRVTS_EnumerateSessions()\"");
    ClearLastErrorRecord();
    EXPECT_EQ(sessions("broken", TRUE, &block), QRVTS_ENUM_SESSIONS_FAILED);  // whichever service failed
    EXPECT_EQ(LastErrorRecord(), "6BA \"WTSEnumerateSessionsAX() : QRVTS_EnumerateSessions()\"");
    EXPECT_EQ(sessions(std::string(256, 's').c_str(), FALSE, &block), QRVTS_BUFFER_TOO_SMALL);
    EXPECT_EQ(sessions("nosuch", FALSE, &block), QRVTS_OPEN_SERVER_FAILED);
}

TEST_F(Lists, ProcessesWithTheirSids)
{
    for (BOOL extended : {FALSE, TRUE}) {
        ClearLastErrorRecord();
        ProcessListRecord* block = nullptr;
        ASSERT_EQ(processes("", 0xFFFFFFFF, extended, &block), QRVTS_OK);
        EXPECT_EQ(block->Count, 5u);  // the entry with process id 0 is left out
        EXPECT_STREQ(block->ProcessIds, "4\t1104\t1200\t1300\t1400");
        EXPECT_STREQ(block->ProcessNames, "System\texplorer.exe\thex.exe\tnosid.exe\tbad.exe");
        EXPECT_STREQ(block->SessionIds, "0\t1\t1\t1\t65536");
        EXPECT_STREQ(block->UserSids, "S-1-5-18\tS-1-5-21-1004336348-1177238915-682003330-1104\t"
                                      "S-1-0x000100000000-5-77\t\t");
        ExpectPacked(block, {block->ProcessIds, block->ProcessNames, block->SessionIds, block->UserSids});
        // The refused SID is recorded; the enumeration still succeeds.
        EXPECT_NE(LastErrorRecord().find("\"IsValidSid() : QRVTS_ConvertSIDToText()\""), std::string::npos);
        freeBuffer(block);
    }
    EXPECT_EQ(log.Calls("WTSEnumerateProcessesExA")[0],
              "WTSEnumerateProcessesExA handle=00000000 level=1 session=4294967294");
    const auto frees = log.Calls("WTSFreeMemoryExA");
    ASSERT_EQ(frees.size(), 2u);
    EXPECT_NE(frees[0].find("type=0"), std::string::npos);  // basic records, release routine present
    EXPECT_NE(frees[1].find("type=1"), std::string::npos);
}

TEST_F(Lists, SessionFilterForBothEnumerations)
{
    for (BOOL extended : {FALSE, TRUE}) {
        ProcessListRecord* block = nullptr;
        ASSERT_EQ(processes("alpha", 1, extended, &block), QRVTS_OK);
        EXPECT_EQ(block->Count, 3u);
        EXPECT_STREQ(block->ProcessIds, "1104\t1200\t1300");
        EXPECT_STREQ(block->SessionIds, "1\t1\t1");
        freeBuffer(block);
        block = nullptr;
        ASSERT_EQ(processes("", 77, extended, &block), QRVTS_OK);  // no process qualifies
        EXPECT_EQ(block->Count, 0u);
        ExpectPacked(block, {block->ProcessIds, block->ProcessNames, block->SessionIds, block->UserSids});
        for (const char* text : {block->ProcessIds, block->ProcessNames, block->SessionIds, block->UserSids})
            EXPECT_STREQ(text, "");
        freeBuffer(block);
    }
    EXPECT_EQ(log.Calls("WTSEnumerateProcessesExA")[0],
              "WTSEnumerateProcessesExA handle=00005100 level=1 session=1");
    ProcessListRecord* held = reinterpret_cast<ProcessListRecord*>(8);
    EXPECT_EQ(processes("", 0xFFFFFFFF, FALSE, &held), QRVTS_INVALID_PARAMETER);
    EXPECT_EQ(held, reinterpret_cast<ProcessListRecord*>(8));
    EXPECT_EQ(processes("", 0xFFFFFFFF, FALSE, nullptr), QRVTS_INVALID_PARAMETER);
    held = nullptr;
    EXPECT_EQ(processes("broken", 0xFFFFFFFF, TRUE, &held), QRVTS_ENUM_PROCESSES_FAILED);
    EXPECT_EQ(LastErrorRecord(), "5 \"WTSEnumerateProcessesAX() : QRVTS_EnumerateProcesses()\"");
}

namespace {

std::vector<BYTE> MakeSid(const BYTE authority[6], const std::vector<DWORD>& subs)
{
    std::vector<BYTE> sid(8 + 4 * subs.size());
    sid[0] = 1;
    sid[1] = BYTE(subs.size());
    memcpy(&sid[2], authority, 6);
    memcpy(&sid[8], subs.data(), 4 * subs.size());
    return sid;
}

}  // namespace

TEST_F(Lists, SidTextSizesAndFailures)
{
    const BYTE nt[6] = {0, 0, 0, 0, 0, 5};
    std::vector<BYTE> system = MakeSid(nt, {18});
    char text[300];
    memset(text, '#', sizeof text);
    EXPECT_EQ(sidText(system.data(), text, 28 + 12), FALSE);  // 28 + 12n is refused
    EXPECT_STREQ(text, "");
    EXPECT_EQ(sidText(system.data(), text, 28 + 12 + 1), TRUE);
    EXPECT_STREQ(text, "S-1-5-18");
    memset(text, '#', sizeof text);
    EXPECT_EQ(sidText(system.data(), text, 0), FALSE);
    EXPECT_EQ(text[0], '#');
    const BYTE hex[6] = {0, 1, 0, 0, 0, 0};
    std::vector<BYTE> wide = MakeSid(hex, {});
    EXPECT_EQ(sidText(wide.data(), text, 29), TRUE);
    EXPECT_STREQ(text, "S-1-0x000100000000");
    // The longest text for n sub-authorities fits whenever the size test passes.
    std::vector<BYTE> longest = MakeSid(hex, std::vector<DWORD>(15, 4294967295u));
    EXPECT_EQ(sidText(longest.data(), text, 28 + 12 * 15 + 1), TRUE);
    EXPECT_EQ(strlen(text), size_t(18 + 11 * 15));
    EXPECT_EQ(LastErrorRecord(), "<none>");
    BYTE invalid[12];
    memset(invalid, 0xEE, sizeof invalid);
    EXPECT_EQ(sidText(invalid, text, sizeof text), FALSE);
    EXPECT_STREQ(text, "");
    EXPECT_NE(LastErrorRecord().find("\"IsValidSid() : QRVTS_ConvertSIDToText()\""), std::string::npos);
}

TEST_F(Lists, SidTextAgreesWithThePlatform)
{
    // Wine's conversion prints an authority of 2^31 and more as a negative
    // number: those are compared with their unsigned text instead.
    const BYTE large[6] = {0, 0, 0x80, 0, 0, 1};
    std::vector<BYTE> big = MakeSid(large, {7});
    char text[256];
    ASSERT_EQ(sidText(big.data(), text, sizeof text), TRUE);
    EXPECT_STREQ(text, "S-1-2147483649-7");
    std::mt19937 rng(7);
    for (int i = 0, n = LoopLength(5000); i < n; ++i) {
        BYTE authority[6] = {0, 0, BYTE(rng() & 0x7F), BYTE(rng()), BYTE(rng()), BYTE(rng())};
        std::vector<DWORD> subs(rng() % 16);
        for (DWORD& s : subs)
            s = rng() % 3 ? DWORD(rng()) : DWORD(rng() % 1000);
        std::vector<BYTE> sid = MakeSid(authority, subs);
        char* expected = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(sid.data(), &expected));
        ASSERT_EQ(sidText(sid.data(), text, sizeof text), TRUE);
        EXPECT_STREQ(text, expected);
        LocalFree(expected);
    }
}
