// The real velquor.dll's process-wide state under many callers: C API calls
// on several threads while the interpreter's thread initialises and
// terminates over and over; message texts from a language file on eight
// threads while the language is chosen again; a thousand loads and unloads
// that leave no thread slot, handle, library or heap block behind.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "include/velquor.h"
#include "tests/real_dll.h"

namespace {

template <class Fn>
Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The C API of one loaded copy of the DLL.
struct CApi {
    explicit CApi(HMODULE m)
        : sessions(Export<decltype(&QRVTS_EnumerateSessions)>(m, "_QRVTS_EnumerateSessions@12")),
          query(Export<decltype(&QRVTS_QuerySessionInfo)>(m, "_QRVTS_QuerySessionInfo@12")),
          free(Export<decltype(&QRVTS_FreeBuffer)>(m, "_QRVTS_FreeBuffer@4")),
          text(Export<decltype(&QRVTS_GetErrorText)>(m, "_QRVTS_GetErrorText@12")),
          code(Export<decltype(&QRVTS_GetLastErrorCode)>(m, "_QRVTS_GetLastErrorCode@0"))
    {
    }
    decltype(&QRVTS_EnumerateSessions) sessions;
    decltype(&QRVTS_QuerySessionInfo) query;
    decltype(&QRVTS_FreeBuffer) free;
    decltype(&QRVTS_GetErrorText) text;
    decltype(&QRVTS_GetLastErrorCode) code;

    std::string Sessions(const char* server) const
    {
        SessionListRecord* r = nullptr;
        const LONG result = sessions(server, FALSE, &r);
        std::string s = std::to_string(result) + "|" + std::to_string(code());
        if (r)
            s += std::string("|") + r->SessionIds + "|" + r->SessionNames + "|" + r->SessionStates;
        free(r);
        return s;
    }
    std::string Query(const char* server, DWORD session) const
    {
        SessionInfoRecord* r = nullptr;
        const LONG result = query(server, session, &r);
        std::string s = std::to_string(result) + "|" + std::to_string(code());
        if (r)
            s += std::string("|") + r->UserName + "|" + r->ClientAddress + "|" + r->LogonTime;
        free(r);
        return s;
    }
};

const int32_t kEnumSessions = 5;  // the request of wtsenumsessions

class Lifetime : public SimulatedTest {
protected:
    const char* Scenario() const override { return "threads.ini"; }
    int32_t Terminate() { return ext.Extender2(nullptr, 0, &host, -3, HostCompleteRequest, &host.block, 0, nullptr, 0, nullptr); }
};

}  // namespace

// Six threads ask servers through the C API while this thread, the
// interpreter's, initialises, calls and terminates in a loop. Every C API
// answer equals the one asked alone (a call after termination binds again);
// a script call after termination fails with 102.
TEST_F(Lifetime, CallsRunWhileTheInterpreterInitialisesAndTerminates)
{
    const CApi api(ext.module);
    const std::vector<std::function<std::string()>> asks = {
        [&] { return api.Sessions("alpha"); }, [&] { return api.Sessions("broken"); },
        [&] { return api.Query("alpha", 2); }, [&] { return api.Query("alpha", 77); }};
    std::vector<std::string> expected;
    for (const auto& ask : asks)
        expected.push_back(ask());
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, wrong{0};
    std::vector<std::thread> workers;
    for (size_t t = 0; t < 6; ++t)
        workers.emplace_back([&, t] {
            for (size_t i = t; !stop; ++i, ++calls)
                wrong += asks[i % asks.size()]() != expected[i % asks.size()];
        });
    const DWORD start = GetTickCount();
    long cycles = 0, scriptFailures = 0;
    for (; cycles < 50 || GetTickCount() - start < 2000; ++cycles) {
        std::string message;
        ASSERT_EQ(HostInitialise(host, ext, &message), 16) << message;
        scriptFailures += Call(kEnumSessions, {""}).status != 0;
        ASSERT_EQ(Terminate(), 1);
        ExpectError(Call(kEnumSessions, {""}), QRVTS_NOT_ENABLED);
    }
    stop = true;
    for (std::thread& w : workers)
        w.join();
    printf("7 threads, %.1f s: %ld C API calls (%ld wrong), %ld initialise-call-terminate cycles (%ld failed)\n",
           (GetTickCount() - start) / 1000.0, calls.load(), wrong.load(), cycles, scriptFailures);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(scriptFailures, 0);
    Initialise();  // as the fixture left it
}

namespace {

const char kLanguage[] = "THR";
const char kLanguageFile[] = "QRVELANG.THR";

// A text of every length from 7 to 19 characters, its id in it.
std::string LanguageText(UINT id) { return "T" + std::to_string(id) + std::string(3 + id % 13, '-'); }

std::vector<UINT> ErrorIds()
{
    std::vector<UINT> ids;
    for (UINT id = 100; id <= 119; ++id)
        ids.push_back(id);
    for (UINT id = 900; id <= 910; ++id)
        ids.push_back(id);
    return ids;
}

}  // namespace

// A language file in the current folder, chosen through the shared settings
// file: eight threads make their first calls at once and read every text,
// one of them making the language be chosen again every fiftieth call.
TEST(Texts, EightThreadsReadTheLanguageFileWhileItIsChosenAgain)
{
    const std::vector<UINT> ids = ErrorIds();
    {
        std::ofstream file(kLanguageFile);
        file << "[Velquor]\n";
        for (UINT id : ids)
            file << "X" << id << "=" << LanguageText(id) << "\n";
    }
    WritePrivateProfileStringA("MAIN", "Language", kLanguage, "QRVTAVRK.INI");
    Extender ext;
    ASSERT_TRUE(ext.Load("velquor.dll"));
    const CApi api(ext.module);
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<long> calls{0}, wrong{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            WaitForSingleObject(start, INFINITE);
            for (size_t i = 0; i < 2000; ++i, ++calls) {
                const UINT id = ids[(t * 5 + i) % ids.size()];
                char text[64] = "";
                wrong += api.text(LONG(id), text, sizeof text) != LONG(LanguageText(id).size()) ||
                         text != LanguageText(id);
                if (t == 0 && i % 50 == 0)
                    ext.LoadString(ext.module, 0, nullptr, 0);
            }
        });
    SetEvent(start);
    for (std::thread& t : threads)
        t.join();
    CloseHandle(start);
    FreeLibrary(ext.module);
    WritePrivateProfileStringA("MAIN", "Language", nullptr, "QRVTAVRK.INI");
    DeleteFileA(kLanguageFile);
    printf("8 threads: %ld texts (%ld wrong)\n", calls.load(), wrong.load());
    EXPECT_EQ(wrong, 0);
}

namespace {

// The lowest thread slot free now.
DWORD FirstFreeSlot()
{
    const DWORD slot = TlsAlloc();
    TlsFree(slot);
    return slot;
}

// The lowest handle value free now: handles left open would take it.
uintptr_t FirstFreeHandle()
{
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe);
}

// The blocks in use on every heap of the process.
long HeapBlocks()
{
    HANDLE heaps[64];
    const DWORD n = GetProcessHeaps(64, heaps);
    long blocks = 0;
    for (DWORD h = 0; h < n && h < 64; ++h) {
        HeapLock(heaps[h]);
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[h], &entry))
            blocks += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
        HeapUnlock(heaps[h]);
    }
    return blocks;
}

// One life of the DLL: load, initialise twice, ask, fail once, and unload,
// after the interpreter's termination or, as a plain C API program, without.
void OneLife(bool terminate)
{
    Extender ext;
    ASSERT_TRUE(ext.Load("velquor.dll"));
    Host host;
    ASSERT_EQ(HostInitialise(host, ext, nullptr), 16);
    ASSERT_EQ(HostInitialise(host, ext, nullptr), 16);
    const CApi api(ext.module);
    ASSERT_EQ(api.Sessions("alpha").compare(0, 4, "0|0|"), 0);
    ASSERT_EQ(api.Sessions("broken"), "106|1722");  // the thread's code is kept...
    ASSERT_EQ(api.Sessions("alpha").compare(0, 4, "0|0|"), 0);  // ...until its next call
    HostCall(host, ext, kEnumSessions, {""});
    if (terminate) {
        ASSERT_EQ(ext.Extender2(nullptr, 0, &host, -3, HostCompleteRequest, &host.block, 0, nullptr, 0, nullptr), 1);
    }
    FreeLibrary(ext.module);
}

}  // namespace

TEST(LoadAndUnload, AThousandLivesLeaveNothingBehind)
{
    const std::string missing = MissingForScenario("threads.ini");
    if (!missing.empty())
        GTEST_SKIP() << missing;
    // The simulator's libraries stay loaded by the test (its own runtime
    // keeps a thread slot per load); the DLL's references to them are then
    // counted by letting these go at the end.
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    HMODULE pinned[] = {LoadLibraryA((std::string(folder) + "\\wtsapi32.dll").c_str()),
                        LoadLibraryA((std::string(folder) + "\\winsta.dll").c_str())};
    for (int i = 0; i < 10; ++i)
        OneLife(i % 2);  // the runtime's and the loader's own first-use blocks
    const DWORD slot = FirstFreeSlot();
    const uintptr_t handle = FirstFreeHandle();
    const long blocks = HeapBlocks();
    for (int i = 0; i < 1000 && !HasFatalFailure(); ++i)
        OneLife(i % 2);
    printf("1000 lives: first free thread slot %lu -> %lu, handle %#lx -> %#lx, heap blocks %ld -> %ld\n", slot,
           FirstFreeSlot(), (unsigned long)handle, (unsigned long)FirstFreeHandle(), blocks, HeapBlocks());
    EXPECT_EQ(FirstFreeSlot(), slot);
    EXPECT_EQ(FirstFreeHandle(), handle);
    EXPECT_LT(HeapBlocks() - blocks, 100) << "a block a life would be 1000";
    for (HMODULE module : pinned)
        FreeLibrary(module);
    for (const char* name : {"velquor.dll", "wtsapi32.dll", "winsta.dll"})
        EXPECT_EQ(GetModuleHandleA(name), nullptr) << name;
}
