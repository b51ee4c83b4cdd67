// The load-time platform record: version classification, and the whole
// attach path under Wine's per-program Windows versions.
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/platform.h"
#include "tests/dll.h"
#include "tests/registry.h"

namespace {

struct Flags {
    DWORD xp, w2003, other;
};

Flags Classify(DWORD platform, DWORD major, DWORD minor)
{
    PlatformRecord r;
    memset(&r, 0xAB, sizeof r);  // stale flags must be overwritten
    r.VersionInfo.dwPlatformId = platform;
    r.VersionInfo.dwMajorVersion = major;
    r.VersionInfo.dwMinorVersion = minor;
    xClassifyPlatform(&r);
    return {r.IsWinXP, r.IsWin2003, r.IsNTOther};
}

#define EXPECT_FLAGS(platform, major, minor, wantXp, want2003, wantOther)          \
    do {                                                                             \
        Flags f = Classify(platform, major, minor);                                  \
        EXPECT_EQ(f.xp, DWORD(wantXp)) << platform << ":" << major << "." << minor;   \
        EXPECT_EQ(f.w2003, DWORD(want2003)) << platform << ":" << major << "." << minor; \
        EXPECT_EQ(f.other, DWORD(wantOther)) << platform << ":" << major << "." << minor; \
    } while (0)

}  // namespace

TEST(Classifier, NamedNtVersionsSetNoFlagExceptXpAnd2003)
{
    EXPECT_FLAGS(2, 3, 51, 0, 0, 0);
    EXPECT_FLAGS(2, 4, 0, 0, 0, 0);
    EXPECT_FLAGS(2, 5, 0, 0, 0, 0);
    EXPECT_FLAGS(2, 5, 1, 1, 0, 0);
    EXPECT_FLAGS(2, 5, 2, 0, 1, 0);
}

TEST(Classifier, EveryOtherNtVersionIsOther)
{
    EXPECT_FLAGS(2, 3, 50, 0, 0, 1);
    EXPECT_FLAGS(2, 3, 10, 0, 0, 1);
    EXPECT_FLAGS(2, 3, 0, 0, 0, 1);
    EXPECT_FLAGS(2, 4, 1, 0, 0, 1);
    EXPECT_FLAGS(2, 4, 90, 0, 0, 1);
    EXPECT_FLAGS(2, 5, 3, 0, 0, 1);
    EXPECT_FLAGS(2, 6, 0, 0, 0, 1);
    EXPECT_FLAGS(2, 6, 1, 0, 0, 1);
    EXPECT_FLAGS(2, 6, 3, 0, 0, 1);
    EXPECT_FLAGS(2, 10, 0, 0, 0, 1);
    EXPECT_FLAGS(2, 2, 0, 0, 0, 1);
    EXPECT_FLAGS(2, 0, 0, 0, 0, 1);
}

TEST(Classifier, OtherPlatformsSetNoFlag)
{
    for (DWORD platform : {0u, 1u, 3u}) {
        EXPECT_FLAGS(platform, 5, 1, 0, 0, 0);
        EXPECT_FLAGS(platform, 5, 2, 0, 0, 0);
        EXPECT_FLAGS(platform, 6, 1, 0, 0, 0);
        EXPECT_FLAGS(platform, 4, 10, 0, 0, 0);
    }
}

TEST(Attach, OnlyProcessAttachDoesAnything)
{
    PlatformRecord r;
    memset(&r, 0x5A, sizeof r);
    const PlatformRecord before = r;
    for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
        EXPECT_TRUE(xPlatformAttach(&r, GetModuleHandleA(nullptr), reason));
    EXPECT_EQ(memcmp(&r, &before, sizeof r), 0);

    memset(&r, 0, sizeof r);
    HMODULE self = GetModuleHandleA(nullptr);
    EXPECT_TRUE(xPlatformAttach(&r, self, DLL_PROCESS_ATTACH));
    EXPECT_EQ(r.ModuleHandle, self);
    EXPECT_EQ(r.VersionInfo.dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXA));
    EXPECT_NE(r.VersionInfo.dwMajorVersion, 0u);
}

namespace {

struct Emulated {
    const char* name;
    DWORD platform, major, minor;
    Flags flags;
    int present;  // presence answer; -1: taken from the registry
};

const Emulated kEmulated[] = {
    {"win98", 1, 4, 10, {0, 0, 0}, 0},
    {"nt40", 2, 4, 0, {0, 0, 0}, -1},
    {"win2k", 2, 5, 0, {0, 0, 0}, 0},  // no single-user suite reported
    {"winxp", 2, 5, 1, {1, 0, 0}, 1},
    {"win2003", 2, 5, 2, {0, 1, 0}, 1},
    {"win7", 2, 6, 1, {0, 0, 1}, 1},
    {"win10", 2, 6, 2, {0, 0, 1}, 1},
};

const Emulated* CurrentEmulation()
{
    const char* v = getenv("VELQUOR_EMULATED");
    if (!v)
        return nullptr;
    for (const Emulated& e : kEmulated)
        if (strcmp(e.name, v) == 0)
            return &e;
    return nullptr;
}

typedef BOOL(WINAPI* PresentFn)(void);

}  // namespace

// Every version the build emulates has its expectations here.
TEST(Emulated, EveryEmulatedVersionIsDescribed)
{
    std::string list = VELQUOR_EMULATED_LIST;
    for (size_t at = 0; at <= list.size();) {
        const size_t comma = list.find(',', at) == std::string::npos ? list.size() : list.find(',', at);
        const std::string name = list.substr(at, comma - at);
        bool found = false;
        for (const Emulated& e : kEmulated)
            found |= name == e.name;
        EXPECT_TRUE(found) << name;
        at = comma + 1;
    }
}

TEST(Emulated, AttachRecordsTheEmulatedVersion)
{
    const Emulated* e = CurrentEmulation();
    if (!e)
        GTEST_SKIP() << "runs only as an emulated copy";
    PlatformRecord r;
    memset(&r, 0, sizeof r);
    xPlatformAttach(&r, GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH);
    EXPECT_EQ(r.VersionInfo.dwPlatformId, e->platform);
    EXPECT_EQ(r.VersionInfo.dwMajorVersion, e->major);
    EXPECT_EQ(r.VersionInfo.dwMinorVersion, e->minor);
    EXPECT_EQ(r.IsWinXP, e->flags.xp);
    EXPECT_EQ(r.IsWin2003, e->flags.w2003);
    EXPECT_EQ(r.IsNTOther, e->flags.other);
}

TEST(Emulated, PresenceFollowsTheVersion)
{
    const Emulated* e = CurrentEmulation();
    if (!e)
        GTEST_SKIP() << "runs only as an emulated copy";
    auto present = DllExport<PresentFn>("_QRVTS_IsTerminalServiceProductPresent@0");
    ASSERT_NE(present, nullptr);
    ProductSuiteValue restore;
    if (e->present >= 0) {
        // Later versions ignore the registry list entirely.
        ASSERT_TRUE(ProductSuiteValue::Set(std::string("Terminal Server\0\0", 17)));
        EXPECT_EQ(present() != 0, e->present != 0);
        ProductSuiteValue::Remove();
        EXPECT_EQ(present() != 0, e->present != 0);
        return;
    }
    ASSERT_TRUE(ProductSuiteValue::Set(std::string("Small Business\0Terminal Server\0\0", 32)));
    EXPECT_EQ(present(), TRUE);
    ASSERT_TRUE(ProductSuiteValue::Set(std::string("Small Business\0\0", 16)));
    EXPECT_EQ(present(), FALSE);
    ProductSuiteValue::Remove();
    EXPECT_EQ(present(), FALSE);
}
