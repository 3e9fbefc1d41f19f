#pragma once

#include "tests/printers.hpp"

#include <gtest/gtest.h>

// Puts the process-wide game state back to what it is when the game has just
// started (the menu up, scores 0, ball at the centre) before each test.
class FreshGame : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};
