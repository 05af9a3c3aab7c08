-- Attributes on every kind of function.
@native
local function fast(x: number): number
	return x * 2
end

@checked
function checkedGlobal(x) return x end

@native @checked
local function both() end

@[native]
const function bracketed() end

@[deprecated]
function M.old() end

@[deprecated { use = "new", reason = "it was slow" }]
local function documented() end

@[native, deprecated { use = "newer" }]
local function several() end

local anonymous = @native function(x) return x end
local callback = call(@checked function() end)

type Checked = @checked (number) -> number
