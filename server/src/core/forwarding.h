#pragma once

// Luau questions asked of the child, and its answers carried back: what each
// outstanding child request waits for, and how a child's answer is joined
// with what the server knew locally.

#include <nlohmann/json.hpp>

namespace tovix_lsp::forwarding {

// The local part and the child's answer as one answer: arrays are joined
// (local elements first), two hovers become the child's text, a rule and
// the local text after its last code fence (with the local range); a null
// child answer gives the local part; otherwise the child's answer wins.
// `local` is null when there is no local part.
[[nodiscard]] nlohmann::json merged(const nlohmann::json* local, nlohmann::json child);

// Whether a child's error says it does not have the document open.
[[nodiscard]] bool lost_the_document(const nlohmann::json& error);

// Adds the note that a hover comes from the last version that compiled to
// the markdown at "/contents/value", when there is one.
void add_stale_note(nlohmann::json& hover);

}  // namespace tovix_lsp::forwarding
