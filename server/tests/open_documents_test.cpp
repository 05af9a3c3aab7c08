#include "core/open_documents.h"

#include <gtest/gtest.h>

namespace tovix_lsp::open_documents {
namespace {

TEST(OpenDocuments, OpenReplaceClose) {
  OpenDocuments docs;
  EXPECT_EQ(docs.get("file:///none"), nullptr);

  docs.open("file:///a", "old", 1).generated_uri = "file:///a.luau";
  docs.open("file:///a", "new", 5);    // reopening starts afresh
  docs.open("file:///A", "other", 1);  // keys are exact strings
  ASSERT_NE(docs.get("file:///a"), nullptr);
  EXPECT_EQ(docs.get("file:///a")->document.text(), "new");
  EXPECT_EQ(docs.get("file:///a")->document.version(), 5);
  EXPECT_EQ(docs.get("file:///a")->generated_uri, "");
  EXPECT_EQ(docs.uris().size(), 2u);

  docs.close("file:///a");
  docs.close("file:///a");
  EXPECT_EQ(docs.get("file:///a"), nullptr);
  EXPECT_EQ(docs.uris(), std::vector<std::string>{"file:///A"});
}

}  // namespace
}  // namespace tovix_lsp::open_documents
