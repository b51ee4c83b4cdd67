// The QRVTS_ functions from 8 threads at once against the simulator, bound on
// first use: every answer equals the single-threaded one, every block the
// library allocates is freed and every server handle and platform buffer is
// given back. VELQUOR_THREAD_SECONDS runs it longer.
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include/velquor.h"
#include "support/platform.h"
#include "tests/alloc_fail.h"
#include "tests/settings.h"
#include "tests/simlog.h"

namespace {

std::string Code(LONG result) { return std::to_string(result); }

std::string Sessions(const char* server, BOOL extended)
{
    SessionListRecord* r = nullptr;
    const LONG result = QRVTS_EnumerateSessions(server, extended, &r);
    std::string s = Code(result);
    if (r)
        s += "|" + std::to_string(r->Count) + "|" + r->SessionIds + "|" + r->SessionNames + "|" + r->SessionStates;
    QRVTS_FreeBuffer(r);
    return s;
}

std::string Processes(const char* server, DWORD session, BOOL extended)
{
    ProcessListRecord* r = nullptr;
    const LONG result = QRVTS_EnumerateProcesses(server, session, extended, &r);
    std::string s = Code(result);
    if (r)
        s += "|" + std::to_string(r->Count) + "|" + r->ProcessIds + "|" + r->ProcessNames + "|" + r->SessionIds +
             "|" + r->UserSids;
    QRVTS_FreeBuffer(r);
    return s;
}

std::string Query(const char* server, DWORD session)
{
    SessionInfoRecord* r = nullptr;
    const LONG result = QRVTS_QuerySessionInfo(server, session, &r);
    std::string s = Code(result);
    if (r) {
        for (DWORD n : {r->ClientBuildNumber, r->HorizontalResolution, r->VerticalResolution, r->ColorDepth,
                        r->ClientHardwareId, r->ClientProductId})
            s += "|" + std::to_string(n);
        for (LPSTR t : {r->ApplicationName, r->ClientAddress, r->ClientDirectory, r->ClientName,
                        r->ClientProtocolType, r->ConnectState, r->DomainName, r->InitialProgram, r->OEMId,
                        r->UserName, r->WinStationName, r->WorkingDirectory, r->CurrentTime, r->LogonTime,
                        r->LastInputTime, r->ConnectTime, r->DisconnectTime})
            s += std::string("|") + t;
    }
    QRVTS_FreeBuffer(r);
    return s;
}

std::string Sid(bool valid)
{
    BYTE sid[16] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
    if (!valid)
        sid[0] = 9;
    char text[64] = "x";
    const BOOL made = QRVTS_ConvertSIDToText(sid, text, sizeof text);
    return std::to_string(made) + "|" + text;
}

std::string Answer(LONG result, DWORD value) { return Code(result) + "|" + std::to_string(value); }

// Every operation, each giving its whole answer as one text.
const std::vector<std::function<std::string()>> kOperations = {
    [] { return Sessions("alpha", FALSE); },
    [] { return Sessions("alpha", TRUE); },
    [] { return Sessions("broken", FALSE); },  // refused: recorded
    [] { return Processes("alpha", 0xFFFFFFFF, FALSE); },
    [] { return Processes("alpha", 2, TRUE); },
    [] { return Processes("broken", 0xFFFFFFFF, FALSE); },
    [] { return Query("alpha", 2); },  // one class refused: recorded
    [] { return Query("alpha", 3); },
    [] { return Query("alpha", 77); },
    [] { return Sid(true); },
    [] { return Sid(false); },  // rejected: recorded
    [] { return Code(QRVTS_DisconnectSession("alpha", 3, TRUE)); },
    [] { return Code(QRVTS_LogoffSession("alpha", 3, FALSE)); },
    [] { return Code(QRVTS_TerminateProcess("alpha", 1300, 1)); },
    [] { return Code(QRVTS_ShutdownSystem("alpha", 1)); },
    [] {
        DWORD response = 0;
        return Answer(QRVTS_SendMessage("alpha", 2, "title", "text", 64, 5, TRUE, &response), response);
    },
    [] {
        DWORD events = 0;
        return Answer(QRVTS_WaitSystemEvent("alpha", 0x20, &events), events);
    },
    [] {
        HANDLE h = nullptr;
        return Code(QRVTS_OpenServer("nowhere", &h));  // refused: recorded
    },
};

double Seconds()
{
    const char* v = getenv("VELQUOR_THREAD_SECONDS");
    return v ? atof(v) : 2.0;
}

}  // namespace

TEST(Threads, EveryAnswerEqualsTheSingleThreadedOne)
{
    if (!getenv("VELQUOR_SCENARIO"))
        GTEST_SKIP() << "needs VELQUOR_SCENARIO (tests/scenarios/threads.ini) and the simulator's libraries";
    SimCallLog log("Threads");
    xPlatformAttach(&PlatformInfo, GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);
    ClearLastErrorRecord();
    char binding[257] = "";
    QRVTS_GetBindingMessage(binding, sizeof binding);  // the binding lives as long as the process
    CountCallocs();  // from here on: the runtime's and the binding's blocks are older
    std::vector<std::string> expected;
    for (const auto& operation : kOperations)
        expected.push_back(operation());
    ASSERT_EQ(expected[0].compare(0, 4, "0|3|"), 0) << "the simulator serves the scenario: " << expected[0] << " "
                                                    << binding;
    EXPECT_EQ(OutstandingCallocs(), 0);

    // Each thread runs every operation at least once, each from its own
    // starting point, and goes on until the time is up.
    struct Run {
        const std::vector<std::string>* expected;
        size_t first;
        DWORD until;
        long calls, wrong;
        static DWORD WINAPI Thread(void* context)
        {
            Run& run = *static_cast<Run*>(context);
            const size_t n = kOperations.size();
            for (size_t i = 0; i < n || GetTickCount() < run.until; ++i, ++run.calls) {
                const size_t k = (run.first + i) % n;
                run.wrong += kOperations[k]() != (*run.expected)[k];
            }
            return 0;
        }
    };
    std::vector<Run> runs(8);
    std::vector<HANDLE> threads;
    const DWORD until = GetTickCount() + DWORD(Seconds() * 1000);
    for (size_t t = 0; t < runs.size(); ++t) {
        runs[t] = {&expected, t * 2, until, 0, 0};
        threads.push_back(CreateThread(nullptr, 0, Run::Thread, &runs[t], 0, nullptr));
    }
    WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
    for (size_t t = 0; t < runs.size(); ++t) {
        CloseHandle(threads[t]);
        EXPECT_EQ(runs[t].wrong, 0) << "of " << runs[t].calls << " answers on thread " << t;
        EXPECT_GE(runs[t].calls, long(kOperations.size()));
    }
    EXPECT_GT(CallocsSoFar(), 8 * int(kOperations.size())) << "the library's blocks are counted";
    EXPECT_EQ(OutstandingCallocs(), 0) << "blocks the library allocated and did not free";
    EXPECT_EQ(log.OpenHandles(), 0);
    EXPECT_EQ(log.OpenBuffers(), 0);
    const std::string record = LastErrorRecord();
    EXPECT_TRUE(record.find(" : QRVTS_") != std::string::npos) << "a whole record: " << record;
}
