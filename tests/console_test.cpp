#include "game/console.hpp"

#include <SFML/System/Err.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

namespace
{

// Which messages SFML repeats depends on its release, so the filter is fed
// its own: each shows once, and the repeats are counted when the game exits
// (after that, a sanitizer may have its say).
TEST(ConsoleDeathTest, ShowsEachMessageOnceAndCountsTheRepeatsAtExit)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // the sounds' OpenAL threads are running
    EXPECT_EXIT(
        {
            holdBackRepeatedErrors();
            for (int i = 0; i < 3; ++i)
                sf::err() << "A call failed.\nExpression:\n   pitch" << std::endl;
            sf::err() << "Another message" << std::endl;
            sf::err() << "A call failed.\nExpression:\n   pitch" << std::endl;
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "^A call failed.\nExpression:\n   pitch\nAnother message\nzarv: held back 3 repeats of the messages above\n");
}

} // namespace
