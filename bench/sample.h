#pragma once

// The shared benchmark input: a generated .tovix file.

#include <cstddef>
#include <string>

namespace tovix_bench {

// A deterministic .tovix text of about `lines` lines (≈40 bytes a line):
// plain Luau (functions, loops, comparisons, generic types, strings of every
// kind, comments) mixed with nested markup (elements with string, hole, bare
// and spread attributes, text and expression children, fragments, markup
// comments, markup nested inside holes, non-ASCII text). Only forms that the
// compiler accepts without errors: text only in TextLabel/TextButton, one
// child per line, real Roblox class and member names, components declared in
// the file. The same `lines` always gives the same text.
[[nodiscard]] std::string sample_tovix(std::size_t lines = 10000);

}  // namespace tovix_bench
