#include "core/open_documents.h"

#include <gtest/gtest.h>

namespace tovix_lsp::open_documents {
namespace {

TEST(OpenDocuments, OpenReplaceClose) {
  OpenDocuments docs;
  EXPECT_EQ(docs.get("file:///none"), nullptr);

  OpenDocument& first = docs.open("file:///a", "old", 1);
  docs.set_generated_uri(first, "file:///a.luau");
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
  EXPECT_EQ(first.generated_uri(), "file:///a.luau");
  EXPECT_TRUE(first.child.open);
  EXPECT_TRUE(first.stale);
  EXPECT_EQ(docs.uris().size(), 2u);

  docs.close("file:///a");
  docs.close("file:///a");
  EXPECT_EQ(docs.get("file:///a"), nullptr);
  EXPECT_EQ(docs.uris(), std::vector<std::string>{"file:///A"});
}

// A document is found by any spelling of its own file or its generated
// file's, and the index follows every change of the entries: a generated
// URI set again, a document opened again, closed, or sharing its generated
// file with another.
TEST(OpenDocuments, FoundByTheFilesTheyName) {
  OpenDocuments docs;
  OpenDocument& a = docs.open("file:///p/a.tovix", "", 1);
  OpenDocument& b = docs.open("file:///p/b.tovix", "", 1);
  docs.open("untitled:1", "", 1);
  docs.set_generated_uri(a, "file:///p/out/a.luau");
  docs.set_generated_uri(b, "file:///p/out/b.luau");
  struct Case {
    const char* uri;
    const OpenDocument* generated;  // by_generated
    const OpenDocument* named;      // naming
  } cases[] = {
      {"file:///p/out/a.luau", &a, &a},
      {"file:///p//out/./a.luau", &a, &a},
      {"file://localhost/p/out/%61.luau", &a, &a},
      {"file:///p/out/b.luau", &b, &b},
      {"file:///p/a.tovix", nullptr, &a},
      {"file:///p/./b.tovix", nullptr, &b},
      {"file:///P/out/a.luau", nullptr, nullptr},  // case matters
      {"file:///p/out/c.luau", nullptr, nullptr},
      {"untitled:1", nullptr, docs.get("untitled:1")},
      {"untitled:2", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    EXPECT_EQ(docs.by_generated(c.uri), c.generated);
    EXPECT_EQ(docs.naming(c.uri), c.named);
  }

  docs.set_generated_uri(a, "file:///p/out2/a.luau");
  EXPECT_EQ(docs.by_generated("file:///p/out/a.luau"), nullptr);
  EXPECT_EQ(docs.by_generated("file:///p/out2//a.luau"), &a);
  docs.open("file:///p/a.tovix", "again", 2);
  EXPECT_EQ(docs.by_generated("file:///p/out2/a.luau"), &a);
  docs.set_generated_uri(a, "");
  EXPECT_EQ(docs.by_generated("file:///p/out2/a.luau"), nullptr);
  EXPECT_EQ(docs.by_generated(""), nullptr);

  // Two spellings of one file open as two documents with one generated file.
  OpenDocument& twin = docs.open("file:///p//b.tovix", "", 1);
  docs.set_generated_uri(twin, "file:///p/out/b.luau");
  docs.close("file:///p/b.tovix");
  EXPECT_EQ(docs.by_generated("file:///p/out/b.luau"), &twin);
  EXPECT_EQ(docs.naming("file:///p/b.tovix"), &twin);
  docs.close("file:///p//b.tovix");
  EXPECT_EQ(docs.by_generated("file:///p/out/b.luau"), nullptr);
  EXPECT_EQ(docs.naming("file:///p/b.tovix"), nullptr);
}

}  // namespace
}  // namespace tovix_lsp::open_documents
