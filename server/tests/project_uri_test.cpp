#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "workspace/project.h"

namespace tovix_lsp::project {
namespace {

TEST(Uri, PathToUriEscapesWithUpperCaseHex) {
  struct Case {
    std::string path, uri;
  };
  const Case cases[] = {
      {"/home/u/a b.tovix", "file:///home/u/a%20b.tovix"},
      {"D:\\x", "file:///D:%5Cx"},
      {"/a#b/100%/c~d_e-f.g:h", "file:///a%23b/100%25/c~d_e-f.g:h"},
      {"/caf\xC3\xA9/\xF0\x9F\x98\x80", "file:///caf%C3%A9/%F0%9F%98%80"},
      {"/bad\xFF", "file:///bad%EF%BF%BD"},  // ill-formed bytes become U+FFFD
      {"rel/x?y", "file:///rel/x%3Fy"},
      {"", "file:///"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(path_to_uri(c.path), c.uri);
  }
}

TEST(Uri, UriToPathDecodesOnlyWholeEscapes) {
  struct Case {
    std::string uri;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {"file:///a%2Fb", "/a/b"},
      {"file:///a%2fb", "/a/b"},
      {"file:///a%zz", "/a%zz"},
      {"file:///a%4", "/a%4"},  // too short to be an escape
      {"file:///a%+F", "/a%+F"},
      {"file:///a%", "/a%"},
      {"file:///%41%25", "/A%"},  // a decoded % is not decoded again
      {"file:///x%FF", "/x\xEF\xBF\xBD"},
      // A drive letter is a Windows matter; here this stays an absolute path.
      {"file:///D:/x", "/D:/x"},
      {"file:///a:/x", "/a:/x"},
      {"file://", std::nullopt},
      {"file://host/share", std::nullopt},
      // "localhost" is this machine, the same as no authority.
      {"file://localhost/project/ui.tovix", "/project/ui.tovix"},
      {"file://LocalHost/a", "/a"},
      {"file://localhost", std::nullopt},
      {"file://localhost:80/a", std::nullopt},
      {"file://localhostx/a", std::nullopt},
      {"file:///localhost/a", "/localhost/a"},
      {"http:///a", std::nullopt},
      {"FILE:///a", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    const auto path = uri_to_path(c.uri);
    ASSERT_EQ(path.has_value(), c.path.has_value());
    if (path) {
      EXPECT_EQ(path->native(), *c.path);
    }
  }
}

TEST(Uri, RoundTrips) {
  const std::string paths[] = {
      "/home/u/my project/a b.tovix",
      "/x/#hash/50%/file.tovix",
      "/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80 \xC3\xA9.tovix",
      "/a:/x",
      "/tab\there/%41",
  };
  for (const std::string& p : paths) {
    SCOPED_TRACE(p);
    const auto back = uri_to_path(path_to_uri(p));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->native(), p);
  }
}

TEST(Uri, SameFile) {
  struct Case {
    const char *a, *b;
    bool same;
  };
  const Case cases[] = {
      {"file:///a/b", "file:///a//b/", true},        {"file:///a/b", "file:///a/./b", true},
      {"file:///Abc", "file:///%41bc", true},        {"file:///a/b", "file:///a/B", false},
      {"file:///a/../b", "file:///b", false},        {"untitled:1", "untitled:1", true},
      {"untitled:1", "untitled:01", false},          {"untitled:/a", "file:///a", false},
      {"file://localhost/a/b", "file:///a/b", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
    EXPECT_EQ(same_file(c.a, c.b), c.same);
    EXPECT_EQ(same_file(c.b, c.a), c.same);
  }
}

}  // namespace
}  // namespace tovix_lsp::project
