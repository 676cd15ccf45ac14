// main() of the job tests: a private /tmp first, then the tests.
#include "private_tmp.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    qel_filter_test::private_tmp_setup();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    qel_filter_test::private_tmp_teardown();
    // A CTest case names its test by filter: a filter that matches nothing
    // (a renamed test) must fail rather than pass having run nothing.
    if (testing::UnitTest::GetInstance()->test_to_run_count() == 0)
    {
        std::fprintf(stderr, "no test matches the filter\n");
        return 1;
    }
    return result;
}
