#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "tovix/config/config.h"
#include "tovix/roblox/roblox.h"

namespace {

using tovix::config::Casing;
using tovix::config::Config;
using tovix::config::LintLevel;

// The message of a text that must fail, or "" when it loads.
std::string message_of(std::string_view text) {
  auto result = Config::parse_reporting(text);
  return result ? std::string() : result.error().message;
}

Config loaded(std::string_view text) {
  auto result = Config::parse_reporting(text);
  EXPECT_TRUE(result.has_value()) << text << "\n→ " << result.error().message;
  return result.value_or(Config{});
}

struct MessageCase {
  const char* name;
  std::string_view text;
  std::string_view message;
};

void check_messages(const MessageCase* begin, const MessageCase* end) {
  for (const MessageCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->name);
    EXPECT_EQ(message_of(c->text), c->message) << c->text;
  }
}

TEST(ConfigDefaults, EmptyAndCommentOnlyFilesGiveTheDefaults) {
  for (std::string_view text : {"", "# nothing here\n\n  # still nothing\n", "[elements]\n[properties]\n"}) {
    SCOPED_TRACE(text);
    const Config config = loaded(text);
    EXPECT_EQ(config, Config{});
    EXPECT_EQ(config.create, "create");
    EXPECT_TRUE(config.element_aliases.empty());
    EXPECT_EQ(config.element_casing, Casing::PascalCase);
    EXPECT_EQ(config.property_casing, Casing::PascalCase);
    EXPECT_EQ(config.static_conditional_child, LintLevel::Warn);
    EXPECT_EQ(config.build.include, std::vector<std::string>{"**"});
    EXPECT_TRUE(config.build.exclude.empty());
    EXPECT_FALSE(config.build.in_dir || config.build.out_dir || config.build.clean);
  }
}

// The raw layer: syntax, unknown keys and wrong types, all before any check.
TEST(ConfigRaw, ShapeErrorsCarryTheTomlLayersMessage) {
  static const MessageCase cases[] = {
      {"syntax error, no position", "[elements\n",
       "tovix.toml: Error while parsing table header: expected ']', saw '\\n'"},
      {"bad table name", "[@es]\n",
       "tovix.toml: Error while parsing key: expected bare key starting character or string delimiter, saw '@'"},
      {"duplicate key", "[lints]\nstatic_conditional_child = \"off\"\nstatic_conditional_child = \"off\"\n",
       "tovix.toml: Error while parsing key-value pair: cannot redefine existing string 'static_conditional_child'"},
      {"unknown top-level table", "[output]\n",
       "tovix.toml: unknown field `output`, expected one of `elements`, `properties`, `lints`, `factory`, `build`"},
      {"unknown build key", "[build]\nin = \"src\"\noutput = \"out\"\n",
       "tovix.toml: unknown field `output`, expected one of `in`, `out`, `include`, `exclude`, `clean` for key "
       "`build`"},
      {"unknown lints key", "[lints]\nother = \"off\"\n",
       "tovix.toml: unknown field `other`, expected `static_conditional_child` for key `lints`"},
      {"unknown factory key", "factory = { make = \"x\" }\n",
       "tovix.toml: unknown field `make`, expected `create` for key `factory`"},
      {"lints not a table", "lints = \"off\"\n",
       "tovix.toml: invalid type: string \"off\", expected struct RawLints for key `lints`"},
      {"factory not a table", "factory = 3\n",
       "tovix.toml: invalid type: integer `3`, expected struct RawFactory for key `factory`"},
      {"build not a table", "build = [1]\n",
       "tovix.toml: invalid type: sequence, expected struct RawBuild for key `build`"},
      {"elements not a table", "elements = true\n",
       "tovix.toml: invalid type: boolean `true`, expected a map for key `elements`"},
      {"element alias not text", "[elements]\nFrame = 1.5\n",
       "tovix.toml: invalid type: floating point `1.5`, expected a string for key `elements.Frame`"},
      {"quoted key in the path", "[elements]\n\"Two words\" = 2.0\n",
       "tovix.toml: invalid type: floating point `2.0`, expected a string for key `elements.\"Two words\"`"},
      {"lint level not text", "[lints]\nstatic_conditional_child = 2\n",
       "tovix.toml: invalid type: integer `2`, expected a string for key `lints.static_conditional_child`"},
      {"clean not boolean", "[build]\nclean = \"yes\"\n",
       "tovix.toml: invalid type: string \"yes\", expected a boolean for key `build.clean`"},
      {"include not a list", "[build]\ninclude = \"src\"\n",
       "tovix.toml: invalid type: string \"src\", expected a sequence for key `build.include`"},
      {"include item not text", "[build]\ninclude = [\"a\", 1979-05-27]\n",
       "tovix.toml: invalid type: date `1979-05-27`, expected a string for key `build.include`"},
      {"property value a number", "[properties]\nSize = 4\n",
       "tovix.toml: data did not match any variant of untagged enum PropertyEntry for key `properties.Size`"},
      {"class table with a non-text member", "[properties.Frame]\nSize = \"s\"\nVisible = false\n",
       "tovix.toml: data did not match any variant of untagged enum PropertyEntry for key `properties.Frame`"},
      {"a table under all must still hold texts", "[properties.all]\nx = 1\n",
       "tovix.toml: data did not match any variant of untagged enum PropertyEntry for key `properties.all`"},
      {"control characters escaped", "[build]\nclean = \"a\\nb\\u0001\"\n",
       "tovix.toml: invalid type: string \"a\\nb\\u{1}\", expected a boolean for key `build.clean`"},
  };
  check_messages(std::begin(cases), std::end(cases));
}

// Nesting that toml++ would recurse through is refused before it parses;
// brackets and dots in strings and comments are not nesting.
TEST(ConfigRaw, DeepNestingIsRefusedBeforeParsing) {
  auto repeat = [](std::string_view piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
  };
  auto dotted = [&](std::size_t parts) { return "a" + repeat(".a", parts - 1); };
  const std::string TOO_DEEP = "tovix.toml: tables and arrays are nested more than 128 levels deep";
  const std::string UNKNOWN_A =
      "tovix.toml: unknown field `a`, expected one of `elements`, `properties`, `lints`, `factory`, `build`";
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  } cases[] = {
      {"header of 200,000 parts", "[" + dotted(200000) + "]\n", TOO_DEEP},
      {"header of 128 parts", "[" + dotted(128) + "]\n", UNKNOWN_A},
      {"a key under a header of 128 parts", "[" + dotted(128) + "]\nx = 1\n", TOO_DEEP},
      {"array of tables one level down", "[[" + dotted(128) + "]]\n", TOO_DEEP},
      {"dotted key", dotted(129) + " = 1\n", TOO_DEEP},
      {"dotted key of 128 parts", dotted(128) + " = 1\n", UNKNOWN_A},
      {"inline tables", "a = " + repeat("{a = ", 100000) + "1" + repeat("}", 100000) + "\n", TOO_DEEP},
      {"arrays", "a = " + repeat("[", 100000) + repeat("]", 100000) + "\n", TOO_DEEP},
      {"arrays under a header and a dotted key", "[a.a]\na.a = " + repeat("[", 126) + repeat("]", 126) + "\n",
       TOO_DEEP},
      {"arrays just within", "[a.a]\na.a = " + repeat("[", 125) + repeat("]", 125) + "\n", UNKNOWN_A},
      {"multi-line inline tables and comments",
       "a = {\n  b = [ # [[[[\n    { c.d = " + repeat("[", 124) + repeat("]", 124) + " },\n  ],\n}\n", UNKNOWN_A},
      {"one more level there",
       "a = {\n  b = [ # [[[[\n    { c.d = " + repeat("[", 125) + repeat("]", 125) + " },\n  ],\n}\n", TOO_DEEP},
      {"brackets and dots in strings",
       "[build]\ninclude = [\"" + repeat("[{.", 500) + "\\\"\", '" + repeat("[.", 500) + "', \"\"\"\n" +
           repeat("[", 500) + "\"\"\"\", '''" + repeat("{", 500) + "''']\n",
       ""},
      {"quoted key parts", "[build]\n\"" + repeat(".", 500) + "\" = 1\n",
       "tovix.toml: unknown field `" + repeat(".", 500) +
           "`, expected one of `in`, `out`, `include`, `exclude`, `clean` for key `build`"},
      {"brackets in a comment", "# " + repeat("[", 500) + "\n[build]\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(message_of(c.text), c.message);
  }
}

TEST(ConfigRaw, FirstShapeErrorInDocumentOrderIsReported) {
  // toml++ iterates tables sorted by key; the report follows the file.
  EXPECT_EQ(message_of("[build]\nzzz = 1\naaa = 2\n"),
            "tovix.toml: unknown field `zzz`, expected one of `in`, `out`, `include`, `exclude`, `clean` for key "
            "`build`");
  EXPECT_EQ(message_of("[lints]\n[zeta]\n[alpha]\n"),
            "tovix.toml: unknown field `zeta`, expected one of `elements`, `properties`, `lints`, `factory`, "
            "`build`");
}

TEST(ConfigRaw, AcceptsToml11Syntax) {
  const Config config = loaded(
      "build = {\n"
      "  in = \"src\",  # newlines and comments inside an inline table\n"
      "  out = \"\\e[0m\\x41\",\n"
      "  include = [\"a\", \"b\",],\n"
      "}\n");
  EXPECT_EQ(config.build.in_dir, "src");
  EXPECT_EQ(config.build.out_dir, "\x1b[0mA");
  EXPECT_EQ(config.build.include, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(loaded("[build]\nout = \"\\xe9\"\n").build.out_dir, "\xc3\xa9");  // \xHH is a code point
}

TEST(ConfigRaw, CharactersTomlppCannotClassifyKeepTheirMeaning) {
  // é, §, あ and ﶿ fall where toml++ 3.3.0 cannot classify characters; they
  // are parsed through stand-ins and come back unchanged.
  const Config config = loaded(R"toml(# ﶿ in a comment
[build]
in = "ﶿ/é"
out = """\
      §"""
include = ["""a""あ""""", '''ﶿ''''', "\"ﶿ"]
[elements]
Frame = "Bö"
)toml");
  EXPECT_EQ(config.build.in_dir, "ﶿ/é");
  EXPECT_EQ(config.build.out_dir, "§");
  EXPECT_EQ(config.build.include, (std::vector<std::string>{"a\"\"あ\"\"", "ﶿ''", "\"ﶿ"}));
  EXPECT_EQ(config.element_aliases.at("Bö"), "Frame");
  static const MessageCase cases[] = {
      {"as a bare key", "[elements]\nété = \"x\"\n",
       "tovix.toml: Error while parsing root table: expected keys, tables, whitespace or comments, saw 'é'"},
      {"in a number", "[build]\nclean = 1é\n",
       "tovix.toml: Error while parsing decimal integer: expected digit, saw 'é'"},
      {"after a value", "[build]\nclean = true あ\n",
       "tovix.toml: Error while parsing key-value pair: expected a comment or whitespace, saw 'あ'"},
      {"escaped in a multi-line string", "[build]\nin = \"\"\"x\\é\"\"\"\n",
       "tovix.toml: Error while parsing string: unknown escape sequence '\\é'"},
      {"in a quoted key", "[build]\n\"é\" = true\n",
       "tovix.toml: unknown field `é`, expected one of `in`, `out`, `include`, `exclude`, `clean` for key `build`"},
      {"with private-use characters", "[build]\nin = \"é\\uE001\"\n",
       "tovix.toml: Error while parsing: the private-use character U+E001 cannot be used together with U+00E9"},
  };
  check_messages(std::begin(cases), std::end(cases));
  EXPECT_EQ(loaded("[build]\nin = \"\\uE001\"\n").build.in_dir, "\uE001");  // fine on its own
}

TEST(ConfigChecks, LintLevel) {
  EXPECT_EQ(loaded("[lints]\nstatic_conditional_child = \"off\"\n").static_conditional_child, LintLevel::Off);
  EXPECT_EQ(loaded("[lints]\nstatic_conditional_child = \"warn\"\n").static_conditional_child, LintLevel::Warn);
  EXPECT_EQ(loaded("[lints]\nstatic_conditional_child = \"error\"\n").static_conditional_child, LintLevel::Error);
  EXPECT_EQ(message_of("[lints]\nstatic_conditional_child = \"Error\"\n"),
            "tovix.toml: [lints] static_conditional_child = \"Error\" is not one of off, warn, error");
}

TEST(ConfigChecks, BuildIsCopiedAsWritten) {
  const Config config = loaded(
      "[build]\nin = \"src\"\nout = \"../out dir\"\ninclude = []\nexclude = [\"**/*.spec.tovix\"]\nclean = true\n");
  EXPECT_EQ(config.build.in_dir, "src");
  EXPECT_EQ(config.build.out_dir, "../out dir");
  EXPECT_TRUE(config.build.include.empty());
  EXPECT_EQ(config.build.exclude, std::vector<std::string>{"**/*.spec.tovix"});
  EXPECT_TRUE(config.build.clean);
  EXPECT_FALSE(loaded("[build]\nclean = false\n").build.clean);
}

TEST(ConfigChecks, Factory) {
  EXPECT_EQ(loaded("[factory]\ncreate = \" \\t vide.create\\u3000\"\n").create, "vide.create");
  EXPECT_EQ(loaded("[factory]\ncreate = \"scope:New\"\n").create, "scope:New");
  EXPECT_EQ(loaded("[factory]\ncreate = \"ui.vide.create\"\n").create, "ui.vide.create");
  EXPECT_EQ(loaded("[factory]\ncreate = \"factories[1]\"\n").create, "factories[1]");
  EXPECT_EQ(loaded("[factory]\ncreate = \"make()\"\n").create, "make()");
  EXPECT_EQ(loaded("[factory]\ncreate = \"vide --[[the library]] .create\"\n").create,
            "vide --[[the library]] .create");
  EXPECT_EQ(loaded("[factory]\ncreate = \"vide.create --[[the factory]]\"\n").create, "vide.create --[[the factory]]");
  EXPECT_EQ(loaded("[factory]\ncreate = \"--[[the factory]] vide.create\"\n").create, "--[[the factory]] vide.create");
  static const MessageCase cases[] = {
      {"blank", "[factory]\ncreate = \" \\u00a0 \"\n", "tovix.toml: [factory] create cannot be empty"},
      {"two dots", "[factory]\ncreate = \" vide..create \"\n",
       "tovix.toml: [factory] create = \"vide..create\" has a `.` with no name beside it; it has to name a "
       "function, as create, vide.create, or scope:New"},
      {"ends in a dot", "[factory]\ncreate = \"vide.\"\n",
       "tovix.toml: [factory] create = \"vide.\" is not something tovix can call; it has to name a function, as "
       "create, vide.create, or scope:New"},
      {"method without a name", "[factory]\ncreate = \"scope:\"\n",
       "tovix.toml: [factory] create = \"scope:\" is not something tovix can call; it has to name a function, as "
       "create, vide.create, or scope:New"},
      {"two words", "[factory]\ncreate = \"vide create\"\n",
       "tovix.toml: [factory] create = \"vide create\" is not something tovix can call; it has to name a "
       "function, as create, vide.create, or scope:New"},
      {"breaks out of the probe", "[factory]\ncreate = \"f)\"\n",
       "tovix.toml: [factory] create = \"f)\" is not something tovix can call; it has to name a function, as "
       "create, vide.create, or scope:New"},
      {"brackets balanced against the call", "[factory]\ncreate = \"f)(g\"\n",
       "tovix.toml: [factory] create = \"f)(g\" is not something tovix can call; it has to name a function, as "
       "create, vide.create, or scope:New"},
      {"a call of its own", "[factory]\ncreate = \"f(x) g\"\n",
       "tovix.toml: [factory] create = \"f(x) g\" is not something tovix can call; it has to name a function, as "
       "create, vide.create, or scope:New"},
      {"a number", "[factory]\ncreate = \"42\"\n",
       "tovix.toml: [factory] create = \"42\" is not something tovix can call; it has to name a function, as "
       "create, vide.create, or scope:New"},
  };
  check_messages(std::begin(cases), std::end(cases));
}

TEST(ConfigChecks, Casings) {
  EXPECT_EQ(loaded("[elements]\nall = \"snake_case\"\n").element_casing, Casing::SnakeCase);
  EXPECT_EQ(loaded("[properties]\nall = \"camelCase\"\n").property_casing, Casing::CamelCase);
  // A table under `[properties] all` is neither a casing nor a class.
  const Config ignored = loaded("[properties]\nall = { x = \"y\" }\n");
  EXPECT_EQ(ignored, Config{});
  static const MessageCase cases[] = {
      {"element casing spelled wrongly", "[elements]\nall = \"CamelCase\"\n",
       "tovix.toml: [elements] all = \"CamelCase\" is not one of PascalCase, camelCase, snake_case, flatcase"},
      {"property casing spelled wrongly", "[properties]\nall = \"kebab-case\"\n",
       "tovix.toml: [properties] all = \"kebab-case\" is not one of PascalCase, camelCase, snake_case, flatcase"},
  };
  check_messages(std::begin(cases), std::end(cases));
}

TEST(ConfigChecks, StepsRunInTheirOrder) {
  // Each text holds several problems; the earliest step wins.
  static const MessageCase cases[] = {
      {"lints before factory", "[factory]\ncreate = \"\"\n[lints]\nstatic_conditional_child = \"no\"\n",
       "tovix.toml: [lints] static_conditional_child = \"no\" is not one of off, warn, error"},
      {"factory before elements", "[elements]\nall = \"x\"\n[factory]\ncreate = \"\"\n",
       "tovix.toml: [factory] create cannot be empty"},
      {"element casing before properties", "[properties]\nall = \"x\"\n[elements]\nall = \"y\"\n",
       "tovix.toml: [elements] all = \"y\" is not one of PascalCase, camelCase, snake_case, flatcase"},
      {"raw shape before every check", "[lints]\nstatic_conditional_child = \"no\"\n[build]\nclean = 1\n",
       "tovix.toml: invalid type: integer `1`, expected a boolean for key `build.clean`"},
  };
  check_messages(std::begin(cases), std::end(cases));
}

TEST(ConfigChecks, Elements) {
  const Config config = loaded("[elements]\nFrame = \"Box\"\nTextLabel = \"Frame\"\nUIListLayout = \"UIListLayout\"\n");
  EXPECT_EQ(config.element_aliases,
            (tovix::config::NameMap{{"Box", "Frame"}, {"Frame", "TextLabel"}, {"UIListLayout", "UIListLayout"}}));
  EXPECT_EQ(config.element_renames,
            (tovix::config::NameMap{{"Frame", "Box"}, {"TextLabel", "Frame"}, {"UIListLayout", "UIListLayout"}}));
  static const MessageCase cases[] = {
      {"not creatable, nothing near", "[elements]\nGuiObject = \"G\"\n",
       "tovix.toml: [elements] GuiObject is not a creatable Roblox class"},
      {"near a creatable class", "[elements]\nFram = \"F\"\n",
       "tovix.toml: [elements] Fram is not a creatable Roblox class; did you mean Frame?"},
      {"one alias for two classes", "[elements]\nFrame = \"box\"\nTextLabel = \"box\"\n",
       "tovix.toml: [elements] Frame and TextLabel both claim the alias \"box\""},
      {"clash named in document order", "[elements]\nTextLabel = \"box\"\nFrame = \"box\"\n",
       "tovix.toml: [elements] TextLabel and Frame both claim the alias \"box\""},
      {"first bad entry as written", "[elements]\nTextLable = \"a\"\nFram = \"b\"\n",
       "tovix.toml: [elements] TextLable is not a creatable Roblox class; did you mean TextLabel?"},
  };
  check_messages(std::begin(cases), std::end(cases));
}

TEST(ConfigChecks, Properties) {
  const Config config = loaded(
      "[properties]\nSize = \"size\"\nChanged = \"onChange\"\n\"Pivot Offset\" = \"pivot\"\n"
      "[properties.TextLabel]\nText = \"label\"\nChanged = \"changed\"\nAutoLocalize = \"abs\"\n");
  EXPECT_EQ(config.property_renames,
            (tovix::config::NameMap{{"Changed", "onChange"}, {"Pivot Offset", "pivot"}, {"Size", "size"}}));
  ASSERT_EQ(config.class_property_renames.size(), 1u);
  EXPECT_EQ(config.class_property_renames.at("TextLabel"),
            (tovix::config::NameMap{{"AutoLocalize", "abs"}, {"Changed", "changed"}, {"Text", "label"}}));
  static const MessageCase cases[] = {
      {"no class declares it", "[properties]\nQqqqqqqq = \"q\"\n",
       "tovix.toml: [properties] Qqqqqqqq is not a property or event of any Roblox class"},
      {"near a member of some class", "[properties]\nSise = \"s\"\n",
       "tovix.toml: [properties] Sise is not a property or event of any Roblox class; did you mean Side?"},
      {"class table for a non-creatable class", "[properties.GuiObject]\nSize = \"s\"\n",
       "tovix.toml: [properties.GuiObject] is not a creatable Roblox class"},
      {"class table near a creatable class", "[properties.TextLable]\nText = \"s\"\n",
       "tovix.toml: [properties.TextLable] is not a creatable Roblox class; did you mean TextLabel?"},
      {"member of no ancestor, nothing near", "[properties.Frame]\nText = \"t\"\n",
       "tovix.toml: [properties.Frame] Frame has no property or event named Text"},
      {"two suggestions", "[properties.TextButton]\nMouseButton1Clik = \"click\"\n",
       "tovix.toml: [properties.TextButton] TextButton has no property or event named MouseButton1Clik; did you "
       "mean MouseButton1Click or MouseButton2Click?"},
      {"three suggestions", "[properties.TextLabel]\nColor = \"c\"\n",
       "tovix.toml: [properties.TextLabel] TextLabel has no property or event named Color; did you mean "
       "TextColor3, BorderColor3 or BackgroundColor3?"},
      {"first bad member as written", "[properties.Frame]\nSize = \"s\"\nZzzzzzzz = \"z\"\nAaaaaaaa = \"a\"\n",
       "tovix.toml: [properties.Frame] Frame has no property or event named Zzzzzzzz"},
      {"elements before properties", "[properties]\nQqqqqqqq = \"q\"\n[elements]\nGuiObject = \"G\"\n",
       "tovix.toml: [elements] GuiObject is not a creatable Roblox class"},
      {"factory before elements", "[elements]\nGuiObject = \"G\"\n[factory]\ncreate = \"a..b\"\n",
       "tovix.toml: [factory] create = \"a..b\" has a `.` with no name beside it; it has to name a function, as "
       "create, vide.create, or scope:New"},
  };
  check_messages(std::begin(cases), std::end(cases));
}

TEST(CasingParse, OnlyTheFourExactTexts) {
  EXPECT_EQ(Casing::parse("PascalCase"), Casing::PascalCase);
  EXPECT_EQ(Casing::parse("camelCase"), Casing::CamelCase);
  EXPECT_EQ(Casing::parse("snake_case"), Casing::SnakeCase);
  EXPECT_EQ(Casing::parse("flatcase"), Casing::FlatCase);
  for (std::string_view text : {"camelcase", "Flatcase", "pascalcase", "snake_case ", ""})
    EXPECT_EQ(Casing::parse(text), std::nullopt) << text;
}

TEST(CasingApply, RobloxNames) {
  struct Case {
    std::string_view name, camel, snake, flat;
  };
  static const Case cases[] = {
      {"UIListLayout", "uiListLayout", "ui_list_layout", "uilistlayout"},
      {"TextLabel", "textLabel", "text_label", "textlabel"},
      {"BackgroundColor3", "backgroundColor3", "background_color3", "backgroundcolor3"},
      {"TextXAlignment", "textXAlignment", "text_x_alignment", "textxalignment"},
      {"CFrame", "cFrame", "c_frame", "cframe"},
      {"Index1TposeAdjustment", "index1TposeAdjustment", "index1_tpose_adjustment", "index1tposeadjustment"},
      {"ColorShift_Bottom", "colorShift_bottom", "color_shift_bottom", "colorshift_bottom"},
      {"Pivot Offset", "pivot offset", "pivot offset", "pivot offset"},
      {"MouseButton1Click", "mouseButton1Click", "mouse_button1_click", "mousebutton1click"},
      {"UDim2", "uDim2", "u_dim2", "udim2"},
      {"childAdded", "childAdded", "child_added", "childadded"},
      {"GUI", "gui", "gui", "gui"},
      {"X", "x", "x", "x"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Casing(Casing::PascalCase).apply(c.name), c.name);
    EXPECT_EQ(Casing(Casing::CamelCase).apply(c.name), c.camel);
    EXPECT_EQ(Casing(Casing::SnakeCase).apply(c.name), c.snake);
    EXPECT_EQ(Casing(Casing::FlatCase).apply(c.name), c.flat);
  }
}

TEST(CasingApply, UnicodeLettersDigitsAndBadBytes) {
  const Casing camel = Casing::CamelCase, snake = Casing::SnakeCase, flat = Casing::FlatCase;
  EXPECT_EQ(snake.apply("ÉtéÀVenir"), "été_à_venir");  // two-byte capitals
  EXPECT_EQ(camel.apply("ÉtéÀVenir"), "étéÀVenir");
  EXPECT_EQ(camel.apply("STRASSEStraße"), "strasseStraße");
  EXPECT_EQ(snake.apply("Part٣Name"), "part٣_name");  // an Arabic-Indic digit is numeric
  EXPECT_EQ(snake.apply("aⅫb"), "a_ⅻb");              // Roman numerals are upper-case letters
  EXPECT_EQ(flat.apply("İx"), "i\xcc\x87x");          // full lower-case mapping
  EXPECT_EQ(snake.apply("A\xff"
                        "Bc\xe2\x82"),
            "a\xff"
            "bc\xe2\x82");  // bad bytes pass through
}

TEST(ConfigLoad, MissingFileGivesDefaultsAndUnreadableFilesGiveThePath) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tovix-config-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto result = Config::load(dir);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, Config{});

  const std::filesystem::path file = dir / "tovix.toml";
  std::ofstream(file) << "[factory]\ncreate = \"vide.create\"\n";
  ASSERT_TRUE(Config::load(dir).has_value());
  EXPECT_EQ(Config::load(dir)->create, "vide.create");

  std::ofstream(file) << "[lints]\nstatic_conditional_child = \"sometimes\"\n";
  EXPECT_EQ(Config::load(dir).error().message,
            "tovix.toml: [lints] static_conditional_child = \"sometimes\" is not one of off, warn, error");

  std::ofstream(file) << "[build]\nin = \"\xff\"\n";
  EXPECT_EQ(Config::load(dir).error().message, file.string() + ": stream did not contain valid UTF-8");

  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_EQ(Config::load(dir).error().message, file.string() + ": Is a directory");
  std::filesystem::remove(file);

  if (::geteuid() != 0) {  // root reads anything
    std::ofstream(file) << "";
    ::chmod(file.c_str(), 0);
    EXPECT_EQ(Config::load(dir).error().message, file.string() + ": Permission denied");
  }
  std::filesystem::remove_all(dir);
}

// A settings file past the limit is refused after reading one byte more
// than it: a sparse file of 1 GiB and a file that never ends alike.
TEST(ConfigLoad, FilesPastTheSizeLimitAreRefusedUnread) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tovix-config-size-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / "tovix.toml";
  const std::string TOO_LARGE = "tovix.toml: the file is larger than 1 MiB (1048576 bytes)";
  // Comment lines of 64 bytes, up to `size` bytes with a final partial line.
  auto comments = [](std::size_t size) {
    std::string text;
    while (text.size() + 64 < size) text += "# " + std::string(61, 'c') + "\n";
    text += "#" + std::string(size - text.size() - 1, 'c');
    return text;
  };

  std::ofstream(file, std::ios::binary) << comments(Config::MAX_FILE_SIZE);
  ASSERT_TRUE(Config::load(dir).has_value()) << Config::load(dir).error().message;

  std::ofstream(file, std::ios::binary) << comments(Config::MAX_FILE_SIZE + 1);
  EXPECT_EQ(Config::load(dir).error().message, TOO_LARGE);

  std::ofstream(file, std::ios::binary | std::ios::trunc).close();
  fs::resize_file(file, std::uintmax_t{1} << 30);  // sparse: no block is written
  EXPECT_EQ(Config::load(dir).error().message, TOO_LARGE);

  fs::remove(file);
  fs::create_symlink("/dev/zero", file);
  EXPECT_EQ(Config::load(dir).error().message, TOO_LARGE);
  fs::remove_all(dir);
}

}  // namespace

namespace {

using tovix::config::preferred;

// The answer of resolve_element as one text: the class, "none", or "error: …".
std::string element(const Config& config, std::string_view name) {
  auto result = config.resolve_element(name);
  if (!result) return "error: " + result.error().message;
  return result->value_or("none");
}

std::string property(const Config& config, std::string_view class_name, std::string_view attribute) {
  auto result = config.resolve_property(class_name, attribute);
  return result ? *result : "error: " + result.error().message;
}

TEST(Lookups, DefaultConfigurationPassesNamesThrough) {
  const Config config;
  EXPECT_EQ(element(config, "Frame"), "none");
  EXPECT_EQ(element(config, "frame"), "none");
  EXPECT_EQ(property(config, "TextLabel", "TextColor3"), "TextColor3");
  EXPECT_EQ(property(config, "TextLabel", "anything"), "anything");
  EXPECT_EQ(config.element_name("Frame"), "Frame");
  EXPECT_EQ(config.property_name("Frame", "Size"), "Size");
}

TEST(Lookups, ElementAliasesRoundTrip) {
  const Config config = loaded("[elements]\nFrame = \"Box\"\nTextButton = \"TextButton\"\nImageLabel = \"Frame\"\n");
  struct Case {
    std::string_view written, resolved;
  };
  static const Case cases[] = {
      {"Box", "Frame"},
      {"Frame", "ImageLabel"},  // an alias may be another class's name
      {"TextButton", "TextButton"},
      {"ImageLabel", "error: <ImageLabel> was renamed by tovix.toml; use <Frame>"},
      {"TextLabel", "none"},
      {"box", "none"},
  };
  for (const Case& c : cases) EXPECT_EQ(element(config, c.written), c.resolved) << c.written;
  // Every alias leads back to its class, and every class to its alias.
  for (const auto& [class_name, alias] : config.element_renames) {
    EXPECT_EQ(config.element_name(class_name), alias);
    EXPECT_EQ(element(config, config.element_name(class_name)), class_name);
  }
}

TEST(Lookups, ElementCasing) {
  const Config snake = loaded("[elements]\nall = \"snake_case\"\n");
  EXPECT_EQ(element(snake, "text_label"), "TextLabel");
  EXPECT_EQ(element(snake, "ui_list_layout"), "UIListLayout");
  EXPECT_EQ(element(snake, "TextLabel"), "error: <TextLabel> was renamed by [elements] all; use <text_label>");
  EXPECT_EQ(element(snake, "MyComponent"), "none");
  EXPECT_EQ(element(snake, "GuiObject"), "none");  // not creatable, so not renamed

  const Config aliased = loaded("[elements]\nall = \"flatcase\"\nFrame = \"Box\"\n");
  EXPECT_EQ(element(aliased, "frame"), "none");  // a class with an alias is not found under its cased name
  EXPECT_EQ(element(aliased, "Frame"), "error: <Frame> was renamed by tovix.toml; use <Box>");
  EXPECT_EQ(element(aliased, "textlabel"), "TextLabel");

  // Every creatable class without an alias comes back from its cased name.
  for (std::string_view casing : {"camelCase", "snake_case", "flatcase"}) {
    const Config config = loaded(std::string("[elements]\nall = \"") + std::string(casing) + "\"\n");
    for (std::string_view class_name : tovix::roblox::creatable_classes()) {
      const std::string written = config.element_casing.apply(class_name);
      const std::string resolved = element(config, written);
      if (resolved != class_name)
        ADD_FAILURE() << casing << ": " << class_name << " → " << written << " → " << resolved;
    }
  }
}

TEST(Lookups, PropertyCasing) {
  const Config camel = loaded("[properties]\nall = \"camelCase\"\n");
  EXPECT_EQ(property(camel, "TextLabel", "textColor3"), "TextColor3");
  EXPECT_EQ(property(camel, "TextLabel", "TextColor3"),
            "error: TextColor3 was renamed by [properties] all; use textColor3");
  EXPECT_EQ(property(camel, "Part", "brickColor"), "BrickColor");  // the deprecated spelling loses
  EXPECT_EQ(property(camel, "Frame", "childAdded"), "ChildAdded");
  EXPECT_EQ(property(camel, "Frame", "mouseEnter"), "MouseEnter");  // an event
  EXPECT_EQ(property(camel, "Frame", "notAMember"), "notAMember");
  EXPECT_EQ(property(camel, "Frame", "Text"), "Text");  // not a member of Frame: left to the resolver

  const Config snake = loaded("[properties]\nall = \"snake_case\"\nSize = \"dimensions\"\n");
  EXPECT_EQ(property(snake, "Frame", "background_color3"), "BackgroundColor3");
  EXPECT_EQ(property(snake, "Frame", "dimensions"), "Size");
  EXPECT_EQ(property(snake, "Frame", "size"), "size");  // renamed members are not found under their cased name
  EXPECT_EQ(property(snake, "Frame", "Size"), "error: Size was renamed by tovix.toml; use dimensions");
}

TEST(Lookups, PropertyRenamesRoundTrip) {
  const Config config = loaded("[properties]\nText = \"content\"\n[properties.TextLabel]\nText = \"caption\"\n");
  EXPECT_EQ(property(config, "TextButton", "content"), "Text");
  EXPECT_EQ(property(config, "TextButton", "Text"), "error: Text was renamed by tovix.toml; use content");
  EXPECT_EQ(property(config, "TextLabel", "caption"), "Text");
  EXPECT_EQ(property(config, "TextLabel", "content"), "content");
  EXPECT_EQ(property(config, "TextLabel", "Text"), "error: Text was renamed by tovix.toml; use caption");
  EXPECT_EQ(property(config, "Frame", "content"), "Text");  // global aliases apply to every class
  EXPECT_EQ(config.property_name("TextLabel", "Text"), "caption");
  EXPECT_EQ(config.property_name("TextButton", "Text"), "content");
  EXPECT_EQ(config.property_name("TextLabel", "Size"), "Size");
  for (std::string_view class_name : {"TextLabel", "TextButton", "TextBox"})
    EXPECT_EQ(property(config, class_name, config.property_name(class_name, "Text")), "Text") << class_name;
}

TEST(Preferred, DropsDeprecatedNamesThenTakesTheByteOrderSmallest) {
  struct Case {
    std::vector<std::string_view> candidates;
    std::optional<std::string_view> chosen;
    std::vector<std::string_view> left;
  };
  const Case cases[] = {
      {{"brickColor", "BrickColor"}, "BrickColor", {"BrickColor"}},
      {{"brickColor"}, "brickColor", {"brickColor"}},
      {{"TextWrap", "brickColor"}, "TextWrap", {"TextWrap", "brickColor"}},  // both deprecated
      {{"text", "Text"}, "Text", {"Text", "text"}},                          // neither deprecated
      {{}, std::nullopt, {}},
  };
  for (Case c : cases) {
    EXPECT_EQ(preferred(c.candidates), c.chosen);
    EXPECT_EQ(c.candidates, c.left);
  }
}

}  // namespace
