// The real DLL's process-wide state under many callers: C API calls on six
// threads while the interpreter's thread initialises and terminates; a
// language file read on eight threads while it is chosen again; a thousand
// loads and unloads that leave no thread slot, handle, library or block.
#include "host/exportname.h"
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include "include/velquor.h"
#include "tests/loops.h"
#include "tests/real_dll.h"

namespace {

template <class Fn>
Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, ExportName(name).c_str())));
}

// A server's sessions through the C API: result, the thread's code, ids.
std::string Sessions(HMODULE dll, const char* server)
{
    SessionListRecord* r = nullptr;
    const LONG result = Export<decltype(&QRVTS_EnumerateSessions)>(dll, "_QRVTS_EnumerateSessions@12")(server, 0, &r);
    std::string s = std::to_string(result) + "|" +
                    std::to_string(Export<decltype(&QRVTS_GetLastErrorCode)>(dll, "_QRVTS_GetLastErrorCode@0")());
    s += r ? std::string("|") + r->SessionIds : "";
    Export<decltype(&QRVTS_FreeBuffer)>(dll, "_QRVTS_FreeBuffer@4")(r);
    return s;
}

int32_t Terminate(Extender& ext, Host& host)
{
    return ext.Extender2(nullptr, 0, &host, -3, HostCompleteRequest, &host.block, 0, nullptr, 0, nullptr);
}

class Lifetime : public SimulatedTest {
    const char* Scenario() const override { return "threads.ini"; }
};

}  // namespace

// Every C API answer equals the one asked alone (a call after termination
// binds again); a script call after termination fails with 102.
TEST_F(Lifetime, CallsRunWhileTheInterpreterInitialisesAndTerminates)
{
    const std::string expected[] = {Sessions(ext.module, "alpha"), Sessions(ext.module, "broken")};
    std::atomic<long> calls{0}, wrong{0}, cycles{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (size_t t = 0; t < 6; ++t)
        workers.emplace_back([&, t] {
            for (size_t i = t; !stop; ++i, ++calls)
                wrong += Sessions(ext.module, i % 2 ? "broken" : "alpha") != expected[i % 2];
        });
    for (const DWORD start = GetTickCount(); cycles < 50 || GetTickCount() - start < 2000; ++cycles) {
        Initialise();
        EXPECT_EQ(Call("wtsenumsessions", {""}).status, 0);
        EXPECT_EQ(Terminate(ext, host), 1);
        ExpectError(Call("wtsenumsessions", {""}), QRVTS_NOT_ENABLED);
    }
    stop = true;
    for (std::thread& w : workers)
        w.join();
    printf("7 threads: %ld C API calls (%ld wrong), %ld cycles of -1, a call, -3\n", calls.load(), wrong.load(),
           cycles.load());
    EXPECT_EQ(wrong, 0);
    Initialise();
}

// Eight threads make their first calls at once; one makes the language be
// chosen again every fiftieth call.
TEST(Texts, EightThreadsReadTheLanguageFileWhileItIsChosenAgain)
{
    auto text = [](UINT id) { return "T" + std::to_string(id) + std::string(id % 13, '-'); };
    std::ofstream("QRVELANG.THR") << "[Velquor]\nX100=" << text(100) << "\nX910=" << text(910) << "\n";
    WritePrivateProfileStringA("MAIN", "Language", "THR", "QRVTAVRK.INI");
    Extender ext;
    ASSERT_TRUE(ext.Load("velquor.dll"));
    auto get = Export<decltype(&QRVTS_GetErrorText)>(ext.module, "_QRVTS_GetErrorText@12");
    std::atomic<long> wrong{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (UINT i = 0, id = 100; i < 2000; ++i, id = i % 2 ? 910 : 100) {
                char got[64] = "";
                wrong += get(LONG(id), got, sizeof got) != LONG(text(id).size()) || got != text(id);
                if (t == 0 && i % 50 == 0)
                    ext.LoadString(ext.module, 0, nullptr, 0);
            }
        });
    for (std::thread& t : threads)
        t.join();
    FreeLibrary(ext.module);
    WritePrivateProfileStringA("MAIN", "Language", nullptr, "QRVTAVRK.INI");
    DeleteFileA("QRVELANG.THR");
    printf("8 threads: 16000 texts (%ld wrong)\n", wrong.load());
    EXPECT_EQ(wrong, 0);
}

namespace {

// What one more thread slot, handle or heap block would show.
std::vector<uintptr_t> Resources()
{
    const DWORD slot = TlsAlloc();
    TlsFree(slot);
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    HANDLE heaps[64];
    uintptr_t blocks = 0;
    for (DWORD h = 0, n = GetProcessHeaps(64, heaps); h < n && h < 64; ++h) {
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[h], &entry))
            blocks += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
    }
    return {slot, reinterpret_cast<uintptr_t>(probe), blocks};
}

// Load, initialise twice, ask; unload after the interpreter's termination
// or, as a plain C API program does, without.
void OneLife(bool terminate)
{
    Extender ext;
    Host host;
    ASSERT_TRUE(ext.Load("velquor.dll"));
    ASSERT_EQ(HostInitialise(host, ext, nullptr) + HostInitialise(host, ext, nullptr), 32);
    ASSERT_EQ(Sessions(ext.module, "alpha").substr(0, 4), "0|0|");
    HostCall(host, ext, 5, {""});
    ASSERT_EQ(terminate ? Terminate(ext, host) : 1, 1);
    FreeLibrary(ext.module);
}

}  // namespace

// A thousand lives (fifty under emulation, where one takes three seconds):
// a thread slot, handle or block left by each would show as many.
TEST(LoadAndUnload, AThousandLivesLeaveNothingBehind)
{
    if (!MissingForScenario("threads.ini").empty())
        GTEST_SKIP() << MissingForScenario("threads.ini");
    // The test holds the simulator loaded (its runtime keeps a thread slot a
    // load); letting it go at the end shows the DLL's references are gone.
    std::vector<HMODULE> simulator;
    char path[MAX_PATH];
    const std::string folder(path, GetSystemDirectoryA(path, MAX_PATH));
    for (const char* name : {"\\wtsapi32.dll", "\\winsta.dll", "\\netapi32.dll"})
        simulator.push_back(LoadLibraryA((folder + name).c_str()));
    for (int i = 0; i < 10; ++i)
        OneLife(i % 2);  // the runtime's and the loader's own first blocks
    const std::vector<uintptr_t> before = Resources();
    const int lives = LoopLength(1000);
    for (int i = 0; i < lives && !HasFatalFailure(); ++i)
        OneLife(i % 2);
    const std::vector<uintptr_t> after = Resources();
    printf("%d lives: free thread slot %u -> %u, handle %u -> %u, heap blocks %u -> %u\n", lives, unsigned(before[0]),
           unsigned(after[0]), unsigned(before[1]), unsigned(after[1]), unsigned(before[2]), unsigned(after[2]));
    EXPECT_EQ(after[0], before[0]) << "thread slot";
    EXPECT_EQ(after[1], before[1]) << "handle";
    EXPECT_LT(after[2], before[2] + lives / 10) << "heap blocks";
    for (HMODULE module : simulator)
        FreeLibrary(module);
    for (const char* name : {"velquor.dll", "wtsapi32.dll", "winsta.dll", "netapi32.dll"})
        EXPECT_EQ(GetModuleHandleA(name), nullptr) << name;
}
