#pragma once

// The embedded Roblox class table. The data lives in generated.cpp, written by
// compiler/tools/gen_roblox_classes.py from a Roblox API dump; it is constant
// (no parsing or allocation at start-up) and lives for the whole process.

#include <span>
#include <string_view>

namespace tovix::roblox::generated {

// One Roblox class. Member lists hold only what the class itself declares
// (inherited members are not repeated), sorted by byte order.
struct ClassInfo {
    std::string_view name;        // as Roblox spells it; case matters
    std::string_view superclass;  // "<<<ROOT>>>" for Object, naming no record
    std::span<const std::string_view> properties;
    std::span<const std::string_view> events;
    bool creatable;  // markup may create an instance
};

// Every class, sorted by name in byte order; names are unique.
extern const std::span<const ClassInfo> CLASSES;

// The names of the creatable records of CLASSES, in table order.
extern const std::span<const std::string_view> CREATABLE_CLASSES;

// Names of deprecated properties and events of any class, sorted by byte
// order, unique. Independent of CLASSES: many name no member of the table.
extern const std::span<const std::string_view> DEPRECATED_MEMBERS;

// Every distinct property and event name of CLASSES, sorted by byte length
// and then byte order, all ASCII (so bytes count characters): a search over
// every member visits only the names of a near length.
extern const std::span<const std::string_view> MEMBER_NAMES_BY_LENGTH;

}  // namespace tovix::roblox::generated
