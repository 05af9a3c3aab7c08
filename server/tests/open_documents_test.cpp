#include "core/open_documents.h"

#include <gtest/gtest.h>

namespace tovix_lsp::open_documents {
namespace {

TEST(OpenDocuments, OpenReplaceClose) {
  OpenDocuments docs;
  EXPECT_EQ(docs.get("file:///none"), nullptr);

  OpenDocument& first = docs.open("file:///a", "old", 1);
  first.generated_uri = "file:///a.luau";
  first.child.open = true;
  first.stale = true;
  // Opened again: the same record, with the new text and version.
  OpenDocument& again = docs.open("file:///a", "new\n\xff", 5);
  docs.open("file:///A", "other", 1);  // keys are exact strings
  EXPECT_EQ(&again, &first);
  ASSERT_EQ(docs.get("file:///a"), &first);
  EXPECT_EQ(first.document.text(), "new\n\xef\xbf\xbd");  // repaired as on a first open
  EXPECT_EQ(first.document.index().line_count(), 2u);
  EXPECT_EQ(first.document.version(), 5);
  EXPECT_EQ(first.generated_uri, "file:///a.luau");
  EXPECT_TRUE(first.child.open);
  EXPECT_TRUE(first.stale);
  EXPECT_EQ(docs.uris().size(), 2u);

  docs.close("file:///a");
  docs.close("file:///a");
  EXPECT_EQ(docs.get("file:///a"), nullptr);
  EXPECT_EQ(docs.uris(), std::vector<std::string>{"file:///A"});
}

}  // namespace
}  // namespace tovix_lsp::open_documents
