local x = = 1
local y = (1
function f(a b) end
local z: {a: } = 1
x = `a{}b{1 2}c`
local s = "abc
end
@foo local v = 1
type X<T = 1
