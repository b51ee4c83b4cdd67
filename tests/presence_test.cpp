// The product-suite test against the real registry of the test prefix.
#include <string>

#include "tests/dll.h"
#include "tests/registry.h"

namespace {

typedef BOOL(WINAPI* ValidateFn)(LPCSTR);

class SuiteList : public ::testing::Test {
protected:
    ValidateFn validate = DllExport<ValidateFn>("_QRVTS_ValidateProductSuite@4");
    ProductSuiteValue restore;

    BOOL With(const std::string& data, const char* name, DWORD type = REG_MULTI_SZ)
    {
        EXPECT_TRUE(ProductSuiteValue::Set(data, type));
        return validate(name);
    }
};

const std::string kList("Enterprise\0Terminal Server\0Small Business\0\0", 43);

}  // namespace

TEST_F(SuiteList, FindsEveryListedNameExactly)
{
    ASSERT_NE(validate, nullptr);
    EXPECT_EQ(With(kList, "Enterprise"), TRUE);
    EXPECT_EQ(With(kList, "Terminal Server"), TRUE);
    EXPECT_EQ(With(kList, "Small Business"), TRUE);
    EXPECT_EQ(With(kList, "terminal server"), FALSE);  // case matters
    EXPECT_EQ(With(kList, "Terminal"), FALSE);         // a prefix is not a match
    EXPECT_EQ(With(kList, "Terminal Server2"), FALSE);
    EXPECT_EQ(With(kList, ""), FALSE);  // the list's end is no entry
}

TEST_F(SuiteList, EmptyOrWrongTypeOrMissingGivesNo)
{
    ASSERT_NE(validate, nullptr);
    EXPECT_EQ(With(std::string("\0", 1), "Terminal Server"), FALSE);
    EXPECT_EQ(With(std::string(), "Terminal Server"), FALSE);
    EXPECT_EQ(With(std::string("Terminal Server\0", 16), "Terminal Server", REG_SZ), FALSE);
    EXPECT_EQ(With(std::string("Terminal Server\0", 16), "Terminal Server", REG_BINARY), FALSE);
    ProductSuiteValue::Remove();
    EXPECT_EQ(validate("Terminal Server"), FALSE);
    restore.RemoveKey();
    EXPECT_EQ(validate("Terminal Server"), FALSE);
}

TEST_F(SuiteList, UnterminatedDataStopsAtItsEnd)
{
    ASSERT_NE(validate, nullptr);
    // The last string has no NUL and no empty string follows: it is
    // compared only up to the end of the data.
    EXPECT_EQ(With(std::string("Enterprise\0Terminal Server", 26), "Terminal Server"), TRUE);
    EXPECT_EQ(With(std::string("Enterprise\0Terminal Serv", 24), "Terminal Server"), FALSE);
    EXPECT_EQ(With(std::string("Terminal Server", 15), "Terminal Server"), TRUE);
    // One string ended by its NUL but no closing empty string.
    EXPECT_EQ(With(std::string("Enterprise\0", 11), "Enterprise"), TRUE);
    EXPECT_EQ(With(std::string("Enterprise\0", 11), "Terminal Server"), FALSE);
}
