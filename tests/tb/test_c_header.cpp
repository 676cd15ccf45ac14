// The public header used from a C translation unit links and works.
#include <gtest/gtest.h>

extern "C" int qel_tb_c_header_check(void);

TEST(CHeader, CompilesAndLinksFromC)
{
    EXPECT_EQ(qel_tb_c_header_check(), 24 + 255);
}
