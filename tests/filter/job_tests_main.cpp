// main() of the job tests: a private /tmp first, then the tests.
#include "private_tmp.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qel_filter_test::private_tmp_setup();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    qel_filter_test::private_tmp_teardown();
    return result;
}
