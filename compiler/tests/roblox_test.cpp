#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <ranges>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tovix/roblox/generated.h"
#include "tovix/roblox/roblox.h"

namespace {

using tovix::roblox::generated::ClassInfo;
using tovix::roblox::generated::CLASSES;
using tovix::roblox::generated::DEPRECATED_MEMBERS;
namespace roblox = tovix::roblox;

template <typename Range>
std::vector<std::string_view> collect(const Range& range) {
  std::vector<std::string_view> out;
  for (std::string_view name : range) out.push_back(name);
  return out;
}

std::vector<std::string_view> split(std::string_view text) {
  std::vector<std::string_view> out;
  if (text.empty()) return out;
  for (auto piece : std::views::split(text, std::string_view(", "))) out.emplace_back(piece.begin(), piece.end());
  return out;
}

// Catches a regenerated table that drifts from the data it was made from.
TEST(RobloxTable, Totals) {
  EXPECT_EQ(CLASSES.size(), 898u);
  std::size_t creatable = 0, properties = 0, events = 0;
  std::set<std::string_view> property_names, event_names;
  for (const ClassInfo& record : CLASSES) {
    creatable += record.creatable;
    properties += record.properties.size();
    events += record.events.size();
    property_names.insert(record.properties.begin(), record.properties.end());
    event_names.insert(record.events.begin(), record.events.end());
  }
  EXPECT_EQ(creatable, 356u);
  EXPECT_EQ(properties, 2043u);
  EXPECT_EQ(property_names.size(), 1382u);
  EXPECT_EQ(events, 816u);
  EXPECT_EQ(event_names.size(), 662u);
  EXPECT_EQ(DEPRECATED_MEMBERS.size(), 165u);

  // The by-length list holds each property or event name exactly once.
  std::set<std::string_view> members(property_names);
  members.insert(event_names.begin(), event_names.end());
  const auto by_length = tovix::roblox::generated::MEMBER_NAMES_BY_LENGTH;
  EXPECT_EQ(std::set<std::string_view>(by_length.begin(), by_length.end()), members);
  EXPECT_EQ(by_length.size(), members.size());
}

TEST(RobloxTable, OrderAndShape) {
  // Strictly ascending: sorted and unique.
  EXPECT_TRUE(std::ranges::adjacent_find(CLASSES, std::ranges::greater_equal{}, &ClassInfo::name) == CLASSES.end());
  EXPECT_TRUE(std::ranges::adjacent_find(DEPRECATED_MEMBERS, std::ranges::greater_equal{}) == DEPRECATED_MEMBERS.end());
  std::size_t outside = 0;
  for (const ClassInfo& record : CLASSES) {
    SCOPED_TRACE(record.name);
    EXPECT_TRUE(std::ranges::is_sorted(record.properties));
    EXPECT_TRUE(std::ranges::is_sorted(record.events));
    if (roblox::lookup(record.superclass) == nullptr) {
      ++outside;
      EXPECT_EQ(record.name, "Object");
    }
    // Every chain ends at Object, and no property is declared twice along it.
    std::set<std::string_view> seen;
    std::string_view last;
    std::size_t length = 0;
    for (const ClassInfo& r : roblox::ancestry(record.name)) {
      last = r.name;
      ++length;
      for (std::string_view p : r.properties) EXPECT_TRUE(seen.insert(p).second) << p;
    }
    EXPECT_EQ(last, "Object");
    EXPECT_LE(length, 7u);
  }
  EXPECT_EQ(outside, 1u);
  EXPECT_EQ(roblox::lookup("Object")->superclass, "<<<ROOT>>>");
}

struct Row {
  std::string_view name, superclass;
  bool creatable;
  std::string_view properties, events;
};

const Row ROWS[] = {
    {"Object", "<<<ROOT>>>", false, "", "Changed"},
    {"Instance", "Object", false, "Archivable, Capabilities, Name, Parent, Sandboxed",
     "AncestryChanged, AttributeChanged, ChildAdded, ChildRemoved, DescendantAdded, DescendantRemoving, "
     "Destroying, StyledPropertiesChanged, childAdded"},
    {"GuiBase", "Instance", false, "", ""},
    {"GuiButton", "GuiObject", false, "AutoButtonColor, HoverHapticEffect, Modal, PressHapticEffect, Selected, Style",
     "Activated, MouseButton1Click, MouseButton1Down, MouseButton1Up, MouseButton2Click, MouseButton2Down, "
     "MouseButton2Up, SecondaryActivated"},
    {"TextBox", "GuiObject", true,
     "ClearTextOnFocus, CursorPosition, FontFace, FontSize, LineHeight, MaxVisibleGraphemes, MultiLine, "
     "OpenTypeFeatures, PlaceholderColor3, PlaceholderText, RichText, SelectionStart, ShowNativeInput, Text, "
     "TextColor3, TextDirection, TextEditable, TextScaled, TextSize, TextStrokeColor3, TextStrokeTransparency, "
     "TextTransparency, TextTruncate, TextWrap, TextWrapped, TextXAlignment, TextYAlignment",
     "FocusLost, Focused, ReturnPressedFromOnScreenKeyboard"},
    {"Frame", "GuiObject", true, "Style", ""},
    {"ScreenGui", "LayerCollector", true,
     "ClipToDeviceSafeArea, DisplayOrder, IgnoreGuiInset, SafeAreaCompatibility, ScreenInsets", ""},
    {"UIListLayout", "UIGridStyleLayout", true, "HorizontalFlex, ItemLineAlignment, Padding, VerticalFlex, Wraps", ""},
    {"UIStroke", "UIComponent", true,
     "ApplyStrokeMode, BorderOffset, BorderStrokePosition, Color, Enabled, LineJoinMode, StrokeSizingMode, "
     "Thickness, Transparency, ZIndex",
     ""},
    {"PVInstance", "Instance", false, "Origin, Pivot Offset", ""},
    {"BasePart", "PVInstance", false,
     "Anchored, AssemblyAngularVelocity, AssemblyLinearVelocity, AudioCanCollide, BackSurface, BottomSurface, "
     "BrickColor, CFrame, CanCollide, CanQuery, CanTouch, CastShadow, CollisionGroup, CollisionGroupId, Color, "
     "CustomPhysicalProperties, EnableFluidForces, FrontSurface, LeftSurface, Locked, Massless, Material, "
     "MaterialVariant, PivotOffset, Reflectance, RightSurface, RootPriority, Rotation, Size, TopSurface, "
     "Transparency, brickColor",
     "LocalSimulationTouched, OutfitChanged, StoppedTouching, TouchEnded, Touched"},
    {"StarterPlayer", "Instance", false,
     "AutoJumpEnabled, CameraMaxZoomDistance, CameraMinZoomDistance, CameraMode, CharacterBreakJointsOnDeath, "
     "CharacterJumpHeight, CharacterJumpPower, CharacterMaxSlopeAngle, CharacterUseJumpPower, CharacterWalkSpeed, "
     "ClassicDeath, CreateDefaultPlayerModule, DevCameraOcclusionMode, DevComputerCameraMovementMode, "
     "DevComputerMovementMode, DevTouchCameraMovementMode, DevTouchMovementMode, EnableDynamicHeads, "
     "EnableMouseLockOption, HealthDisplayDistance, LoadCharacterAppearance, LoadCharacterLayeredClothing , "
     "LuaCharacterController, NameDisplayDistance, UserEmotesEnabled",
     ""},
    {"Lighting", "Instance", false,
     "Ambient, Brightness, ClockTime, ColorShift_Bottom, ColorShift_Top, EnvironmentDiffuseScale, "
     "EnvironmentSpecularScale, ExposureCompensation, ExtendLightRangeTo120, FogColor, FogEnd, FogStart, "
     "GeographicLatitude, GlobalShadows, OutdoorAmbient, Outlines, ShadowColor, ShadowSoftness, TimeOfDay",
     "LightingChanged"},
};

TEST(RobloxTable, Rows) {
  for (const Row& row : ROWS) {
    SCOPED_TRACE(row.name);
    const ClassInfo* record = roblox::lookup(row.name);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->superclass, row.superclass);
    EXPECT_EQ(record->creatable, row.creatable);
    EXPECT_EQ(collect(record->properties), split(row.properties));
    EXPECT_EQ(collect(record->events), split(row.events));
  }
}

TEST(RobloxIndex, LookupIsExact) {
  ASSERT_NE(roblox::lookup("Frame"), nullptr);
  EXPECT_EQ(roblox::lookup("Frame")->name, "Frame");
  EXPECT_EQ(roblox::lookup("frame"), nullptr);
  EXPECT_EQ(roblox::lookup("Frame "), nullptr);
  EXPECT_EQ(roblox::lookup(""), nullptr);
  EXPECT_EQ(roblox::lookup("<<<ROOT>>>"), nullptr);
  EXPECT_EQ(roblox::index().size(), 898u);
}

TEST(RobloxIndex, BuiltOnceAcrossThreads) {
  std::vector<const roblox::Index*> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = &roblox::index(); });
  for (auto& t : threads) t.join();
  for (const auto* p : seen) EXPECT_EQ(p, seen.front());
}

TEST(RobloxIndex, IsClass) {
  const std::pair<std::string_view, bool> cases[] = {
      {"Frame", true},     {"TextLabel", true}, {"Folder", true}, {"TestService", true}, {"GuiObject", false},
      {"Instance", false}, {"Players", false},  {"frame", false}, {"Nope", false},       {"", false},
  };
  for (auto [name, expected] : cases) EXPECT_EQ(roblox::is_class(name), expected) << name;
}

TEST(RobloxIndex, Superclass) {
  EXPECT_EQ(roblox::superclass("TextLabel"), "GuiLabel");
  EXPECT_EQ(roblox::superclass("Frame"), "GuiObject");
  EXPECT_EQ(roblox::superclass("Instance"), "Object");
  EXPECT_EQ(roblox::superclass("Object"), std::nullopt);
  EXPECT_EQ(roblox::superclass("frame"), std::nullopt);
}

TEST(RobloxIndex, Ancestry) {
  std::vector<std::string_view> names;
  for (const ClassInfo& r : roblox::ancestry("TextLabel")) names.push_back(r.name);
  EXPECT_EQ(names, split("TextLabel, GuiLabel, GuiObject, GuiBase2d, GuiBase, Instance, Object"));
  EXPECT_TRUE(roblox::ancestry("textlabel").empty());
  EXPECT_EQ(roblox::ancestry("textlabel").begin(), roblox::ancestry("Nope").begin());
}

TEST(RobloxIndex, MembersAlongAncestry) {
  EXPECT_TRUE(collect(roblox::properties("Object")).empty());
  EXPECT_EQ(collect(roblox::events("Object")), split("Changed"));
  EXPECT_TRUE(collect(roblox::properties("Nope")).empty());
  EXPECT_TRUE(collect(roblox::events("textlabel")).empty());

  // Own lists first, then each ancestor's; classes declaring nothing are skipped.
  std::vector<std::string_view> expected = collect(roblox::lookup("TextLabel")->properties);
  for (std::string_view cls : {"GuiObject", "GuiBase2d", "Instance"}) {
    auto own = roblox::lookup(cls)->properties;
    expected.insert(expected.end(), own.begin(), own.end());
  }
  auto text_label = collect(roblox::properties("TextLabel"));
  EXPECT_EQ(text_label, expected);
  ASSERT_EQ(text_label.size(), 19u + 26u + 7u + 5u);
  EXPECT_EQ(text_label.front(), "FontFace");
  EXPECT_EQ(text_label[18], "TextYAlignment");
  EXPECT_EQ(text_label[19], "Active");
  EXPECT_EQ(text_label.back(), "Sandboxed");

  // Events of Frame come only from GuiObject, GuiBase2d, Instance and Object.
  auto frame_events = collect(roblox::events("Frame"));
  EXPECT_EQ(frame_events.front(), "DragBegin");
  EXPECT_EQ(frame_events.back(), "Changed");
  EXPECT_EQ(frame_events.size(), 18u + 1u + 9u + 1u);

  static_assert(std::forward_iterator<roblox::Members::iterator>);
  static_assert(std::ranges::forward_range<roblox::Members>);
  static_assert(std::ranges::forward_range<roblox::Ancestry>);
}

TEST(RobloxIndex, MemberChecks) {
  EXPECT_FALSE(roblox::has_property("TextLabel", "Changed"));
  EXPECT_TRUE(roblox::is_event("TextLabel", "Changed"));
  EXPECT_TRUE(roblox::has_property("Frame", "Size"));
  EXPECT_FALSE(roblox::is_event("Frame", "Size"));
  EXPECT_TRUE(roblox::has_property("PVInstance", "Pivot Offset"));
  EXPECT_TRUE(roblox::has_property("StarterPlayer", "LoadCharacterLayeredClothing "));
  EXPECT_FALSE(roblox::has_property("StarterPlayer", "LoadCharacterLayeredClothing"));
  EXPECT_FALSE(roblox::has_property("Frame", "size"));
  EXPECT_FALSE(roblox::has_property("frame", "Size"));
  EXPECT_TRUE(roblox::is_event("Instance", "childAdded"));

  for (std::string_view cls : {"TextLabel", "TextButton", "TextBox"})
    EXPECT_TRUE(roblox::has_text_property(cls)) << cls;
  for (std::string_view cls : {"Frame", "ImageLabel", "ScreenGui", "textlabel"})
    EXPECT_FALSE(roblox::has_text_property(cls)) << cls;
}

TEST(RobloxIndex, CreatableClasses) {
  auto names = roblox::creatable_classes();
  ASSERT_EQ(names.size(), 356u);
  EXPECT_EQ(collect(names.first(4)), split("Accessory, AccessoryDescription, Accoutrement, Actor"));
  std::vector<std::string_view> expected;
  for (const ClassInfo& r : CLASSES)
    if (r.creatable) expected.push_back(r.name);
  EXPECT_EQ(collect(names), expected);
}

TEST(RobloxIndex, IsDeprecated) {
  const std::pair<std::string_view, bool> cases[] = {
      {"TextWrap", true},  {"UI Theme", true},  {"AllowInsertFreeModels", true},
      {"workspace", true}, {"textwrap", false}, {"ui theme", false},
      {"Text", false},     {"UI", false},       {"UI Themes", false},
      {"", false},         {"zzz", false},
  };
  for (auto [name, expected] : cases) EXPECT_EQ(roblox::is_deprecated(name), expected) << name;
  for (std::string_view name : DEPRECATED_MEMBERS) EXPECT_TRUE(roblox::is_deprecated(name)) << name;
}

}  // namespace
