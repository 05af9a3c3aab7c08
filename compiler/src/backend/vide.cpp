#include "tovix/backend/vide.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include <fmt/format.h>

#include "tovix/backend/writer.h"
#include "tovix/resolve.h"
#include "tovix/roblox/roblox.h"

namespace tovix::backend::vide {

namespace {

namespace ast = markup::ast;
using Result = std::expected<void, EmitError>;

constexpr std::string_view READ_CALL = "__tovix_read(";

// One entry of a generated table and the source offset it is placed at.
struct Entry {
  enum class Kind { Node, Named, Code, Comment };
  Kind kind = Kind::Code;
  std::size_t offset = 0;
  const ast::Node* node = nullptr;  // Node
  std::string name;                 // Named: the key
  std::string_view text;            // Named: the value; Code, Comment: copied as is
};

using Table = std::vector<Entry>;

// One argument of the merge call.
struct Group {
  bool spread = false;
  std::size_t index = 0;  // into the tables or the spreads
};

struct Spread {
  std::string_view code;
  std::size_t start = 0;
};

EmitError text_error(std::string message, std::string help, std::size_t start, std::size_t name_len) {
  return EmitError{std::move(message), std::move(help), start, name_len + 1};
}

// Literal text for a double-quoted Luau string.
void append_quoted(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out.push_back(c);
    }
  }
}

// Literal text inside a backtick string.
void append_interpolated(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      case '`': out += "\\`"; break;
      case '{': out += "\\{"; break;
      case '}': out += "\\}"; break;
      default: out.push_back(c);
    }
  }
}

// The value of the Text prop built from an element's text and expression
// children, in source order.
std::string text_value(const std::vector<ast::Child>& children) {
  std::size_t parts = 0;
  std::size_t expressions = 0;
  const ast::Child::Expression* only = nullptr;
  for (const ast::Child& child : children) {
    if (const auto* expression = std::get_if<ast::Child::Expression>(&child.kind)) {
      ++parts;
      ++expressions;
      only = expression;
    } else if (std::holds_alternative<ast::Child::Text>(child.kind)) {
      ++parts;
    }
  }
  if (parts == 1 && expressions == 1) return only->code;

  std::string value;
  if (expressions > 0) {
    value = "function() return `";
    for (const ast::Child& child : children) {
      if (const auto* expression = std::get_if<ast::Child::Expression>(&child.kind)) {
        // A line comment at the end of the code would swallow the rest of
        // the string; its own line break ends it.
        bool open_comment = writer::ends_in_line_comment(expression->code);
        value += fmt::format("{{{}({}{})}}", "__tovix_read", expression->code, open_comment ? "\n" : "");
      } else if (const auto* text = std::get_if<ast::Child::Text>(&child.kind)) {
        append_interpolated(value, text->text);
      }
    }
    value += "` end";
  } else {
    value = "\"";
    for (const ast::Child& child : children) {
      if (const auto* text = std::get_if<ast::Child::Text>(&child.kind)) append_quoted(value, text->text);
    }
    value += "\"";
  }
  return value;
}

class Generator {
 public:
  Generator(context::EmitContext& context, writer::Writer& writer) : ctx_(context), w_(writer) {}

  Result node(const ast::Node& node) {
    if (const auto* element = std::get_if<ast::Element>(&node.kind)) return this->element(*element);
    const auto& fragment = std::get<ast::Fragment>(node.kind);
    Table entries;
    child_entries(fragment.children, false, entries);
    return table(entries, fragment.end);
  }

 private:
  Result element(const ast::Element& element) {
    resolve::Resolution resolution = ctx_.resolve(element.name, element.start);
    const auto* class_ = std::get_if<resolve::Resolution::Class>(&resolution.kind);
    const auto* unresolved = std::get_if<resolve::Resolution::Unresolved>(&resolution.kind);
    const bool component = class_ == nullptr && unresolved == nullptr;

    bool has_expression = false, has_text = false, has_node = false;
    std::size_t first_text = 0;
    bool first_text_seen = false;
    for (const ast::Child& child : element.children) {
      bool expression = std::holds_alternative<ast::Child::Expression>(child.kind);
      bool text = std::holds_alternative<ast::Child::Text>(child.kind);
      has_expression |= expression;
      has_text |= text;
      has_node |= std::holds_alternative<ast::Node>(child.kind);
      if ((expression || text) && !first_text_seen) {
        first_text_seen = true;
        first_text = child.start();
      }
    }

    bool text_mode = false;
    if (class_ != nullptr) {
      bool text_property = roblox::has_text_property(class_->name);
      if (has_text && !text_property) {
        return std::unexpected(text_error(fmt::format("<{}> has no Text property", class_->name),
                                          "wrap the text in a <TextLabel>", element.start, class_->name.size()));
      }
      if (has_expression && has_node && text_property) {
        return std::unexpected(
            text_error(fmt::format("<{}> has both an expression child and element children, so it is unclear whether "
                                   "the expression is text or a child",
                                   class_->name),
                       "write it as Text={...} instead", element.start, class_->name.size()));
      }
      text_mode = text_property && (has_text || (has_expression && !has_node));
    }
    if (component && has_text) {
      std::string written = element.name.as_written();
      std::size_t len = written.size();
      return std::unexpected(text_error(fmt::format("<{}> is a component, so it cannot take bare text", written),
                                        "pass the text as a prop instead", element.start, len));
    }

    std::string text;
    if (text_mode) {
      text = text_value(element.children);
      if (text.find(READ_CALL) != std::string::npos) ctx_.needs_read = true;
    }

    if (component) {
      w_.push(element.name.as_written());
      w_.push("(");
    } else {
      ctx_.uses_factory = true;
      w_.push(ctx_.factory());
      w_.push("(\"");
      w_.push(class_ != nullptr ? class_->name : unresolved->name);
      w_.push("\")(");
    }

    std::vector<Table> tables(1);
    tables.back().reserve(element.attributes.size() + element.children.size() + 1);
    std::vector<Spread> spreads;
    std::vector<Group> groups;
    for (const ast::Attribute& attribute : element.attributes) {
      if (const auto* spread = std::get_if<ast::Attribute::Spread>(&attribute.kind)) {
        if (!tables.back().empty()) {
          groups.push_back(Group{false, tables.size() - 1});
          tables.emplace_back();
        }
        groups.push_back(Group{true, spreads.size()});
        spreads.push_back(Spread{spread->code, spread->start});
        continue;
      }
      const auto& named = std::get<ast::Attribute::Named>(attribute.kind);
      if (text_mode && named.name == "Text") continue;
      Entry entry;
      entry.kind = Entry::Kind::Named;
      entry.offset = named.start;
      entry.name = class_ != nullptr ? ctx_.resolve_attribute(class_->name, named.name, named.start) : named.name;
      if (const auto* expression = std::get_if<ast::AttributeValue::Expression>(&named.value.kind)) {
        entry.text = expression->code;
      } else if (const auto* literal = std::get_if<ast::AttributeValue::Literal>(&named.value.kind)) {
        entry.text = literal->text;
      } else {
        entry.text = "true";
      }
      tables.back().push_back(std::move(entry));
    }
    Table& last = tables.back();
    std::size_t children_from = last.size();
    child_entries(element.children, text_mode, last);
    if (text_mode) {
      // Among the children at its own place, so that every entry is written
      // in source order and none is pushed below the line it comes from.
      Entry entry;
      entry.kind = Entry::Kind::Named;
      entry.offset = first_text;
      entry.name = "Text";
      entry.text = text;
      auto at = std::find_if(last.begin() + static_cast<std::ptrdiff_t>(children_from), last.end(),
                             [&](const Entry& child) { return child.offset > first_text; });
      last.insert(at, std::move(entry));
    }
    if (!tables.back().empty() || groups.empty()) groups.push_back(Group{false, tables.size() - 1});

    auto position = [&](const Group& group) {
      return group.spread ? spreads[group.index].start : tables[group.index].front().offset;
    };
    if (!spreads.empty()) {
      ctx_.needs_merge = true;
      w_.push("__tovix_merge(");
    }
    for (std::size_t i = 0; i < groups.size(); ++i) {
      const Group& group = groups[i];
      if (i > 0) {
        w_.push(",");
        w_.break_or_space(position(groups[i]));
      }
      if (group.spread) {
        if (i == 0) w_.to(spreads[group.index].start);
        w_.push_code(spreads[group.index].code);
        continue;
      }
      // A table followed by another group closes where that group begins,
      // so that the group is not pushed below its own source line.
      std::size_t end = i + 1 < groups.size() ? position(groups[i + 1]) + 1 : element.end;
      if (auto written = table(tables[group.index], end); !written) return written;
    }
    w_.to(element.end - 1);
    if (!spreads.empty()) w_.push(")");
    w_.push(")");
    return {};
  }

  // Children as table entries, in source order. Text children never become
  // entries (in text mode they are in the Text value), nor do expressions in
  // text mode.
  static void child_entries(const std::vector<ast::Child>& children, bool text_mode, Table& out) {
    for (const ast::Child& child : children) {
      if (const auto* node = std::get_if<ast::Node>(&child.kind)) {
        Entry entry;
        entry.kind = Entry::Kind::Node;
        entry.offset = node->start();
        entry.node = node;
        out.push_back(std::move(entry));
      } else if (const auto* comment = std::get_if<ast::Child::Comment>(&child.kind)) {
        Entry entry;
        entry.kind = Entry::Kind::Comment;
        entry.offset = comment->start;
        entry.text = comment->text;
        out.push_back(std::move(entry));
      } else if (const auto* expression = std::get_if<ast::Child::Expression>(&child.kind);
                 expression != nullptr && !text_mode) {
        Entry entry;
        entry.kind = Entry::Kind::Code;
        entry.offset = expression->start;
        entry.text = expression->code;
        out.push_back(std::move(entry));
      }
    }
  }

  // One table, closed against `end` (the construct's end offset): on the line
  // it ends on as "{ a = 1 }", or with a trailing comma and "}" on that line.
  Result table(const Table& entries, std::size_t end) {
    std::size_t close = end == 0 ? 0 : end - 1;
    if (entries.empty()) {
      if (ctx_.is_below(close, w_.line)) {
        w_.push("{");
        w_.to(close);
        w_.push("}");
      } else {
        w_.push("{}");
      }
      return {};
    }

    std::size_t last_value = entries.size();  // the last entry that is not a comment
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].kind != Entry::Kind::Comment) last_value = i;
    }

    w_.push("{");
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Entry& entry = entries[i];
      w_.break_or_space(entry.offset);
      switch (entry.kind) {
        case Entry::Kind::Node:
          if (auto written = node(*entry.node); !written) return written;
          break;
        case Entry::Kind::Named:
          w_.push(entry.name);
          w_.push(" = ");
          w_.push_code(entry.text);
          break;
        case Entry::Kind::Code:
        case Entry::Kind::Comment: w_.push_code(entry.text); break;
      }
      if (entry.kind != Entry::Kind::Comment && i != last_value) w_.push(",");
    }

    if (!ctx_.is_below(close, w_.line)) {
      w_.push(" }");
    } else {
      if (last_value != entries.size()) w_.push(",");
      w_.to(close);
      w_.push("}");
    }
    return {};
  }

  context::EmitContext& ctx_;
  writer::Writer& w_;
};

}  // namespace

std::string_view Vide::name() const { return "vide"; }

std::expected<std::string, EmitError> Vide::emit(const markup::ast::Node& node, context::EmitContext& context) const {
  writer::Writer writer(context, context.line_of(node.start()));
  Generator generator(context, writer);
  if (auto written = generator.node(node); !written) return std::unexpected(std::move(written.error()));
  return std::move(writer.out);
}

}  // namespace tovix::backend::vide
