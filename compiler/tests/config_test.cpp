#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "config.h"

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
      {"syntax error, no position", "[elements\n", "tovix.toml: Error while parsing table header: expected ']', saw '\\n'"},
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
      {"build not a table", "build = [1]\n", "tovix.toml: invalid type: sequence, expected struct RawBuild for key `build`"},
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
  static const MessageCase cases[] = {
      {"blank", "[factory]\ncreate = \" \\u00a0 \"\n", "tovix.toml: [factory] create cannot be empty"},
      {"two dots", "[factory]\ncreate = \" vide..create \"\n",
       "tovix.toml: [factory] create = \"vide..create\" has a `.` with no name beside it; it has to name a "
       "function, as create, vide.create, or scope:New"},
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
      {"lints before factory",
       "[factory]\ncreate = \"\"\n[lints]\nstatic_conditional_child = \"no\"\n",
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
  EXPECT_EQ(snake.apply("aⅫb"), "a_ⅻb");           // Roman numerals are upper-case letters
  EXPECT_EQ(flat.apply("İx"), "i\xcc\x87x");         // full lower-case mapping
  EXPECT_EQ(snake.apply("A\xff" "Bc\xe2\x82"), "a\xff" "bc\xe2\x82");  // bad bytes pass through
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

}  // namespace
