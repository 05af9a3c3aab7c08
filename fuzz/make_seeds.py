#!/usr/bin/env python3
"""Writes the generated seeds of the whole-path fuzz targets.

  python3 fuzz/make_seeds.py

editor_input: for every method the server announces (and every notification
it handles), a short session on a small .tovix document asking it with
realistic params, in both of the target's input forms (bodies split at 0x1E,
and the framed stream as it is): <method>.framed and <method>.raw.

child_output: sessions of a child answering what the server asked of it
(see the header of child_output.cpp for the flag byte and the "fuzz/editor"
actions; the child ids of the usual requests are listed in USUAL below).

Seeds written by hand beside these are left alone.
"""
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CWD = "file:///proc/self/fd/987/"


def body(message):
    return json.dumps(message, ensure_ascii=False, separators=(",", ":")).encode()


def child_body(message):
    """As luau-lsp writes a message: compact, members in ascending order (the
    form the child's reader takes publications as text in)."""
    return json.dumps(message, ensure_ascii=False, separators=(",", ":"), sort_keys=True).encode()


def framed_form(messages):
    """Bodies split at 0x1E behind an odd first byte."""
    return b"1" + b"\x1e".join(body(m) if not isinstance(m, bytes) else m for m in messages)


def raw_form(messages, first=b"0", encode=body):
    """The stream itself behind an even first byte."""
    out = first
    for m in messages:
        b = encode(m) if not isinstance(m, bytes) else m
        out += b"Content-Length: %d\r\n\r\n" % len(b) + b
    return out


def write(target, name, data):
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def pos(line, character):
    return {"line": line, "character": character}


def rng(l1, c1, l2, c2):
    return {"start": pos(l1, c1), "end": pos(l2, c2)}


# ---------------------------------------------------------------- editor_input

UI = CWD + "ui.tovix"
UI_TEXT = (
    'local vide = require(script.Parent.vide)\n'           # 0
    'local create = vide.create\n'                         # 1
    'local name = vide.source("x")\n'                      # 2
    '\n'                                                   # 3
    'local function Card(props: { title: string })\n'      # 4
    '\treturn <TextLabel Text={props.title} />\n'          # 5
    'end\n'                                                # 6
    '\n'                                                   # 7
    'return <Frame Size={UDim2.fromScale(1, 1)}>\n'        # 8
    '\t<TextLabel Text={name} TextSize={14} />\n'          # 9
    '\t<Card title="héllo 😀" />\n'                        # 10
    '\t<Txtlabel Visible={true} />\n'                      # 11
    '\t<TextButton Activated={function() end}>\n'          # 12
    '\t</TextButton>\n'                                    # 13
    '</Frame>\n'                                           # 14
)


def req(id, method, params):
    return {"jsonrpc": "2.0", "id": id, "method": method, "params": params}


def note(method, params):
    return {"jsonrpc": "2.0", "method": method, "params": params}


def at(line, character, uri=UI):
    return {"textDocument": {"uri": uri}, "position": pos(line, character)}


LUAU_SETTINGS = {
    "platform": {"type": "roblox"},
    "types": {"roblox": True, "robloxSecurityLevel": "PluginSecurity", "definitionFiles": ["extra.d.luau"]},
    "fflags": {"enableByDefault": True, "enableNewSolver": True, "override": {"FFlagLuauExample": "true"}},
    "server": {"path": "/usr/bin/luau-lsp"},
}
TOVIX_SETTINGS = {"luauLsp": {"path": ""}, "trace": {"server": "off"}}

PRELUDE = [
    req(1, "initialize", {
        "processId": None,
        "rootUri": CWD,
        "capabilities": {
            "general": {"positionEncodings": ["utf-16"]},
            "textDocument": {"completion": {"completionItem": {"snippetSupport": True}}, "diagnostic": {}},
            "workspace": {"diagnostics": {}, "configuration": True},
        },
        "initializationOptions": {"fflags": {"LuauEditorFlag": "true"}},
    }),
    note("initialized", {}),
    {"jsonrpc": "2.0", "id": 1, "result": [LUAU_SETTINGS, TOVIX_SETTINGS]},
    note("textDocument/didOpen", {"textDocument": {"uri": UI, "languageId": "tovix", "version": 1, "text": UI_TEXT}}),
]

# Cursors worth asking at: a tag name, an attribute name, an attribute value,
# a hole, a component, a closing tag, Luau, the end, past the end.
CURSORS = [(9, 3), (9, 12), (9, 19), (8, 25), (10, 3), (13, 5), (2, 8), (14, 8), (15, 0), (3, 0), (99, 0)]


def at_cursors(method, extra=None, start=10):
    out = []
    for i, (line, character) in enumerate(CURSORS):
        params = at(line, character)
        if extra:
            params.update(extra)
        out.append(req(start + i, method, params))
    return out


def editor_seeds():
    diagnostic = {
        "range": rng(11, 1, 11, 9), "severity": 1, "source": "tovix",
        "message": "<Txtlabel> is not a Roblox class and is not defined",
        "data": {"kind": "element", "candidates": ["TextLabel"], "range": rng(11, 2, 11, 10)},
    }
    sessions = {
        "initialize": [req(7, "initialize", {"capabilities": {}}), req("again", "initialize", None)],
        "shutdown": at_cursors("textDocument/hover")[:2] + [req(50, "shutdown", None), req(51, "textDocument/hover", at(9, 3))],
        "exit": [req(50, "shutdown", None), note("exit", None)],
        "closing_tag": [req(10 + i, "tovix/closingTag", at(l, c)) for i, (l, c) in enumerate([(12, 40), (13, 1), (9, 39), (14, 8)])],
        "hover": at_cursors("textDocument/hover"),
        "definition": at_cursors("textDocument/definition"),
        "completion": at_cursors("textDocument/completion", {"context": {"triggerKind": 2, "triggerCharacter": "<"}}),
        "inlay_hint": [req(10, "textDocument/inlayHint", {"textDocument": {"uri": UI}, "range": rng(0, 0, 15, 0)})],
        "references": at_cursors("textDocument/references", {"context": {"includeDeclaration": True}}),
        "folding_range": [req(10, "textDocument/foldingRange", {"textDocument": {"uri": UI}})],
        "signature_help": [req(10, "textDocument/signatureHelp", at(2, 26)),
                           req(11, "textDocument/signatureHelp", at(8, 37))],
        "type_definition": at_cursors("textDocument/typeDefinition"),
        "selection_range": [req(10, "textDocument/selectionRange",
                                {"textDocument": {"uri": UI}, "positions": [pos(l, c) for l, c in CURSORS]})],
        "document_highlight": at_cursors("textDocument/documentHighlight"),
        "code_action": [
            req(10, "textDocument/codeAction", {"textDocument": {"uri": UI}, "range": diagnostic["range"],
                                                "context": {"diagnostics": [diagnostic], "only": ["quickfix"]}}),
            req(11, "textDocument/codeAction", {"textDocument": {"uri": UI}, "range": rng(2, 6, 2, 10),
                                                "context": {"diagnostics": []}}),
            req(12, "textDocument/codeAction", {"textDocument": {"uri": UI}, "range": rng(0, 0, 0, 0)}),
        ],
        "document_symbol": [req(10, "textDocument/documentSymbol", {"textDocument": {"uri": UI}}),
                            req(11, "textDocument/documentSymbol", {"textDocument": {"uri": CWD + "closed.tovix"}})],
        "prepare_rename": at_cursors("textDocument/prepareRename"),
        "rename": at_cursors("textDocument/rename", {"newName": "Label"})
        + [req(40, "textDocument/rename", at(9, 3)), req(41, "textDocument/rename", dict(at(10, 3), newName="Tile"))],
        "semantic_tokens": [req(10, "textDocument/semanticTokens/full", {"textDocument": {"uri": UI}}),
                            req(11, "textDocument/semanticTokens/full", {"textDocument": {"uri": "untitled:1"}})],
        "set_trace": [note("$/setTrace", {"value": "verbose"}), req(10, "textDocument/hover", at(9, 3)),
                      note("$/setTrace", {"value": "off"})],
        "initialized": [note("initialized", None), {"jsonrpc": "2.0", "id": 2, "result": [None]}],
        "did_change_configuration": [
            note("workspace/didChangeConfiguration", {"settings": {"luau-lsp": LUAU_SETTINGS}}),
            {"jsonrpc": "2.0", "id": 2, "result": [{"types": {"definitionFiles": {"@pkg": "pkg.d.luau"},
                                                             "documentationFiles": ["docs.json"]}},
                                                   {"luauLsp": {"path": "  "}}]},
            note("workspace/didChangeConfiguration", {"settings": None}),
            {"jsonrpc": "2.0", "id": 3, "error": {"code": -32603, "message": "no"}},
        ],
        "cancel_request": [req(10, "textDocument/hover", at(2, 8)), note("$/cancelRequest", {"id": 10}),
                           note("$/cancelRequest", {"id": "x"}), note("$/cancelRequest", {})],
        "did_open": [note("textDocument/didOpen", {"textDocument": {"uri": CWD + "b.tovix", "languageId": "tovix",
                                                                  "version": 3, "text": "return <>\n\t<Frame/>\n</>\n"}}),
                     note("textDocument/didOpen", {"textDocument": {"uri": UI, "version": 2, "text": UI_TEXT + "-- more\n"}})],
        "did_change": [
            note("textDocument/didChange", {"textDocument": {"uri": UI, "version": 2},
                                            "contentChanges": [{"range": rng(9, 3, 9, 12), "text": "TextButton"}]}),
            note("textDocument/didChange", {"textDocument": {"uri": UI, "version": 3},
                                            "contentChanges": [{"range": rng(11, 1, 11, 1), "text": "<"}]}),
            note("textDocument/didChange", {"textDocument": {"uri": UI, "version": 4},
                                            "contentChanges": [{"range": rng(11, 1, 11, 2), "text": ""},
                                                               {"range": rng(0, 0, 0, 0), "text": "-- é😀\n"}]}),
            req(10, "textDocument/hover", at(10, 3)),
            note("textDocument/didChange", {"textDocument": {"uri": UI, "version": 5}, "contentChanges": [{"text": UI_TEXT}]}),
        ],
        "did_save": [note("textDocument/didSave", {"textDocument": {"uri": UI}}), req(10, "textDocument/hover", at(9, 3))],
        "did_close": [note("textDocument/didClose", {"textDocument": {"uri": UI}}), req(10, "textDocument/hover", at(9, 3)),
                      note("textDocument/didClose", {"textDocument": {"uri": UI}})],
        "did_change_watched_files": [note("workspace/didChangeWatchedFiles",
                                          {"changes": [{"uri": CWD + "tovix.toml", "type": 2}]}),
                                     req(10, "textDocument/completion", at(9, 13))],
        "responses": [{"jsonrpc": "2.0", "id": 77, "result": None}, {"jsonrpc": "2.0", "id": "1", "result": []},
                      {"jsonrpc": "2.0", "id": 1.0, "result": []}],
        # Refused under their ids, one of them already taken by initialize.
        "method_not_a_string": [{"jsonrpc": "2.0", "id": 1, "method": [{"luauLsp": {"path": ""}}]},
                                {"jsonrpc": "2.0", "id": 10, "method": 5}, req(11, "textDocument/hover", at(9, 3))],
        "unsupported": [req(10, "textDocument/implementation", at(2, 8)), req(11, "textDocument/formatting", {}),
                        req(None, "workspace/symbol", {"query": ""})],
    }
    for name, messages in sessions.items():
        write("editor_input", name + ".framed", framed_form(PRELUDE + messages))
        write("editor_input", name + ".raw", raw_form(PRELUDE + messages))


# ---------------------------------------------------------------- child_output

MAIN = CWD + "main.tovix"
GEN = CWD + "main.luau"  # the generated file of main.tovix
CARD_GEN = CWD + "card.luau"
OTHER = CWD + "vide.luau"  # a plain Luau file

FRAMED, LEFT_TO_CHILD, SNIPPETS, USUAL, TRACE = 1, 2, 4, 8, 16
# The child ids of the usual requests (bit 3), in order.
HOVER, MERGE, COMPLETION, PROPS, RENAME, PREPARE, CODE_ACTION, DEFINITION, REFERENCES, INLAY, CARD_COMPLETION = range(2, 13)


def act(n, with_=None):
    return note("fuzz/editor", n if with_ is None else {"do": n, "with": with_})


def answer(id, result):
    return {"jsonrpc": "2.0", "id": id, "result": result}


def failure(id, code, message=None):
    e = {"code": code}
    if message is not None:
        e["message"] = message
    return {"jsonrpc": "2.0", "id": id, "error": e}


def loc(uri, *r):
    return {"uri": uri, "range": rng(*r)}


def edit(r, text):
    return {"range": rng(*r), "newText": text}


def diagnostics(uri, items, version=None):
    params = {"uri": uri, "diagnostics": items}
    if version is not None:
        params["version"] = version
    return note("textDocument/publishDiagnostics", params)


def luau_hover(text, r=None):
    h = {"contents": {"kind": "markdown", "value": "```luau\n" + text + "\n```"}}
    if r:
        h["range"] = rng(*r)
    return h


ANSWERS = [
    answer(HOVER, luau_hover("function count(): number", (8, 2, 8, 7))),
    answer(MERGE, luau_hover("function Counter(props: { label: string, onClick: () -> () }): Instance", (15, 1, 15, 8))),
    answer(COMPLETION, {"isIncomplete": False, "items": [
        {"label": "create", "kind": 6, "textEdit": edit((1, 20, 1, 26), "create")},
        {"label": "source", "kind": 6, "additionalTextEdits": [edit((13, 0, 13, 6), "local x = 1\n")]},
        {"label": "count", "kind": 6, "textEdit": {"insert": rng(1, 20, 1, 20), "replace": rng(1, 20, 1, 26), "newText": "count"}},
    ]}),
    answer(PROPS, {"isIncomplete": True, "items": [
        {"label": "label", "kind": 5, "sortText": "1", "detail": "string"},
        {"label": "onClick", "kind": 3, "sortText": "1", "detail": "() -> ()",
         "documentation": {"kind": "markdown", "value": "Called on click."}},
        {"label": "end", "kind": 14, "sortText": "1"},
        {"label": "print", "kind": 3, "sortText": "2"},
    ]}),
    answer(RENAME, {"changes": {GEN: [edit((4, 6, 4, 11), "total"), edit((8, 2, 8, 7), "total"), edit((8, 8, 8, 13), "total")]}}),
    answer(PREPARE, rng(4, 6, 4, 11)),
    answer(CODE_ACTION, [{"title": "Add type", "kind": "quickfix", "edit": {"documentChanges": [
        {"textDocument": {"uri": GEN, "version": 1}, "edits": [edit((4, 11, 4, 11), ": number")]}]}},
        {"title": "Generated only", "edit": {"changes": {GEN: [edit((13, 7, 13, 13), "x")]}}},
        {"title": "Command", "command": {"title": "x", "command": "luau-lsp.y"}}]),
    answer(DEFINITION, [loc(GEN, 2, 6, 2, 12), loc(OTHER, 0, 0, 0, 4),
                        {"originSelectionRange": rng(4, 14, 4, 20), "targetUri": CARD_GEN,
                         "targetRange": rng(5, 0, 7, 3), "targetSelectionRange": rng(5, 7, 5, 15)}]),
    answer(REFERENCES, [loc(GEN, 4, 6, 4, 11), loc(GEN, 8, 2, 8, 7), loc(GEN, 14, 44, 14, 49),
                        loc("file://localhost/proc/self/fd/987/main.luau", 8, 8, 8, 13)]),
    answer(INLAY, [{"position": pos(4, 11), "label": ": number", "kind": 1,
                    "textEdits": [edit((4, 11, 4, 11), ": number")], "paddingLeft": True},
                   {"position": pos(15, 9), "label": [{"value": "props:", "location": loc(GEN, 6, 24, 6, 29)}]}]),
    answer(CARD_COMPLETION, [{"label": "title", "kind": 5}, {"label": "onClick", "kind": 5}]),
]

PUBLISH = diagnostics(GEN, [
    {"range": rng(4, 6, 4, 11), "severity": 2, "source": "Luau", "message": "count is never written",
     "relatedInformation": [{"location": loc(GEN, 8, 2, 8, 7), "message": "read here"}]},
    {"range": rng(13, 7, 13, 13), "severity": 1, "message": "generated code only"},
    {"range": rng(16, 1, 16, 8), "severity": 1, "message": "Counter: unknown prop", "code": "TypeError"},
], version=1)


def child_seeds():
    sessions = {
        "answers": (FRAMED | SNIPPETS | USUAL, ANSWERS + [PUBLISH]),
        "relayed": (FRAMED | USUAL, [
            req("cfg", "workspace/configuration", {"items": [{"section": "luau-lsp"}, {"scopeUri": GEN}]}),
            req(7, "window/workDoneProgress/create", {"token": "index"}),
            note("$/progress", {"token": "index", "value": {"kind": "begin", "title": "Indexing"}}),
            act(12, [{"platform": {"type": "roblox"}}]),
            req(8, "workspace/applyEdit", {"label": "fix", "edit": {"changes": {GEN: [edit((4, 6, 4, 11), "total")],
                                                                              CARD_GEN: [edit((5, 16, 5, 21), "p")]}}}),
            req(9, "workspace/applyEdit", {"edit": {"changes": {GEN: [edit((13, 7, 13, 13), "x")]}}}),
            req(10, "client/registerCapability", {"registrations": [{"id": "w", "method": "workspace/didChangeWatchedFiles",
                                                                     "registerOptions": {"watchers": [{"globPattern": "**/*.luau"}]}}]}),
            req(11, "window/showMessageRequest", {"type": 3, "message": "Pick", "actions": [{"title": "A"}]}),
            note("$/cancelRequest", {"id": 11}),
            act(12 + 18, {"applied": True}),
            act(12, {"error": {"code": -32800, "message": "cancelled"}}),
            req(12, "textDocument/unknown", {}),
            req(None, "workspace/configuration", {"items": []}),
            req(13, "client/unregisterCapability", {"unregisterations": [{"id": "w", "method": "x"}]}),
            req(14, "workspace/workspaceFolders", None),
            req(15, "workspace/applyEdit", {"edit": 5}),
            note("window/logMessage", {"type": 3, "message": "luau-lsp: ready"}),
            note("window/showMessage", {"type": 2, "message": "check the settings"}),
            note("telemetry/event", {"x": 1}),
        ] + ANSWERS[:3]),
        "errors": (FRAMED | USUAL, [
            failure(HOVER, -32601, "no"), failure(MERGE, -32002, "not ready"),
            failure(COMPLETION, -32803, "No managed text document for " + GEN),
            failure(PROPS, -32603, "x"), failure(RENAME, -32099, "y"), failure(PREPARE, -1),
            answer(CODE_ACTION, None), answer(DEFINITION, loc(GEN, 13, 7, 13, 13)),
            answer(str(REFERENCES), []), {"jsonrpc": "2.0", "id": 10.0, "result": []}, answer(99, 1),
            {"jsonrpc": "2.0", "id": INLAY, "error": "text"}, answer(CARD_COMPLETION, {"items": 5}),
            act(0), answer(13, luau_hover("x")),
        ]),
        "stale": (FRAMED | USUAL, [act(9 + 18), PUBLISH] + ANSWERS + [act(0), answer(13, luau_hover("count")), act(9 + 18 * 3),
                                                                      act(9 + 18 * 4), act(1), answer(14, luau_hover("c"))]),
        "edits": (FRAMED | USUAL, [
            act(9), act(9 + 18 * 2), diagnostics(GEN, PUBLISH["params"]["diagnostics"], version=2),
            PUBLISH, act(9 + 18 * 5, "local x = <Frame/>\nreturn x\n"), diagnostics(GEN, [], version=4),
            act(10), diagnostics(CARD_GEN, [{"range": rng(6, 1, 6, 7), "message": "x"}]), act(10),
            diagnostics(CARD_GEN, [{"range": rng(6, 1, 6, 7), "message": "x"}], version=1),
            act(13), act(13 + 18), act(11), act(11 + 18),
        ] + ANSWERS),
        "refused": (FRAMED | LEFT_TO_CHILD | USUAL, [failure(1, -32603, "stand-in refuses"), answer(HOVER, None)]),
        "late_start": (FRAMED | LEFT_TO_CHILD | USUAL, [answer(1, {"capabilities": {"hoverProvider": True}}),
                                                        act(0), act(3), act(4), act(6),
                                                        answer(2, luau_hover("late")), answer(3, {"items": []}),
                                                        answer(4, {"changes": {GEN: [edit((13, 7, 13, 13), "x")]}})]),
        "shutdown": (FRAMED | USUAL, [answer(HOVER, None), act(15), answer(MERGE, None), PUBLISH]),
        "settings": (FRAMED | USUAL, [
            act(14, [{"fflags": {"enableNewSolver": False, "enableByDefault": False,
                                 "override": {"FIntX": 5, " DFFlagY ": " true ", "": "1", "FFlagZ": ""}},
                      "types": {"definitionFiles": {"@roblox": "/etc/passwd", "pkg": "../x.d.luau"},
                                "documentationFiles": ["/dev/zero", 5], "robloxSecurityLevel": "../../x"},
                      "platform": {"type": "roblox", "baseLuaurc": "/x/.luaurc"}, "server": {"path": "/bin/sh"}},
                     {"luauLsp": {"path": "/bin/sh"}}]),
            act(14, [5, "x"]), act(14, []), act(14),
        ]),
        "flood": (FRAMED | TRACE, [note("window/logMessage", {"type": 4, "message": "line %d" % i}) for i in range(25)]
                  + [note("window/showMessage", {"type": 1, "message": "m"})] + [PUBLISH] * 3),
        # Every action of the editor, the local ones among them, each once.
        "actions": (FRAMED | SNIPPETS, [act(n + 18 * arg) for n, args in
                                        [(0, 1), (1, 1), (2, 1), (3, 1), (4, 1), (5, 1), (6, 2), (7, 2), (8, 7), (9, 6),
                                         (10, 2), (11, 1), (12, 1), (13, 2), (14, 1), (16, 3), (17, 3)]
                                        for arg in range(args)]
                   + [answer(i, None) for i in range(2, 40)] + [act(15)]),
        "links": (FRAMED | USUAL, [
            answer(DEFINITION, [{"targetUri": GEN, "targetRange": rng(4, 0, 4, 23), "targetSelectionRange": rng(4, 6, 4, 11)},
                                {"targetUri": OTHER, "targetRange": rng(0, 0, 1, 0), "targetSelectionRange": rng(0, 0, 0, 1),
                                 "originSelectionRange": rng(4, 14, 4, 20)},
                                {"uri": 5, "range": rng(0, 0, 0, 1)}, {"uri": OTHER, "range": rng(0, 0, 0, 1),
                                                                       "nested": loc(GEN, 4, 6, 4, 11)}]),
            answer(REFERENCES, [loc(CWD + "main%2Eluau", 4, 6, 4, 11), loc(MAIN, 4, 6, 4, 11),
                                {"uri": GEN, "range": {"start": pos(-1, 0), "end": pos(1.5, 0)}},
                                loc(GEN, 4294967297, 0, 4294967297, 1), {"uri": GEN, "range": rng(4, 6, 4, 11), "extra": [1]}]),
            answer(HOVER, {"contents": [{"language": "luau", "value": "x"}, "plain"], "range": rng(4, 6, 4, 11)}),
            answer(MERGE, {"contents": {"kind": "markdown", "value": "child"}, "range": rng(13, 0, 13, 6)}),
            answer(PREPARE, {"range": rng(4, 6, 4, 11), "placeholder": "count"}),
            answer(CODE_ACTION, [{"title": "both names", "edit": {"changes": {
                GEN: [edit((4, 6, 4, 11), "a")], "file://localhost/proc/self/fd/987/main.luau": [edit((8, 2, 8, 7), "a")],
                MAIN: [edit((5, 6, 5, 11), "b")], CARD_GEN: [edit((1, 6, 1, 12), "c")], OTHER: [edit((0, 0, 0, 1), "d")],
                CWD + "card.tovix": 5}}}]),
            answer(RENAME, {"documentChanges": [{"textDocument": {"uri": GEN, "version": None}, "edits": [edit((4, 6, 4, 11), "n")]},
                                                {"kind": "rename", "oldUri": GEN, "newUri": OTHER}]}),
        ]),
    }
    for name, (flags, messages) in sessions.items():
        write("child_output", name, bytes([flags]) + b"\x1e".join(child_body(m) for m in messages))
    # The same answers as the stream itself, headers and all, ending in a
    # header the reader cannot take.
    stream = raw_form(ANSWERS[:4], first=bytes([USUAL]), encode=child_body)
    stream += b"content-length: 2\r\nContent-Type: application/vscode-jsonrpc; charset=utf-8\r\n\r\n{}"
    stream += raw_form([PUBLISH], first=b"", encode=child_body) + b"Content-Length: x\r\n\r\n"
    write("child_output", "raw", stream)


editor_seeds()
child_seeds()
