// The real velquor.dll through the host, against the simulator or against
// variants of it that lack entry points, or with no terminal services.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/real_dll.h"

namespace {

std::string Bin()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    *strrchr(path, '\\') = '\0';
    return path;
}

class Integration : public RealDllTest {};

bool SimulatorLoaded()
{
    HMODULE wts = GetModuleHandleA("wtsapi32.dll");
    return wts && GetProcAddress(wts, "VelquorSimulator");
}

}  // namespace

TEST_F(Integration, Simulator)
{
    EXPECT_EQ(Call(1).value.integer, 44003);  // before initialisation
    std::string message;
    ASSERT_EQ(HostInitialise(host, ext, &message), 16) << message;
    EXPECT_TRUE(SimulatorLoaded());
    EXPECT_EQ(HostReadTable(host, ext).size(), 16u);
    EXPECT_EQ(Call(3).value.integer, 1);
    for (const char* selector : {"0", "1", "2"})
        EXPECT_EQ(Call(16, {selector}).value.integer, 0);
    EXPECT_EQ(Call(17).value.text, Message(901));
    // Every script function has its handler: none answers "not yet implemented".
    for (int32_t request = 1; request <= 16; ++request) {
        Completion c = Call(request, {"", "1", "1", "t", "m", "", ""});
        EXPECT_NE(c.value.text, Message(902)) << request;
    }
    host.completionResult = -55;
    EXPECT_EQ(HostCall(host, ext, 0, {}), -55);
    EXPECT_EQ(host.completion.value.text, Message(901));
}

TEST_F(Integration, WithoutExtendedEntryPoints)
{
    ASSERT_NE(LoadLibraryA((Bin() + "\\sim-noext\\wtsapi32.dll").c_str()), nullptr);
    std::string message;
    EXPECT_EQ(HostInitialise(host, ext, &message), 16) << message;
    HMODULE wts = GetModuleHandleA("wtsapi32.dll");
    EXPECT_EQ(GetProcAddress(wts, "WTSOpenServerExA"), nullptr);
    EXPECT_EQ(Call(3).value.integer, 1);
}

TEST_F(Integration, WithoutRequiredEntryPoints)
{
    ASSERT_NE(LoadLibraryA((Bin() + "\\sim-norequired\\wtsapi32.dll").c_str()), nullptr);
    std::string message;
    EXPECT_EQ(HostInitialise(host, ext, &message), -1);
    EXPECT_EQ(message, "Unable to initialize Velquor: WTSFreeMemory() not found in WTSAPI32.DLL");
    EXPECT_EQ(Call(3).value.integer, 0);
    EXPECT_EQ(Call(5, {""}).value.text, Message(102));
}

TEST_F(Integration, NoTerminalServicesLibrary)
{
    std::string message;
    EXPECT_EQ(HostInitialise(host, ext, &message), 16) << message;  // the product is absent here
    EXPECT_EQ(GetModuleHandleA("wtsapi32.dll"), nullptr);
    EXPECT_EQ(Call(3).value.integer, 0);
    EXPECT_EQ(Call(3, {"1"}).value.integer, 0);
    for (int32_t request = 4; request <= 15; ++request)
        EXPECT_EQ(Call(request, {"", "", "", "", "", "", ""}).value.text, Message(102)) << request;
    EXPECT_EQ(Call(2, {"102"}).value.text, "102: Velquor: Terminal Services are not enabled");
}
