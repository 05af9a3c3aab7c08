#include <gtest/gtest.h>

#include "imports.h"

namespace {

TEST(Imports, HelperTextsAreOneLineOfFixedLength) {
  EXPECT_EQ(tovix::imports::MERGE_HELPER.size(), 234u);
  EXPECT_EQ(tovix::imports::READ_HELPER.size(), 97u);
  EXPECT_EQ(tovix::imports::MERGE_HELPER.find('\n'), std::string_view::npos);
  EXPECT_EQ(tovix::imports::READ_HELPER.find('\n'), std::string_view::npos);
}

}  // namespace
