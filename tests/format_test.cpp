// The allocating formatter: named cases, replacement of the old text, and
// allocation failure.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/format.h"
#include "tests/alloc_fail.h"

namespace {

int Length(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = xFormatLength(format, args);
    va_end(args);
    return n;
}

struct Counted {
    unsigned short length, capacity;
    const void* buffer;
};

}  // namespace

TEST(FormatLength, NamedCases)
{
    EXPECT_EQ(Length(""), 0);
    EXPECT_EQ(Length("%04hu", 7), 4);
    EXPECT_EQ(Length("%04hu", 0x10007), 4);  // the short value is 7
    EXPECT_EQ(Length("%-5d", -3), 5);
    EXPECT_EQ(Length("%+d", 3), 2);
    EXPECT_EQ(Length("% d", 3), 2);
    EXPECT_EQ(Length("%#x", 0), 1);
    EXPECT_EQ(Length("%#x", 255), 4);
    EXPECT_EQ(Length("%#o", 8), 3);
    EXPECT_EQ(Length("%#o", 0), 1);
    EXPECT_EQ(Length("%#.0o", 0), 1);
    EXPECT_EQ(Length("%.0d", 0), 0);
    EXPECT_EQ(Length("%.3s", "abcdef"), 3);
    EXPECT_EQ(Length("%s", (const char*)nullptr), 6);
    EXPECT_EQ(Length("%ls", (const wchar_t*)nullptr), 6);
    EXPECT_EQ(Length("%p", (void*)1), int(2 * sizeof(void*)));  // every digit of a pointer
    EXPECT_EQ(Length("%I64u", 1ull << 32), 10);
    EXPECT_EQ(Length("%I64d", -(1ll << 40)), 14);
    EXPECT_EQ(Length("%5%"), 1);
    EXPECT_EQ(Length("%%"), 1);
    EXPECT_EQ(Length("a%yb"), 3);
    EXPECT_EQ(Length("%*d", -4, 1), 4);
    EXPECT_EQ(Length("%.*d", -1, 0), 1);  // a negative precision is unset
    EXPECT_EQ(Length("%e", 1.5), int(strlen("1.500000e+000")));
    EXPECT_EQ(Length("%#.0f", 2.0), 2);
    EXPECT_EQ(Length("%.0g", 100.0), 6);  // 1e+002
    Counted counted = {3, 8, "abc"};
    EXPECT_EQ(Length("%Z", &counted), 3);
    Counted wide = {4, 8, L"xy"};
    EXPECT_EQ(Length("%wZ", &wide), 2);
    EXPECT_EQ(Length("%Z", (Counted*)nullptr), 6);
}

TEST(FormatLength, PercentNStoresTheCountSoFar)
{
    int stored = -1;
    short shortStored = -1;
    EXPECT_EQ(Length("abc%n%hnde", &stored, &shortStored), 5);
    EXPECT_EQ(stored, 3);
    EXPECT_EQ(shortStored, 3);
}

TEST(FormatLength, NeverReadsPastATrailingLeadByte)
{
    // Under code page 932 0x82 is a lead byte; the counting pass must stop at
    // the terminator, whatever the locale.
    char text[] = {'a', char(0x82), 0, 'Z', 'Z', 0};
    EXPECT_EQ(Length(text), 2);
}

TEST(AllocPrintf, BuildsAListFromItsOwnOldText)
{
    char* list = nullptr;
    EXPECT_EQ(xAllocPrintf(&list, ""), 1);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "");
    EXPECT_EQ(xAllocPrintf(&list, "%s%lu%c", "5", 7ul, '\t'), 4);
    EXPECT_STREQ(list, "57\t");
    EXPECT_EQ(xAllocPrintf(&list, "%s%lu%c", list, 65536ul, '\t'), 10);
    EXPECT_STREQ(list, "57\t65536\t");
    *xLastChar(list) = '\0';
    EXPECT_STREQ(list, "57\t65536");
    free(list);
}

TEST(AllocPrintf, NullArgumentsChangeNothing)
{
    char* text = nullptr;
    EXPECT_EQ(xAllocPrintf(nullptr, "%d", 1), 0);
    EXPECT_EQ(xAllocPrintf(&text, nullptr), 0);
    EXPECT_EQ(text, nullptr);
    xAllocPrintf(&text, "keep");
    EXPECT_EQ(xAllocPrintf(&text, nullptr), 0);
    EXPECT_STREQ(text, "keep");
    free(text);
}

TEST(AllocPrintf, AllocationFailureFreesTheOldTextAndStoresNull)
{
    char* text = nullptr;
    xAllocPrintf(&text, "old %d", 1);
    ASSERT_NE(text, nullptr);
    FailCallocAt(1);
    EXPECT_EQ(xAllocPrintf(&text, "%s and more", text), 0);
    CountCallocs();
    EXPECT_EQ(text, nullptr);
}

TEST(LastChar, WalksMultiByteCharacters)
{
    char empty[] = "";
    EXPECT_EQ(xLastChar(empty), empty);
    char plain[] = "ab\t";
    EXPECT_EQ(xLastChar(plain), plain + 2);
}
