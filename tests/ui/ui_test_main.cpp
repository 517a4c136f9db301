#include <gtest/gtest.h>

#include "ui/application.h"

// The widgets need the application object; listing the tests does not, so
// the list can be taken without any display.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    quillon::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
