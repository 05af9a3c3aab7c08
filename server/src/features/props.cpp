#include "features/props.h"

#include <span>
#include <utility>
#include <vector>

#include "features/completion.h"
#include "workspace/protocol.h"
#include "workspace/tree.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::props {

using json = nlohmann::json;

std::optional<std::size_t> generated_call(const remap::Pair& document, line_index::ByteRange name) {
  if (!document.compiled) return std::nullopt;
  const std::string_view text = document.document->text();
  if (name.start > name.end || name.end > text.size()) return std::nullopt;
  // The compile in use may be of an older text, with lines added since.
  const std::optional<std::size_t> mapped = remap::to_output(document, name.start);
  if (!mapped) return std::nullopt;
  const std::string_view code = document.compiled->code;
  const std::string call = std::string(text.substr(name.start, name.end - name.start)) + "(";
  if (!utf8_text::is_whole(code, *mapped, call.size()) || code.substr(*mapped, call.size()) != call) {
    return std::nullopt;
  }
  return mapped;
}

std::optional<Question> question(const remap::Pair& document, const snapshot::Snapshot* snapshot, std::size_t offset,
                                 std::size_t start, const std::string& prefix) {
  if (!document.compiled || document.generated_uri.empty()) return std::nullopt;
  const std::string_view text = document.document->text();
  const std::vector<tree::Tag> tags = snapshot::tree_at(text, offset, snapshot::of(snapshot, text));
  const tree::Tag* tag = tree::innermost_at(tags, offset);
  if (!tag) return std::nullopt;
  const std::optional<std::size_t> call = generated_call(document, tag->open);
  // The call must read "Name({": the child is asked just inside the table,
  // where the props go.
  const std::string_view code = document.compiled->code;
  const std::size_t inside = call ? *call + tag->name.size() + 2 : 0;
  if (!call || inside > code.size() || code[inside - 1] != '{') return std::nullopt;
  return Question{std::string(document.generated_uri), document.compiled->code_index.position(code, inside),
                  document.document->range_at(start, start + prefix.size()), tag->name};
}

Answer from_child(const json& response, const json& range, bool snippets, std::string_view name) {
  if (protocol::member(response, "error")) return {completion::empty_list(), std::nullopt};
  const json* given = protocol::member(response, "result");
  const json result = given ? *given : json(nullptr);
  std::span<const json> items;
  if (const json* list = completion::child_items(result)) items = list->get_ref<const json::array_t&>();
  Answer answer{completion::props(items, range, snippets), std::nullopt};
  completion::keep_incomplete(result, answer.list);
  const json* answered = protocol::member(answer.list, "items");
  if (answered == nullptr || !answered->is_array() || answered->empty()) {
    answer.none_known = "<" + std::string(name) +
                        ">: luau-lsp knows of no props for this component. Either its props parameter is untyped "
                        "or typed `any`, or it is a table made callable with `__call` — which luau-lsp type-checks "
                        "but infers no argument type through. For the second, annotating the module's return with "
                        "its call signature, as in `return (M :: any) :: (props: Props) -> Instance`, makes the "
                        "props known here.";
  }
  return answer;
}

}  // namespace tovix_lsp::props
