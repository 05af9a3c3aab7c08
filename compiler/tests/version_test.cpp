#include <gtest/gtest.h>

#include "tovix/version.h"

TEST(Version, IsTheCompilersOwn) { EXPECT_EQ(tovix::VERSION, "0.1.3"); }
