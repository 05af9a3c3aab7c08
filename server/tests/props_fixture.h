#pragma once

// A file whose generated props tables luau-lsp finds fault with, though the
// source spells none of them: `Card({ Title = 5 })`, `Card({})`, a table
// over several lines, a component among the children of a merge call; and
// class elements, a fragment's siblings and a spread around them.

namespace tovix_lsp::testing_support {

inline constexpr const char* PROPS_TABLES =
    "--!strict\n"
    "local create: any = nil\n"
    "local function Card(props: { Title: string })\n"
    "  return <TextLabel Text={props.Title} />\n"
    "end\n"
    "local a = <Card Title={5}/>\n"
    "local b = <Card/>\n"
    "local c = <Frame>\n"
    "  <Card\n"
    "    Title={true}\n"
    "  />\n"
    "</Frame>\n"
    "local d = <Frame {a} Name=\"x\"><Card/></Frame>\n"
    "local f = <><Frame/><Frame/></>\n"
    "return { a, b, c, d, f }\n";

}  // namespace tovix_lsp::testing_support
