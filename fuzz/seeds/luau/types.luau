--!strict
-- Type syntax: aliases, generics, packs, defaults, tables, functions.
type Number = number
export type Point = { x: number, y: number }
type Optional = string?
type DoubleOptional = (string?)?
type Union = string | number | nil
type LeadingPipe = | "a" | "b"
type Intersection = { a: number } & { b: string }
type LeadingAmpersand = & A & B
type Singletons = "on" | "off" | true | false
type SingleQuote = 'x'
type Array = { number }
type ArrayOfOptional = { string? }
type Map = { [string]: number }
type MapWithProps = { [number]: string, n: number }
type Access = { read x: number, write y: string, read [string]: boolean }
type AccessNamedProps = { read: number, write: string }
type StringKeys = { ["key with spaces"]: number, ['other']: string }
type Semicolons = { a: number; b: string; }
type Nested = { inner: { deeper: { number } } }
type Qualified = Module.Type
type QualifiedGeneric = Module.Type<number, string>
type Typeof = typeof(setmetatable({}, {}))
type TypeofIndex = typeof(Module.value)

type Callback = (number, string) -> boolean
type Named = (x: number, y: string) -> ()
type NoArgs = () -> ()
type ReturnsPack = () -> (number, string)
type ReturnsVariadic = () -> ...number
type ReturnsGeneric<T...> = () -> T...
type TakesVariadic = (number, ...string) -> ()
type TakesGenericPack<T...> = (T...) -> T...
type GenericFunction = <T>(T) -> T
type GenericPackFunction = <T, U...>(T, U...) -> (T, U...)
type Curried = (number) -> (number) -> number
type ReturnsFunction = () -> () -> ()
type OptionalFunction = ((number) -> ())?
type UnionOfFunctions = ((number) -> ()) | ((string) -> ())
type ReturnsOptional = () -> number?
type ReturnsUnion = () -> (number | string)

type Generic<T> = { value: T }
type TwoGenerics<K, V> = { [K]: V }
type Default<T = string> = { value: T }
type DefaultLater<T, U = T> = { t: T, u: U }
type PackParam<T...> = { f: (T...) -> () }
type PackDefault<T... = ...number> = (T...) -> ()
type PackDefaultList<T... = (string, number)> = (T...) -> ()
type PackDefaultGeneric<T..., U... = T...> = (T...) -> U...
type Applied = Generic<number>
type AppliedPack = PackParam<(number, string)>
type AppliedEmptyPack = PackParam<()>
type AppliedVariadic = PackParam<...number>
type AppliedFunction = Generic<(number) -> string>
type AppliedNested = Generic<Generic<Generic<number>>>
type AppliedGenericFunction = Generic<<T>(T) -> T>
type NoSpaceDefault<T>= Generic<T>

type function Identity(t)
	return t
end

export type function Partial(t: type)
	local result = types.newtable()
	for key, value in t:properties() do
		result:setproperty(key, types.unionof(value.read, types.singleton(nil)))
	end
	return result
end

local function annotate(a: number, b: { string }, c: Generic<number>?, ...: any): ...any
	local x: number = 1
	local y: Generic<number>= { value = 1 }
	local z: (number) -> () = function(_) end
	return a, b, c, x, y, z
end

local function generic<T, U>(value: T, map: (T) -> U): U
	return map(value)
end

local function packs<T...>(...: T...): T...
	return ...
end

local function multipleReturns(): (number, string)
	return 1, "a"
end

local function returnsFunctionType(): (number) -> number
	return function(n) return n end
end

local function returnsOptional(): number?
	return nil
end

local function returnsGroupedUnion(): (number | string)?
	return nil
end

return annotate, generic, packs, multipleReturns, returnsFunctionType, returnsOptional, returnsGroupedUnion
