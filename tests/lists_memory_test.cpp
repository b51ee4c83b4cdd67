// Allocation failure at every allocation of an enumeration in turn, linked
// from the library's core with an in-process server.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "include/velquor.h"
#include "sim/inprocess.h"
#include "support/list.h"
#include "support/utf8.h"
#include "tests/alloc_fail.h"
#include "tests/settings.h"

namespace {

class ListsMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
        xBindInProcessServer();
        Server = InProcessServer();
        Server.sessions = 40;
        Server.processes = 40;
        Server.sessionsOfProcesses = 3;
        ClearLastErrorRecord();
    }
    void ExpectCleanFailure(int failing, const char* function)
    {
        EXPECT_EQ(OutstandingCallocs(), 0) << "allocation " << failing;
        EXPECT_EQ(Server.opens, Server.closes);
        EXPECT_EQ(Server.buffers, Server.releases);
        const bool block = failing == lastAllocation;
        const std::string place = std::string(block ? "calloc()" : "xAllocPrintf()") +
                                  " {returned NULL pointer} : " + function + "()";
        EXPECT_EQ(LastErrorRecord(), "0 \"" + place + "\"") << "allocation " << failing;
    }
    int lastAllocation = 0;
};

}  // namespace

// Both ways in: the ANSI exports and their UTF-8 twins.
TEST_F(ListsMemory, EverySessionAllocationInTurn)
{
    for (bool utf8 : {false, true}) {
        const auto enumerate = utf8 ? QRVTS_EnumerateSessionsUtf8 : QRVTS_EnumerateSessions;
        const std::string name = utf8 ? "QRVTS_EnumerateSessionsUtf8" : "QRVTS_EnumerateSessions";
        CountCallocs();
        SessionListRecord* block = nullptr;
        ASSERT_EQ(enumerate("", FALSE, &block), QRVTS_OK);
        lastAllocation = CallocsSoFar();
        QRVTS_FreeBuffer(block);
        ASSERT_GT(lastAllocation, 3);
        for (int failing = 1; failing <= lastAllocation; ++failing) {
            block = nullptr;
            FailCallocAt(failing);
            EXPECT_EQ(enumerate("", FALSE, &block), QRVTS_OUT_OF_MEMORY);
            EXPECT_EQ(block, nullptr);
            ExpectCleanFailure(failing, name.c_str());
            CountCallocs();
        }
    }
}

TEST_F(ListsMemory, EveryProcessAllocationInTurn)
{
    for (bool utf8 : {false, true}) {
        const auto enumerate = utf8 ? QRVTS_EnumerateProcessesUtf8 : QRVTS_EnumerateProcesses;
        const std::string name = utf8 ? "QRVTS_EnumerateProcessesUtf8" : "QRVTS_EnumerateProcesses";
        CountCallocs();
        ProcessListRecord* block = nullptr;
        ASSERT_EQ(enumerate("", 0xFFFFFFFF, FALSE, &block), QRVTS_OK);
        lastAllocation = CallocsSoFar();
        QRVTS_FreeBuffer(block);
        ASSERT_GT(lastAllocation, 4);
        for (int failing = 1; failing <= lastAllocation; ++failing) {
            block = nullptr;
            FailCallocAt(failing);
            EXPECT_EQ(enumerate("", 0xFFFFFFFF, FALSE, &block), QRVTS_OUT_OF_MEMORY);
            EXPECT_EQ(block, nullptr);
            ExpectCleanFailure(failing, name.c_str());
            CountCallocs();
        }
    }
}

TEST_F(ListsMemory, EveryUserAllocationInTurn)
{
    for (bool utf8 : {false, true}) {
        const auto enumerate = utf8 ? QRVTS_EnumerateUsersUtf8 : QRVTS_EnumerateUsers;
        const std::string name = utf8 ? "QRVTS_EnumerateUsersUtf8" : "QRVTS_EnumerateUsers";
        Server.sessions = 4;
        CountCallocs();
        UserListRecord* block = nullptr;
        ASSERT_EQ(enumerate("", &block), QRVTS_OK);
        lastAllocation = CallocsSoFar();
        EXPECT_EQ(block->Count, 4u);
        EXPECT_STREQ(block->UserNames, "text of class 5\ttext of class 5\ttext of class 5\ttext of class 5");
        EXPECT_STREQ(block->ClientAddresses, "10.0.0.7\t10.0.0.7\t10.0.0.7\t10.0.0.7");
        QRVTS_FreeBuffer(block);
        for (int failing = 1; failing <= lastAllocation; ++failing) {
            block = nullptr;
            FailCallocAt(failing);
            EXPECT_EQ(enumerate("", &block), QRVTS_OUT_OF_MEMORY);
            EXPECT_EQ(block, nullptr);
            ExpectCleanFailure(failing, name.c_str());
            CountCallocs();
        }
    }
}

TEST_F(ListsMemory, ListsGrowInLinearTime)
{
    // Appending 10,000 items allocates a number of times that grows with the
    // logarithm of the length, not with the number of items.
    Server.processes = 10000;
    CountCallocs();
    ProcessListRecord* block = nullptr;
    ASSERT_EQ(QRVTS_EnumerateProcesses("", 0xFFFFFFFF, FALSE, &block), QRVTS_OK);
    EXPECT_LT(CallocsSoFar(), 4 * 20 + 1);
    EXPECT_EQ(block->Count, 10000u);
    QRVTS_FreeBuffer(block);
}

TEST_F(ListsMemory, RejectedSidsLeaveTheLastRecord)
{
    // Every rejection counts; only the last one remains, as the record of
    // the whole enumeration.
    Server.withoutSid = 30;
    ProcessListRecord* block = nullptr;
    ASSERT_EQ(QRVTS_EnumerateProcesses("", 0xFFFFFFFF, FALSE, &block), QRVTS_OK);
    const std::string record = LastErrorRecord();
    EXPECT_NE(record.find(" \"IsValidSid() : QRVTS_ConvertSIDToText()\""), std::string::npos) << record;
    EXPECT_EQ(block->Count, 40u);
    QRVTS_FreeBuffer(block);
}

// Room for what is listed: one session's hundred processes of a hundred
// thousand; a size past what memory holds fails, where doubling the
// capacity would wrap and go on forever.
TEST_F(ListsMemory, RoomForWhatIsListed)
{
    Server.processes = 100000;
    Server.sessionsOfProcesses = 1000;
    CountCallocs();
    ProcessListRecord* block = nullptr;
    ASSERT_EQ(QRVTS_EnumerateProcesses("", 5, FALSE, &block), QRVTS_OK);
    EXPECT_EQ(block->Count, 100u);
    EXPECT_LT(LargestCallocSoFar(), 16384u);
    QRVTS_FreeBuffer(block);
    for (size_t more : {size_t(-1), size_t(-1) - 1, size_t(-1) / 2 + 100}) {
        ListText list{};
        CountCallocs();
        EXPECT_TRUE(xListAppendText(&list, "x"));
        FailCallocAt(1);  // a block that large is refused without being tried
        EXPECT_TRUE(!xListReserve(&list, more) && !list.text) << more;
    }
    CountCallocs();
}

// A TAB, CR or LF inside an item (a client name is whatever the client
// sends) becomes a space in both forms, so that the list keeps one item
// per entry.
TEST(ListItems, SeparatorsInsideAnItemBecomeSpaces)
{
    ListText ansi{}, wide{};
    for (const auto& [a, w] : {std::make_pair("PC\tone", L"PC\tone"), std::make_pair("a\r\nb", L"a\r\nb"),
                               std::make_pair("\t", L"\t"), std::make_pair("plain", L"plain")})
        EXPECT_TRUE(xListAppendText(&ansi, a) && xListAppendWide(&wide, w));
    EXPECT_TRUE(xListFinish(&ansi) && xListFinish(&wide));
    EXPECT_STREQ(ansi.text, "PC one\ta  b\t \tplain");
    EXPECT_STREQ(wide.text, ansi.text);
    xListRelease(&ansi), xListRelease(&wide);
}
