#include <gtest/gtest.h>

TEST(Server, Builds) { SUCCEED(); }
