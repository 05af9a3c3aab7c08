#pragma once

// The statement grammar of Luau and its recovery: a statement that cannot be
// parsed is reported and skipped up to the next token that can start one, so
// that everything after a typo is still in the tree.

#include "tovix/luau/ast.h"
#include "tovix/luau/cursor.h"

namespace tovix::luau::statements {

// Block ::= {Stat [';']} [ReturnStat [';']]
// Stops at 'end', 'else', 'elseif', 'until' or the end of the text.
[[nodiscard]] ast::StatBlock* parse_block(cursor::Cursor& c);

// Chunk ::= Block <eof>. A stray closing keyword is reported and skipped, and
// the block goes on after it.
[[nodiscard]] ast::StatBlock* parse_chunk(cursor::Cursor& c);

}  // namespace tovix::luau::statements
