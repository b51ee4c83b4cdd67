// The session query's allocation failures in turn, the service wrappers,
// and a query without the window-station library, linked from the core.
#include <cstring>
#include <string>

#include <memory>

#include <gtest/gtest.h>

#include "api/sessionquery.h"
#include "extender/binding.h"
#include "extender/entry.h"
#include "extender/request.h"
#include "extender/wrappers.h"
#include "host/host.h"
#include "include/velquor.h"
#include "sim/inprocess.h"
#include "support/platform.h"
#include "support/strings.h"
#include "tests/alloc_fail.h"
#include "tests/settings.h"

namespace {

class QueryMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
        xPlatformAttach(&PlatformInfo, GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);
        xBindInProcessServer();
        Server = InProcessServer();
        ClearLastErrorRecord();
    }
};

}  // namespace

TEST_F(QueryMemory, AFullRecord)
{
    SessionInfoRecord* info = nullptr;
    ASSERT_EQ(QRVTS_QuerySessionInfo("", 2, &info), QRVTS_OK);
    EXPECT_STREQ(info->ClientAddress, "10.0.0.7");
    EXPECT_STREQ(info->LogonTime, "2006:03:04:05:06:07");
    EXPECT_STREQ(info->DisconnectTime, "");
    EXPECT_STREQ(info->LastInputTime, "2006:03:04:05:06:07");
    EXPECT_EQ(info->HorizontalResolution, 1024u);
    EXPECT_EQ(Server.buffers, Server.releases);
    QRVTS_FreeBuffer(info);
}

// A value is read only within the size the platform reported: a class
// answered with one byte gives 0, the empty text or one character.
TEST_F(QueryMemory, ValuesWithinTheReportedSize)
{
    const std::pair<int, const char*> cases[] = {
        {-1, "2 2 1024 10.0.0.7 RDP CONNECTQUERY text of class 5"}, {9, "0 2 1024 10.0.0.7 RDP CONNECTQUERY text of class 5"},
        {12, "2 0 1024 10.0.0.7 RDP CONNECTQUERY text of class 5"}, {15, "2 2 0 10.0.0.7 RDP CONNECTQUERY text of class 5"},
        {14, "2 2 1024  RDP CONNECTQUERY text of class 5"},         {16, "2 2 1024 10.0.0.7  CONNECTQUERY text of class 5"},
        {8, "2 2 1024 10.0.0.7 RDP  text of class 5"},              {5, "2 2 1024 10.0.0.7 RDP CONNECTQUERY t"}};
    for (const auto& [shortClass, expected] : cases) {
        Server.shortClass = shortClass;
        SessionInfoRecord* r = nullptr;
        ASSERT_EQ(QRVTS_QuerySessionInfo("", 2, &r), QRVTS_OK);
        char got[200];
        snprintf(got, sizeof got, "%lu %lu %lu %s %s %s %s", r->ClientBuildNumber, r->ClientProductId,
                 r->HorizontalResolution, r->ClientAddress, r->ClientProtocolType, r->ConnectState, r->UserName);
        EXPECT_STREQ(got, expected) << shortClass;
        QRVTS_FreeBuffer(r);
    }
}

// Both ways in: the ANSI export and its UTF-8 twin.
TEST_F(QueryMemory, EveryAllocationInTurn)
{
    for (bool utf8 : {false, true}) {
        const auto query = utf8 ? QRVTS_QuerySessionInfoUtf8 : QRVTS_QuerySessionInfo;
        const std::string name = utf8 ? "QRVTS_QuerySessionInfoUtf8()" : "QRVTS_QuerySessionInfo()";
        Server = InProcessServer();
        CountCallocs();
        SessionInfoRecord* info = nullptr;
        ASSERT_EQ(query("", 2, &info), QRVTS_OK);
        const int allocations = CallocsSoFar();
        const int queriesInAll = Server.queries;
        EXPECT_STREQ(info->UserName, "text of class 5");
        QRVTS_FreeBuffer(info);
        ASSERT_EQ(allocations, 12 + 5 + 1);  // twelve texts, five times, the record
        for (int failing = 1; failing <= allocations; ++failing) {
            Server = InProcessServer();
            info = nullptr;
            FailCallocAt(failing);
            EXPECT_EQ(query("", 2, &info), QRVTS_OUT_OF_MEMORY);
            EXPECT_EQ(info, nullptr);
            EXPECT_EQ(OutstandingCallocs(), 0) << failing;
            EXPECT_EQ(Server.buffers, Server.releases);
            const std::string place = std::string(failing <= 12 ? "xAllocPrintf()" : "calloc()") +
                                      " {returned NULL pointer} : " + name;
            EXPECT_EQ(LastErrorRecord(), "0 \"" + place + "\"") << failing;
            if (failing == 1) {
                EXPECT_EQ(Server.queries, 4);  // no platform call after the first text failed
            }
            if (failing > 12) {
                EXPECT_EQ(Server.queries, queriesInAll);
            }
            CountCallocs();
        }
    }
}

// Each property's query refused in turn, handing its buffer back all the
// same: the refusal is recorded under the property's own name, the property
// reads 0 or empty, every buffer is released and the handle closed.
TEST_F(QueryMemory, EachRefusedPropertyIsRecordedAndItsBufferReleased)
{
    const struct {
        int infoClass;
        const char* label;
        LPSTR SessionInfoRecord::*text;
        DWORD SessionInfoRecord::*number;
    } cases[] = {
        {2, "WTSWorkingDirectory", &SessionInfoRecord::WorkingDirectory, nullptr},
        {3, "WTSOEMId", &SessionInfoRecord::OEMId, nullptr},
        {5, "WTSUserName", &SessionInfoRecord::UserName, nullptr},
        {6, "WTSWinStationName / SessionName", &SessionInfoRecord::WinStationName, nullptr},
        {7, "WTSDomainName", &SessionInfoRecord::DomainName, nullptr},
        {8, "WTSConnectState", &SessionInfoRecord::ConnectState, nullptr},
        {9, "WTSClientBuildNumber", nullptr, &SessionInfoRecord::ClientBuildNumber},
        {10, "WTSClientName", &SessionInfoRecord::ClientName, nullptr},
        {11, "WTSClientDirectory", &SessionInfoRecord::ClientDirectory, nullptr},
        {12, "WTSClientProductId", nullptr, &SessionInfoRecord::ClientProductId},
        {13, "WTSClientHardwareId", nullptr, &SessionInfoRecord::ClientHardwareId},
        {14, "WTSClientAddress", &SessionInfoRecord::ClientAddress, nullptr},
        {15, "WTSClientDisplay", nullptr, &SessionInfoRecord::HorizontalResolution},
        {16, "WTSClientProtocolType", &SessionInfoRecord::ClientProtocolType, nullptr},
    };
    for (const auto& c : cases) {
        for (bool utf8 : {false, true}) {
            Server = InProcessServer();
            Server.refusedClass = c.infoClass;
            ClearLastErrorRecord();
            SessionInfoRecord* info = nullptr;
            ASSERT_EQ((utf8 ? QRVTS_QuerySessionInfoUtf8 : QRVTS_QuerySessionInfo)("alpha", 2, &info), QRVTS_OK);
            EXPECT_EQ(LastErrorRecord(), std::string("5 \"WTSQuerySessionInformation") + (utf8 ? "W" : "A") + "X() {" +
                                             c.label + "} : QRVTS_QuerySessionInfo" + (utf8 ? "Utf8" : "") + "()\"");
            if (c.text)
                EXPECT_STREQ(info->*c.text, "") << c.label;
            else
                EXPECT_EQ(info->*c.number, 0u) << c.label;
            EXPECT_STREQ(info->LogonTime, "2006:03:04:05:06:07");  // the rest is still there
            EXPECT_EQ(Server.buffers, Server.releases) << c.label;
            EXPECT_EQ(Server.opens, Server.closes);
            QRVTS_FreeBuffer(info);
        }
    }
}

TEST_F(QueryMemory, WithoutTheWindowStationLibrary)
{
    BindingTable table = xInProcessBinding();
    table.Entry.WinStationQueryInformationW = nullptr;
    xInstallBinding(table);
    SessionInfoRecord* info = nullptr;
    ASSERT_EQ(QRVTS_QuerySessionInfo("", 2, &info), QRVTS_OK);
    for (LPSTR t : {info->CurrentTime, info->LogonTime, info->LastInputTime, info->ConnectTime, info->DisconnectTime})
        EXPECT_STREQ(t, "");
    EXPECT_STREQ(info->UserName, "text of class 5");
    QRVTS_FreeBuffer(info);
    xInstallBinding(BindingTable{});
    info = nullptr;
    EXPECT_EQ(QRVTS_QuerySessionInfo("", 2, &info), QRVTS_NOT_AVAILABLE);  // nothing bound
}

TEST(Wrappers, BinaryBufferGuards)
{
    Host host(1006);
    std::unique_ptr<InterpreterCall> call(new InterpreterCall(&host.block));
    int32_t handle = 55;
    EXPECT_EQ(xAllocBinBuf(0, &handle), -1);
    EXPECT_EQ(handle, 55);
    EXPECT_EQ(xAllocBinBuf(16, nullptr), -1);
    EXPECT_EQ(xAllocBinBuf(16, &handle), 0);
    EXPECT_TRUE(host.buffers.count(handle));
    void* data = &handle;
    EXPECT_EQ(xGetBinBufDataPtr(handle, &data), -1);  // the slot holds a pointer already
    EXPECT_EQ(xGetBinBufDataPtr(handle, nullptr), -1);
    data = nullptr;
    EXPECT_EQ(xGetBinBufDataPtr(handle, &data), 0);
    EXPECT_EQ(data, host.buffers[handle].data());
    EXPECT_EQ(xSetBinBufEOD(handle, 7, nullptr), 0);
    int32_t end = 0;
    EXPECT_EQ(xSetBinBufEOD(handle, 9, &end), 0);
    EXPECT_EQ(end, 9);
    host.binBufAllocate = {1, -12};
    EXPECT_EQ(xAllocBinBuf(4, &handle), -12);
    EXPECT_EQ(handle, 0);

    Host old(1005);
    call.reset();
    call.reset(new InterpreterCall(&old.block));
    handle = 3;
    EXPECT_EQ(xAllocBinBuf(16, &handle), -1);
    EXPECT_EQ(handle, 0);
    data = nullptr;
    EXPECT_EQ(xGetBinBufDataPtr(1, &data), -1);
    EXPECT_EQ(xSetBinBufEOD(1, 1, nullptr), -1);
    EXPECT_TRUE(old.buffers.empty());
    HostVariable array;
    memset(&array, 0, sizeof array);
    EXPECT_EQ(xAllocArray(&array, 2, 0, 0, 0, 0), 0);  // the array services still answer
    EXPECT_EQ(xSetArrayItemLong(&array, 1, 0, 0, 0, 0, 42), 0);
    EXPECT_EQ(old.arrays[array.IntValue][1].integer, 42);
    old.arrayItem = {1, 99};
    EXPECT_EQ(xSetArrayItemString(&array, 0, 0, 0, 0, 0, nullptr), -1);  // no call: the failure stays armed
    EXPECT_EQ(xSetArrayItemString(&array, 0, 0, 0, 0, 0, "x"), 99);
    EXPECT_EQ(xFreeArray(&array), 0);
    EXPECT_TRUE(old.arrays.empty());
}

// When memory runs out while a failed array or binary-buffer service is being
// recorded, the record is skipped and the request still ends with the error.
TEST(Wrappers, RecordingWithoutMemoryStillEndsTheRequest)
{
    xPlatformAttach(&PlatformInfo, GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);
    Extender ext;
    ext.module = GetModuleHandleA(nullptr);
    ext.Extender2 = ZELExtender2;
    ext.LoadString = ZELExLoadString;
    struct Case {
        const char* selector;
        ServiceFailure Host::*service;
        int error;
    } cases[] = {
        {"1", &Host::arrayAllocate, QRVTS_ARRAY_SERVICE_FAILED}, {"1", &Host::arrayItem, QRVTS_ARRAY_SERVICE_FAILED},   {"3", &Host::binBufAllocate, QRVTS_BUFFER_SERVICE_FAILED},
        {"3", &Host::binBufEnd, QRVTS_BUFFER_SERVICE_FAILED},     {"3", &Host::binBufPointer, QRVTS_BUFFER_SERVICE_FAILED},
    };
    for (const Case& c : cases) {
        Host host;
        host.*c.service = {1, -3};
        ClearLastErrorRecord();
        FailCallocAt(1);  // the first allocation is the record's own text
        HostCall(host, ext, 1, {c.selector});
        CountCallocs();
        char expected[257];
        ZELExLoadString(ext.module, UINT(c.error), expected, sizeof expected);
        ASSERT_NE(expected[0], 0) << "the string table is linked in";
        EXPECT_EQ(host.completion.status, -1) << c.selector << " " << c.error;
        EXPECT_EQ(host.completion.value.text, expected);
        EXPECT_EQ(LastErrorRecord(), "<none>");
    }
}

// An IPv6 client address in its usual text: lower case, no leading zeros,
// the longest run of zero groups (the first of equal ones, two at least) as "::".
TEST(AddressText, Ipv6)
{
    const struct {
        unsigned short groups[8];
        const char* text;
    } cases[] = {{{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
                 {{0xfd00, 0, 0, 0, 0, 0, 0, 7}, "fd00::7"},
                 {{1, 0, 0, 0, 0, 0, 0, 0}, "1::"},
                 {{1, 2, 3, 4, 5, 6, 7, 8}, "1:2:3:4:5:6:7:8"},
                 {{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, "2001:db8::1:0:0:1"},
                 {{1, 0, 2, 0, 0, 0, 3, 0}, "1:0:2::3:0"},
                 {{0, 0, 0, 0, 0, 0, 0, 0}, "::"}};
    for (const auto& c : cases) {
        TsClientAddress a = {};
        a.AddressFamily = AF_INET6;
        for (int i = 0; i < 8; ++i)
            a.Address[2 * i] = BYTE(c.groups[i] >> 8), a.Address[2 * i + 1] = BYTE(c.groups[i]);
        char* text = nullptr;
        xAddressText(&a, &text);
        EXPECT_STREQ(text, c.text);
        free(text);
    }
}
