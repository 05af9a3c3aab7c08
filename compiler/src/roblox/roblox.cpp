#include "roblox/roblox.h"

#include <algorithm>

namespace tovix::roblox {

using generated::ClassInfo;

namespace {

Index build_index() {
    Index map;
    map.reserve(generated::CLASSES.size());
    for (const ClassInfo& record : generated::CLASSES) map.emplace(record.name, &record);
    return map;
}

bool declares(std::span<const std::string_view> list, std::string_view member) {
    return std::find(list.begin(), list.end(), member) != list.end();
}

bool ancestry_declares(std::string_view class_name, Members::List list, std::string_view member) {
    for (const ClassInfo& record : ancestry(class_name)) {
        if (declares(record.*list, member)) return true;
    }
    return false;
}

}  // namespace

const Index& index() {
    // A function-local static: built by exactly one caller, others wait.
    static const Index map = build_index();
    return map;
}

const ClassInfo* lookup(std::string_view class_name) {
    const Index& map = index();
    auto found = map.find(class_name);
    return found == map.end() ? nullptr : found->second;
}

bool is_class(std::string_view name) {
    const ClassInfo* record = lookup(name);
    return record != nullptr && record->creatable;
}

std::optional<std::string_view> superclass(std::string_view class_name) {
    const ClassInfo* record = lookup(class_name);
    if (record == nullptr) return std::nullopt;
    const ClassInfo* parent = lookup(record->superclass);
    if (parent == nullptr) return std::nullopt;
    return parent->name;
}

Ancestry::iterator& Ancestry::iterator::operator++() {
    record_ = lookup(record_->superclass);
    return *this;
}

Ancestry ancestry(std::string_view class_name) { return Ancestry(lookup(class_name)); }

Members::iterator::iterator(const ClassInfo* record, List list) : record_(record), list_(list) {
    skip_used_up_lists();
}

Members::iterator& Members::iterator::operator++() {
    ++position_;
    skip_used_up_lists();
    return *this;
}

void Members::iterator::skip_used_up_lists() {
    while (record_ != nullptr && position_ >= (record_->*list_).size()) {
        record_ = lookup(record_->superclass);
        position_ = 0;
    }
}

Members properties(std::string_view class_name) {
    return Members(lookup(class_name), &ClassInfo::properties);
}

Members events(std::string_view class_name) { return Members(lookup(class_name), &ClassInfo::events); }

bool has_property(std::string_view class_name, std::string_view member) {
    return ancestry_declares(class_name, &ClassInfo::properties, member);
}

bool is_event(std::string_view class_name, std::string_view member) {
    return ancestry_declares(class_name, &ClassInfo::events, member);
}

bool has_text_property(std::string_view class_name) { return has_property(class_name, "Text"); }

std::span<const std::string_view> creatable_classes() { return generated::CREATABLE_CLASSES; }

bool is_deprecated(std::string_view member) {
    const auto& list = generated::DEPRECATED_MEMBERS;
    return std::binary_search(list.begin(), list.end(), member);
}

}  // namespace tovix::roblox
