// The real velquor.dll through the host, against the simulator or against
// the simulator lacking entry points (VELQUOR_SIM_MISSING), or with no terminal services.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "velquor_version.h"
#include "tests/real_dll.h"

namespace {

// Each case needs the simulator, but the one without any terminal-services
// library, which needs that library disabled; run by hand without them, a
// case skips and says so.
class Integration : public RealDllTest {
protected:
    void SetUp() override
    {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const char* overrides = getenv("WINEDLLOVERRIDES");
        if (test == "NoTerminalServicesLibrary") {
            if (!overrides || !strstr(overrides, "wtsapi32=d"))
                GTEST_SKIP() << "needs the terminal-services library disabled: run with WINEDLLOVERRIDES=wtsapi32=d";
        } else if (!overrides || !strstr(overrides, "wtsapi32,winsta,netapi32=n") || !getenv("VELQUOR_SCENARIO")) {
            GTEST_SKIP() << kSimulatorMissing << " VELQUOR_SCENARIO=Z:<checkout>/tests/scenarios/basic.ini";
        }
        RealDllTest::SetUp();
    }
};

}  // namespace

TEST_F(Integration, Simulator)
{
    EXPECT_EQ(Call("wtsversion").value.integer, VELQUOR_VERSION_1);  // before initialisation
    std::string message;
    ASSERT_EQ(HostInitialise(host, ext, &message), 16) << message;
    EXPECT_TRUE(SimulatorLoaded());
    EXPECT_EQ(HostReadTable(host, ext).size(), 16u);
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 1);
    for (const char* selector : {"0", "1", "2"})
        EXPECT_EQ(Call("wtsiscitrixenabled", {selector}).value.integer, 0);
    EXPECT_EQ(Call(17).value.text, Message(QRVTS_UNKNOWN_FUNCTION));
    // Every script function has its handler: none answers "not yet implemented".
    for (int32_t request = 1; request <= 16; ++request) {
        Completion c = Call(request, {"", "1", "1", "t", "m", "", ""});
        EXPECT_NE(c.value.text, Message(QRVTS_NOT_IMPLEMENTED)) << request;
    }
    host.completionResult = -55;
    EXPECT_EQ(HostCall(host, ext, 0, {}), -55);
    EXPECT_EQ(host.completion.value.text, Message(QRVTS_UNKNOWN_FUNCTION));
}

TEST_F(Integration, WithoutExtendedEntryPoints)
{
    std::string message;
    EXPECT_EQ(HostInitialise(host, ext, &message), 16) << message;
    HMODULE wts = GetModuleHandleA("wtsapi32.dll");
    EXPECT_EQ(GetProcAddress(wts, "WTSOpenServerExA"), nullptr);
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 1);
}

TEST_F(Integration, WithoutRequiredEntryPoints)
{
    std::string message;
    EXPECT_EQ(HostInitialise(host, ext, &message), -1);
    EXPECT_EQ(message, "Unable to initialize Velquor: WTSFreeMemory() not found in WTSAPI32.DLL");
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 0);
    EXPECT_EQ(Call("wtsenumsessions", {""}).value.text, Message(QRVTS_NOT_ENABLED));
}

TEST_F(Integration, NoTerminalServicesLibrary)
{
    std::string message;
    EXPECT_EQ(HostInitialise(host, ext, &message), 16) << message;  // the product is absent here
    EXPECT_EQ(GetModuleHandleA("wtsapi32.dll"), nullptr);
    EXPECT_EQ(Call("wtsistsenabled").value.integer, 0);
    EXPECT_EQ(Call("wtsistsenabled", {"1"}).value.integer, 0);
    for (int32_t request = 4; request <= 15; ++request)
        EXPECT_EQ(Call(request, {"", "", "", "", "", "", ""}).value.text, Message(QRVTS_NOT_ENABLED)) << request;
    const std::string number = std::to_string(QRVTS_NOT_ENABLED);
    EXPECT_EQ(Call("wtslasterrmsg", {number.c_str()}).value.text, Message(QRVTS_NOT_ENABLED));
}

// The file's properties: the version resource, read back with the version API.
TEST_F(Integration, VersionResource)
{
    char path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(ext.module, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, &data[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = (DWORD(VELQUOR_VERSION_1) << 16) | VELQUOR_VERSION_2;
    const DWORD low = (DWORD(VELQUOR_VERSION_3) << 16) | VELQUOR_VERSION_4;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(translation[0], 1033);
    const char* const strings[][2] = {{"FileVersion", VELQUOR_VERSION_TEXT},
                                      {"ProductVersion", VELQUOR_VERSION_TEXT},
                                      {"ProductName", "Velquor"},
                                      {"InternalName", "velquor.dll"},
                                      {"OriginalFilename", "velquor.dll"},
                                      {"FileDescription", "Velquor terminal-services extender and C API"}};
    for (const auto& s : strings) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\040904B0\\") + s[0];
        ASSERT_TRUE(VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << s[0];
        EXPECT_STREQ(value, s[1]);
    }
}
