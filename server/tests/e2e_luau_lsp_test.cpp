// The child bridge over the wire with the real luau-lsp: its diagnostics,
// hovers, definitions, references and renames land on the .tovix source,
// never on generated code.

#include <filesystem>

#include <gtest/gtest.h>

#include "editor_session.h"
#include "marked_text.h"

namespace tovix_lsp {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::EditorSession;
using testing::position_of;
using testing::range_of;
using testing::SessionOptions;
using testing_support::MarkedText;

const fs::path LUAU_LSP = TOVIX_LUAU_LSP;

#define SKIP_WITHOUT_LUAU_LSP() \
  if (!fs::exists(LUAU_LSP)) GTEST_SKIP() << "the real luau-lsp is not at " << LUAU_LSP

SessionOptions with_luau_lsp() {
  SessionOptions options;
  options.tovix = {{"luauLsp", {{"path", LUAU_LSP.string()}}}};
  return options;
}

TEST(LuauLspE2E, Explore) {
  SKIP_WITHOUT_LUAU_LSP();
  EditorSession s(with_luau_lsp());
  const std::string text =
      "--!strict\nlocal create: any = nil\nlocal count: number = \"one\"\nlocal function label(text: string)\n  return "
      "<TextLabel Text={text} />\nend\nreturn <Frame>{label(42)}</Frame>\n";
  const std::string uri = s.open("a.tovix", text);
  auto d = s.diagnostics(uri, [](const json& l) { return !l.empty(); });
  s.pump(std::chrono::seconds(5));
  for (const json& m : s.history()) std::cout << m.dump() << "\n";
}

}  // namespace
}  // namespace tovix_lsp
