--!strict
-- Every statement form, nested a little.
local a
local b, c = 1, 2
local d: number, e: string? = 3, nil
const PI = 3.14
const ONE, TWO = 1, 2
const LIMIT: number = 10

local function add(x: number, y: number): number
	return x + y
end

const function twice(f: (number) -> number, v: number): number
	return f(f(v))
end

function globalFunction(...)
	return ...
end

local M = {}
M.sub = { deeper = {} }
function M.method(self) end
function M.sub.deeper.run(x) return x end
function M:instanceMethod(y)
	return self, y
end

a, b = b, a
M.sub.x, M["key"], c = 1, 2, 3
b += 1
b -= 1
b *= 2
b /= 2
b //= 2
b %= 3
b ^= 2
local s = "x"
s ..= "y"
M.sub.count = 0
M.sub.count += 1
M["k"] ..= "v"

if a then
	print(a)
elseif b then
	print(b)
elseif c then
	print(c)
else
	print("none")
end

if a then end

while b > 0 do
	b -= 1
	if b == 5 then
		continue
	end
	if b == 2 then
		break
	end
end

repeat
	local done = true
until done

for i = 1, 10 do
	print(i)
end

for i = 10, 1, -1 do
	print(i)
end

for k, v in pairs(M) do
	print(k, v)
end

for index: number, value: string in ipairs({ "a", "b" }) do
	print(index, value)
end

for _, item in { 1, 2, 3 } do
	print(item)
end

do
	local scoped = 1;
	print(scoped);
end

local function early(x)
	if x then
		return
	end
	do return x end
end

print "call with a string"
print [[call with a long string]]
print { table = "argument" }
M:instanceMethod "string"
M:instanceMethod { 1 }
M.sub.deeper.run(1)(2)(3)
;(print)("parenthesised callee")

return M
