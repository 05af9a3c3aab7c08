#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "tovix/luau/parser.h"

namespace {

// A module in the style of a Vide UI library: types, closures, tables, calls,
// string interpolation, comments and control flow.
constexpr std::string_view MODULE = R"luau(--!strict
-- A reactive list component with its helpers.
local vide = require(script.Parent.vide)
local create, source, effect, cleanup = vide.create, vide.source, vide.effect, vide.cleanup

export type Item<T> = {
	id: number,
	value: T,
	selected: boolean?,
	[string]: unknown,
}

type Props<T> = {
	items: () -> { Item<T> },
	render: (item: Item<T>, index: number) -> Instance,
	onSelect: ((Item<T>) -> ())?,
	layout: "vertical" | "horizontal",
}

local DEFAULT_PADDING = UDim.new(0, 4)
local cache: { [number]: Instance } = {}

local function clamp(value: number, min: number, max: number): number
	if value < min then
		return min
	elseif value > max then
		return max
	end
	return value
end

local function List<T>(props: Props<T>): Frame
	local selected = source(0)
	local count = 0

	effect(function()
		local items = props.items()
		count = #items
		for index, item in items do
			if item.selected and props.onSelect then
				props.onSelect(item)
			end
			cache[item.id] = cache[item.id] or props.render(item, index)
		end
	end)

	cleanup(function()
		table.clear(cache)
	end)

	local direction = if props.layout == "vertical"
		then Enum.FillDirection.Vertical
		else Enum.FillDirection.Horizontal

	return create "Frame" {
		Name = `List{count}`,
		Size = UDim2.fromScale(1, 1),
		BackgroundTransparency = 1,
		create "UIListLayout" {
			FillDirection = direction,
			Padding = DEFAULT_PADDING,
			SortOrder = Enum.SortOrder.LayoutOrder,
		},
		function()
			local children = {}
			for i = 1, clamp(count, 0, 100) do
				children[i] = cache[i] :: Instance
			end
			return children
		end,
		Activated = function(_, input: InputObject)
			selected(selected() + 1)
			print(`selected {selected()} of {count} with {input.KeyCode.Name}`)
		end,
	}
end

-- Copies of this module follow one another, so it ends without a return.
modules[#modules + 1] = List
)luau";

std::string typical_luau(std::size_t at_least) {
  std::string text;
  while (text.size() < at_least) text += MODULE;
  return text;
}

void BM_ParseTypicalLuau(benchmark::State& state) {
  std::string text = typical_luau(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto result = tovix::luau::parser::parse(text);
    benchmark::DoNotOptimize(result.root);
    if (!result.errors.empty()) state.SkipWithError("the benchmark text does not parse cleanly");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
// A small file, a large one (64 KiB) and a whole code base's worth.
BENCHMARK(BM_ParseTypicalLuau)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
