-- Interpolated strings, with holes holding any expression.
local name = "world"
local plain = `no holes`
local simple = `hello {name}`
local several = `{1} and {2} and {3}`
local adjacent = `{a}{b}{c}`
local expression = `sum: {a + b * c}`
local call = `result: {string.format("%d", 1)}`
local tableInHole = `count: {#{ 1, 2, 3 }}`
local nested = `outer {`inner {name}`} done`
local escapes = `braces \{ not a hole \} and a \` backtick`
local ifInHole = `{if a then "x" else "y"}`
local multiline = `line one
line two {name}`
local methodCall = `{name:upper()}`
local castInHole = `{name :: string}`
local withBraceString = `{"}"}`
print(`as an argument {name}`)
return plain, simple, several, adjacent, expression, call, tableInHole, nested, escapes
