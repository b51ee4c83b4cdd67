// A test of the real velquor.dll driven through the host, against the
// simulator: loads it, and offers calls, message texts and exports.
#pragma once
#include "host/exportname.h"
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "include/velquor_errors.h"
#include "tests/settings.h"
#include "tests/simlog.h"

class RealDllTest : public ::testing::Test {
protected:
    Host host;
    Extender ext;

    void SetUp() override { ASSERT_TRUE(ext.Load("velquor.dll")); }

    // Initialises the extender and starts from an empty last-error record.
    void Initialise()
    {
        std::string message;
        ASSERT_EQ(HostInitialise(host, ext, &message), 16) << message;
        ClearLastErrorRecord();
    }
    Completion Call(int32_t request, std::vector<const char*> args = {}, Host* on = nullptr)
    {
        Host& h = on ? *on : host;
        HostCall(h, ext, request, args);
        return h.completion;
    }
    // A script function by its name in the DLL's own function table.
    Completion Call(const char* function, std::vector<const char*> args = {}, Host* on = nullptr)
    {
        Host reader;
        const int32_t request = HostFindFunction(HostReadTable(reader, ext), function);
        EXPECT_NE(request, 0) << "the DLL has no function " << function;
        return Call(request, args, on);
    }
    std::string Message(int number)
    {
        char text[300];
        ext.LoadString(ext.module, UINT(number), text, sizeof text);
        return text;
    }
    void ExpectError(const Completion& c, int number)
    {
        EXPECT_EQ(c.status, -1);
        EXPECT_EQ(c.value.text, Message(number));
    }
    template <class Fn>
    Fn Api(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ext.module, ExportName(name).c_str())));
    }
};

// What a test run by hand lacks to run against the simulator serving
// `scenario`; empty when nothing is missing.
inline std::string MissingForScenario(const char* scenario)
{
    const char* given = getenv("VELQUOR_SCENARIO");
    if (given && strstr(given, scenario))
        return "";
    return std::string("needs the simulator serving tests/scenarios/") + scenario +
           ": run with WINEDLLOVERRIDES=wtsapi32,winsta,netapi32=n VELQUOR_SCENARIO=Z:<checkout>/tests/scenarios/" +
           scenario + " (as ctest does)";
}

// Whether the terminal-services library in the process is the simulator's.
inline bool SimulatorLoaded()
{
    HMODULE wts = GetModuleHandleA("wtsapi32.dll");
    return wts && GetProcAddress(wts, "VelquorSimulator");
}

const char kSimulatorMissing[] =
    "needs the simulator's wtsapi32.dll in the prefix's system folder (the build's wineprefix target puts it "
    "there): run with WINEDLLOVERRIDES=wtsapi32,winsta,netapi32=n";

// A real-DLL test against the simulator whose every server handle and
// platform buffer must be given back by the end. Started by hand without
// the simulator in place, it skips and says what it needs.
class SimulatedTest : public RealDllTest {
protected:
    SimCallLog log{::testing::UnitTest::GetInstance()->current_test_info()->name()};

    // The scenario the test runs against.
    virtual const char* Scenario() const = 0;

    void SetUp() override
    {
        const std::string missing = MissingForScenario(Scenario());
        if (!missing.empty())
            GTEST_SKIP() << missing;
        RealDllTest::SetUp();
        Initialise();
        if (!SimulatorLoaded())
            GTEST_SKIP() << kSimulatorMissing;
    }
    void TearDown() override
    {
        EXPECT_EQ(log.OpenHandles(), 0);
        EXPECT_EQ(log.OpenBuffers(), 0);
    }
};
