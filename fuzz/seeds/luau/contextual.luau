-- Contextual keywords are names wherever a keyword could not stand.
local type = "type is a name here"
local continue = 1
local export = { type = 2 }
local const = 3
local typeof = typeof

type = type .. "!"
continue = continue + 1
export.type = 3
const = const * 2

print(type, continue, export, const)
type(print)
typeof(print)
continue = (continue)
local t = { type = 1, continue = 2, export = 3, const = 4 }
print(t.type, t.continue, t.export, t.const)

export type Exported = { type: string, continue: number }

type T = { read: number }

for i = 1, 3 do
	if i == 2 then continue end
	print(i)
end

while true do
	continue
end

const type2 = 1
local function read(write) return write end
local read, write = 1, 2
