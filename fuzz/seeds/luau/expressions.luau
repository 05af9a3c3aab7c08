-- Literals, operators with their precedence, and every table and call form.
local nothing = nil
local yes, no = true, false
local numbers = { 1, 1.5, .5, 1e10, 1E-3, 0x1F, 0XfF, 0b1010, 1_000_000, 0x_FF }
local strings = { "double", 'single', [[long]], [==[long with ]] inside]==], "esc\"aped", 'a\z
	continues' }
local function varargs(...)
	local first, second = ...
	local all = { ... }
	local count = select("#", ...)
	return first, second, all, count
end

local arithmetic = 1 + 2 - 3 * 4 / 5 // 6 % 7 ^ 8 ^ 9
local unary = -1 + not true and #"abc" or - -2
local concat = "a" .. "b" .. "c" .. 1 .. 2
local compare = 1 < 2 and 2 <= 3 and 3 > 2 and 3 >= 3 and 1 == 1 and 1 ~= 2
local logic = a and b or c and not d
local grouped = (1 + 2) * (3 - (4 / 5))
local nilAnd = ok and nil or fallback

local t = {
	1,
	2;
	named = 3,
	["computed key"] = 4,
	[1 + 1] = 5,
	nested = { deeper = { deepest = {} } },
	fn = function(x) return x end,
	method = function(self, ...) return self end,
	trailing = "comma",
}
local empty = {}
local semicolons = { 1; 2; 3; }

local index = t.named + t["computed key"] + t[2]
local chained = t.nested.deeper.deepest
local call = string.format("%d", 1):upper():lower()
local method = ("x"):rep(3)
local tableCall = setmetatable({}, { __index = function(_, k) return k end })

local ifExpr = if a then 1 else 2
local ifChain = if a then 1 elseif b then 2 elseif c then 3 else 4
local ifNested = if if a then b else c then d else e
local ifInCall = print(if a then "yes" else "no")

local cast = t :: any
local castChain = (t :: any) :: { [string]: number }
local castInOperand = 1 + (t :: number) * 2
local castCall = (tostring :: (any) -> string)(1)

local anonymous = function(a, b, ...) return a, b, ... end
local generic = function<T>(x: T): T return x end
local annotated = function(x: number, ...: string): (number, ...string) return x, ... end
local immediately = (function() return 1 end)()

local instantiated = f<<number>>(1)
local instantiatedMethod = obj:m<<string, number>>("x")
local instantiatedPack = f<<(number, string), ...boolean>>()

return {
	nothing = nothing,
	yes = yes,
	no = no,
	numbers = numbers,
	strings = strings,
	varargs = varargs,
}
