// A snapshot stands in for reading the text again: every markup feature must
// answer with it exactly as without it, wherever the cursor is, on texts
// that compile and texts that do not; and a snapshot of another text must
// change nothing.
#include "workspace/snapshot.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "corpus_texts.h"
#include "features/closing_tag.h"
#include "features/code_actions.h"
#include "features/completion.h"
#include "features/hover.h"
#include "features/rename.h"
#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "markup_fixtures.h"
#include "tovix/resolve.h"
#include "workspace/analysis.h"
#include "workspace/bindings.h"
#include "workspace/regions.h"
#include "workspace/tree.h"

namespace tovix_lsp::snapshot {
namespace {

using json = nlohmann::json;
using testing_support::boundaries;

// Every answer as a JSON value, so that two answers compare whole.
json as_json(const completion::Answer& answer) {
  if (const auto* list = std::get_if<completion::List>(&answer)) return {{"list", list->value}};
  if (const auto* props = std::get_if<completion::Props>(&answer))
    return {{"props", props->start}, {"prefix", props->prefix}};
  return std::holds_alternative<completion::AskLuau>(answer) ? "forward" : "empty";
}
json as_json(const hover::Answer& answer) {
  if (const auto* local = std::get_if<hover::Local>(&answer)) return {{"local", local->value}};
  if (const auto* merge = std::get_if<hover::Merge>(&answer))
    return {{"merge", merge->local.value_or(nullptr)}, {"at", merge->at}};
  return std::holds_alternative<hover::AskLuau>(answer) ? "forward" : "null";
}
json as_json(const rename::Answer& answer) {
  if (const auto* local = std::get_if<rename::Local>(&answer)) return {{"local", local->value}};
  if (const auto* forward = std::get_if<rename::AskLuau>(&answer))
    return {{"forward", forward->local.value_or("none")}};
  if (const auto* component = std::get_if<rename::Component>(&answer))
    return {{"component", component->at},
            {"open", component->open.start},
            {"local", component->local.value_or("none")}};
  return "null";
}
json as_json(const std::optional<hover::TagAt>& tag) {
  return tag ? json{{"name", tag->name}, {"range", tag->range}, {"start", tag->start}} : json();
}

// Checks every answer at every boundary of `text` with `taken` (a snapshot
// of `text`) against the same answer without it.
void expect_same_answers(const document::Document& document, const project::Project& project, const Snapshot& taken,
                         const std::vector<json>& diagnostics, const api::Api* facts) {
  const std::string& text = document.text();
  ASSERT_EQ(of(&taken, text), &taken);
  EXPECT_EQ(symbols::symbols(document, &taken), symbols::symbols(document));
  EXPECT_EQ(symbols::serialized(document, &taken), symbols::symbols(document).dump());
  EXPECT_EQ(symbols::serialized(document), symbols::symbols(document).dump());
  EXPECT_EQ(semantic_tokens::tokens(document, project, &taken), semantic_tokens::tokens(document, project));
  EXPECT_EQ(code_actions::actions(document.uri(), diagnostics, &document, &taken),
            code_actions::actions(document.uri(), diagnostics, &document));
  for (const std::size_t at : boundaries(text)) {
    SCOPED_TRACE(at);
    EXPECT_EQ(as_json(completion::complete(document, project, at, true, facts, &taken)),
              as_json(completion::complete(document, project, at, true, facts)));
    EXPECT_EQ(as_json(hover::hover(document, project, at, facts, &taken)),
              as_json(hover::hover(document, project, at, facts)));
    EXPECT_EQ(as_json(hover::definition(document, project, at, &taken)),
              as_json(hover::definition(document, project, at)));
    EXPECT_EQ(as_json(hover::tag_at(document, at, &taken)), as_json(hover::tag_at(document, at)));
    EXPECT_EQ(as_json(rename::prepare(document, project.config, at, &taken)),
              as_json(rename::prepare(document, project.config, at)));
    EXPECT_EQ(as_json(rename::rename(document, project.config, at, "Renamed", &taken)),
              as_json(rename::rename(document, project.config, at, "Renamed")));
    EXPECT_EQ(closing_tag::closing_tag(text, at, &taken), closing_tag::closing_tag(text, at));
    EXPECT_EQ(rename::luau_name(text, at, &taken), rename::luau_name(text, at));
    if (::testing::Test::HasFailure()) return;
  }
}

// The document's analysis and the snapshot taken of what it read, as the
// server keeps them.
struct Analysed {
  document::Document document;
  analysis::Analysis analysis;
  std::shared_ptr<const Snapshot> snapshot;
};
Analysed analysed(std::string text, const project::Project& project) {
  document::Document document("file:///nowhere/a.tovix", std::move(text), 1);
  analysis::Analysis analysis = analysis::Analysis::run(document, project, nullptr);
  auto taken = take(analysis.read);
  return {std::move(document), std::move(analysis), std::move(taken)};
}

TEST(Snapshot, HoldsWhatReadingTheTextAgainGives) {
  const project::Project project = project::Project::bare("/nowhere");
  std::size_t compiled = 0;
  std::size_t failed = 0;
  for (const auto& [name, text] : testing_support::corpus_files()) {
    for (const std::size_t cut : boundaries(text)) {
      const std::string prefix = text.substr(0, cut);
      SCOPED_TRACE(name + " cut at " + std::to_string(cut));
      const Analysed a = analysed(prefix, project);
      ASSERT_TRUE(a.snapshot);
      const Snapshot& taken = *a.snapshot;
      ++(a.analysis.compiled && !a.analysis.stale ? compiled : failed);
      EXPECT_EQ(taken.text, prefix);
      const std::vector<regions::Region> found = regions::regions(prefix);
      EXPECT_EQ(regions::spans(std::span<const regions::Region>(taken.markup)), regions::spans(found));
      EXPECT_EQ(tree::tree(prefix, taken.markup), tree::tree(prefix));
      EXPECT_EQ(
          taken.bindings,
          tovix::resolve::Resolver(tovix::resolve::blank_tovix_regions(prefix, blanking(prefix, found)), {}).bindings);
      EXPECT_EQ(taken.resumes, scan::resumes(prefix, found));
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(compiled, 100u);
  EXPECT_GT(failed, 100u);
}

TEST(Snapshot, FeaturesAnswerAsWithoutIt) {
  const project::Project project = project::Project::bare("/nowhere");
  const api::Api facts = testing_support::small_facts();
  for (const auto& [name, text] : testing_support::corpus_files()) {
    SCOPED_TRACE(name);
    const Analysed a = analysed(text, project);
    expect_same_answers(a.document, project, *a.snapshot, a.analysis.diagnostics, &facts);
    if (HasFailure()) return;
  }
  // Half-typed texts: each corpus text with a tag being typed on a line of
  // its own in the middle, so that the compile stops there.
  for (const auto& [name, text] : testing_support::corpus_files()) {
    const std::size_t line = text.find('\n', text.size() / 2);
    if (line == std::string::npos) continue;
    SCOPED_TRACE(name + " half-typed");
    const Analysed a = analysed(text.substr(0, line + 1) + "local zz = <Te\n" + text.substr(line + 1), project);
    EXPECT_FALSE(a.analysis.compiled && !a.analysis.stale);
    expect_same_answers(a.document, project, *a.snapshot, a.analysis.diagnostics, &facts);
    if (HasFailure()) return;
  }
}

TEST(Snapshot, FeaturesAnswerAsWithoutItOnRandomTexts) {
  const project::Project project =
      testing_support::project_with("[elements]\nTextLabel = \"Label\"\n[properties]\nall = \"camelCase\"\n");
  for (const std::string& text : testing_support::random_texts(400, 16, 11)) {
    const Analysed a = analysed(text, project);
    expect_same_answers(a.document, project, *a.snapshot, a.analysis.diagnostics, nullptr);
    if (HasFailure()) return;
  }
}

// A snapshot of another text is not used: the answers are those of the
// document's own text.
TEST(Snapshot, OfAnotherTextChangesNothing) {
  const project::Project project = project::Project::bare("/nowhere");
  const Analysed before = analysed("local Card = 1\nlocal a = <Frame><Card/></Frame>\n", project);
  const document::Document after("file:///nowhere/a.tovix", "local b = 2\nlocal a = <TextLabel/>\n", 2);
  const Snapshot* stale = before.snapshot.get();
  EXPECT_EQ(of(stale, after.text()), nullptr);
  EXPECT_EQ(of(nullptr, after.text()), nullptr);
  EXPECT_EQ(symbols::symbols(after, stale), symbols::symbols(after));
  EXPECT_EQ(semantic_tokens::tokens(after, project, stale), semantic_tokens::tokens(after, project));
  for (const std::size_t at : boundaries(after.text())) {
    EXPECT_EQ(as_json(hover::hover(after, project, at, nullptr, stale)),
              as_json(hover::hover(after, project, at, nullptr)));
    EXPECT_EQ(as_json(completion::complete(after, project, at, false, nullptr, stale)),
              as_json(completion::complete(after, project, at, false, nullptr)));
  }
}

}  // namespace
}  // namespace tovix_lsp::snapshot
