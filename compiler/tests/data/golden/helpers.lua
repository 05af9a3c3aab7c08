--!strict

local function __tovix_merge(...): any local m, n = {}, 0 for i = 1, select("#", ...) do local g = select(i, ...) if g ~= nil then for k, v in g do if type(k) == "number" then n += 1 m[n] = v else m[k] = v end end end end return m end; local function __tovix_read(v) return if type(v) == "function" then (v :: () -> any)() else v end; local create = require(script.create)
local e = create("TextLabel")(__tovix_merge(props, { Text = function() return `{__tovix_read(count)} left` end }))
