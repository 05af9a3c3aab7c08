local a = `x{`y{`z{w}`}`}`
local t: F<<T>(T) -> T> = f<<number>>(1)
