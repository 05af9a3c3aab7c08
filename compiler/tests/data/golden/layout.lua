local function __tovix_merge(...): any local m, n = {}, 0 for i = 1, select("#", ...) do local g = select(i, ...) if g ~= nil then for k, v in g do if type(k) == "number" then n += 1 m[n] = v else m[k] = v end end end end return m end; local create = require(script.create)
local a = create("Frame")({
    Size = s,
    create("TextLabel")({ Text = 'a' }),
})
local b = create("Frame")({
})
local c = create("Frame")(__tovix_merge({ a = 1,
  }, p,
  { b = 2 }))
local d = create("Frame")({
  --[[ only a comment ]]
})
