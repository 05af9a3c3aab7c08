#include "sample.h"

#include <cstdint>
#include <string_view>

#include <fmt/format.h>

namespace tovix_bench {

namespace {

// A fixed-seed generator so that every run measures the same text.
struct Random {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  std::uint64_t next() {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  std::string_view pick(std::initializer_list<std::string_view> items) { return items.begin()[below(items.size())]; }
};

std::string_view word(Random& random) {
  return random.pick(
      {"café", "naïve", "日本語", "€10", "🎉 party", "Ünïcödé", "Привет", "hello", "score", "ready", "Größe", "ñandú"});
}

void component(std::string& out, Random& random, std::size_t id) {
  out += fmt::format(
      "--- A framed row that shows a title, how many entries it holds and\n"
      "--- the entries themselves; `onPick` runs when the user picks one.\n"
      "type CardProps{0}<T> = {{\n"
      "\ttitle: string,\n"
      "\tcount: number,\n"
      "\titems: {{ T }},\n"
      "\tonPick: (T) -> (),\n"
      "}}\n"
      "\n"
      "local function Card{0}(props: CardProps{0}<string>)\n"
      "\tlocal visible = props.count > {1} and props.count < {2} and not props.hidden\n"
      "\tlocal padding = if props.compact then UDim.new(0, 2) else UDim.new(0, 6)\n"
      "\treturn <Frame Size={{UDim2.new(1, 0, 0, {3})}} BackgroundTransparency={{0.{4}}} "
      "{{props.frame}}>\n"
      "\t\t<!-- header row {0} -->\n"
      "\t\t<UICorner CornerRadius={{UDim.new(0, {5})}}/>\n"
      "\t\t<UIStroke Thickness={{1}} Color={{Color3.fromRGB(200, 200, 210)}} Transparency={{0.25}}/>\n"
      "\t\t<TextLabel Text={{props.title}} TextColor3={{Color3.fromRGB({6}, 255, 255)}} "
      "LayoutOrder={{1}}/>\n"
      "\t\t<TextLabel LayoutOrder={{2}} TextXAlignment={{Enum.TextXAlignment.Left}} "
      "Position={{UDim2.new(0, 8, 0, 4)}}>Total: {{props.count}} — {7} ✓</TextLabel>\n"
      "\t\t{{function()\n"
      "\t\t\treturn <TextLabel Text=\"nested {0}\" Visible={{visible}}/>\n"
      "\t\tend}}\n"
      "\t\t{{props.items}}\n"
      "\t</Frame>\n"
      "end\n"
      "\n",
      id, random.below(10), 100 + random.below(900), 24 + random.below(40), random.below(10), random.below(16),
      random.below(256), word(random));
}

void list(std::string& out, Random& random, std::size_t id) {
  out += fmt::format(
      "-- Every other entry up to the limit becomes a button; the list shows a\n"
      "-- placeholder label while there is nothing to pick from yet.\n"
      "local function List{0}(props)\n"
      "\tlocal rows = {{}}\n"
      "\tfor i = 1, #props.items do\n"
      "\t\tif i % {1} == 0 and i <= props.limit then\n"
      "\t\t\trows[i] = <TextButton Text={{props.items[i]}} LayoutOrder={{i}} "
      "BackgroundColor3={{Color3.fromRGB(40, 40, 48)}} Activated={{function()\n"
      "\t\t\t\tprops.onPick(i)\n"
      "\t\t\tend}}/>\n"
      "\t\tend\n"
      "\tend\n"
      "\treturn <ScrollingFrame Size={{UDim2.fromScale(1, 1)}} CanvasSize={{UDim2.new()}}>\n"
      "\t\t<UIListLayout Padding={{UDim.new(0, {2})}}/>\n"
      "\t\t{{rows}}\n"
      "\t\t{{#rows == 0 and <TextLabel Text=\"empty {3}\"/>}}\n"
      "\t</ScrollingFrame>\n"
      "end\n"
      "\n",
      id, 2 + random.below(3), random.below(12), word(random));
}

void fragment(std::string& out, Random& random, std::size_t id) {
  out += fmt::format(
      "-- The header strip, shared by every screen that lists entries.\n"
      "local header{0} = <>\n"
      "\t<TextLabel Text=\"{1} {2}\" LayoutOrder={{0}}/>\n"
      "\t<!-- spacer ]] {0} -->\n"
      "\t{{spacer({3})}}\n"
      "\t<Frame Size={{UDim2.new(1, 0, 0, 1)}} BackgroundColor3={{Color3.fromRGB(90, 90, 96)}} "
      "BorderSizePixel={{0}}/>\n"
      "\t<TextButton Text='Go' Activated={{go}}>\n"
      "\t\t<UIPadding PaddingLeft={{UDim.new(0, {3})}}/>\n"
      "\t</TextButton>\n"
      "</>\n"
      "\n",
      id, word(random), word(random), random.below(20));
}

void plain(std::string& out, Random& random, std::size_t id) {
  out += fmt::format(
      "-- Keeps a value inside the closed range [lo, hi]; used for scroll offsets.\n"
      "local function clamp{0}(x: number, lo: number, hi: number): number\n"
      "\tif x < lo then\n"
      "\t\treturn lo\n"
      "\telseif x > hi then\n"
      "\t\treturn hi\n"
      "\tend\n"
      "\treturn x\n"
      "end\n"
      "local greeting{0} = `hello {{name}}, you have {{count + {1}}} items`\n"
      "local long{0} = [==[\n"
      "multi-line ]] text {2}\n"
      "]==]\n"
      "--[[ block comment\n"
      "  spanning lines ]]\n"
      "local s{0} = 'it\\'s' .. \"a \\\"quote\\\"\" -- trailing comment\n"
      "local t{0} = {{ 1, 2.5, 0x1F, 1e-3, {3}, math.floor(os.clock() * 1000) % 7 }}\n"
      "local shifted{0} = bit32.lshift(1, 4) // 2 + (#t{0} >= 3 and 1 or 0)\n"
      "\n",
      id, random.below(100), word(random), random.below(1000));
}

void holes(std::string& out, Random& random, std::size_t id, std::size_t card) {
  out += fmt::format(
      "-- The welcome panel: a button that opens a popup, the avatar image and a\n"
      "-- greeting that repeats the user's name and the count of new messages.\n"
      "local panel{0} = <Frame Size={{UDim2.fromScale(0.5, 0.{1})}} Visible>\n"
      "\t<TextButton Text=\"Open\" Activated={{function()\n"
      "\t\topen(<Frame Name=\"popup{0}\"><TextLabel Text=\"{2}\"/></Frame>)\n"
      "\tend}}/>\n"
      "\t<UIListLayout FillDirection={{Enum.FillDirection.Vertical}} Padding={{UDim.new(0, 4)}}/>\n"
      "\t<ImageLabel Image=\"rbxassetid://{3}\" ImageColor3={{if dark then Color3.new(0, 0, 0) "
      "else Color3.new(1, 1, 1)}}/>\n"
      "\t<TextLabel>\n"
      "\t\tWelcome back, {{user.name}}!\n"
      "\t\tYou have \\{{{4}\\}} new messages.\n"
      "\t</TextLabel>\n"
      "\t{{items:map(function(item)\n"
      "\t\treturn <Card{5} title={{item.title}} count={{item.count}} items={{{{}}}} {{item}}/>\n"
      "\tend)}}\n"
      "</Frame>\n"
      "\n",
      id, 1 + random.below(9), word(random), 1000000 + random.below(9000000), random.below(50), card);
}

}  // namespace

std::string sample_tovix(std::size_t lines) {
  Random random;
  std::string out;
  out.reserve(lines * 42);
  out += "--!strict\nlocal vide = require(script.Parent.vide)\nlocal create = vide.create\n\n";
  std::size_t id = 0;
  std::size_t card = 0;  // the last component declared
  std::size_t counted = 4;
  while (counted < lines) {
    std::size_t before = out.size();
    // Components first so that later panels can use them.
    switch (id == 0 ? 0 : random.below(5)) {
      case 0:
        component(out, random, id);
        card = id;
        break;
      case 1: list(out, random, id); break;
      case 2: fragment(out, random, id); break;
      case 3: plain(out, random, id); break;
      default: holes(out, random, id, card); break;
    }
    for (std::size_t i = before; i < out.size(); ++i) counted += out[i] == '\n';
    ++id;
  }
  return out;
}

}  // namespace tovix_bench
