#include "tovix/markup/ast.h"

namespace tovix::markup::ast {

namespace {

// The span fields of whichever alternative a variant holds.
template <class Variant>
std::size_t start_of(const Variant& kind) {
  return std::visit(
      [](const auto& item) -> std::size_t {
        if constexpr (requires { item.start(); }) {
          return item.start();
        } else {
          return item.start;
        }
      },
      kind);
}

template <class Variant>
std::size_t end_of(const Variant& kind) {
  return std::visit(
      [](const auto& item) -> std::size_t {
        if constexpr (requires { item.end(); }) {
          return item.end();
        } else {
          return item.end;
        }
      },
      kind);
}

}  // namespace

std::string ElementName::as_written() const {
  if (const auto* simple = std::get_if<Simple>(&kind)) return simple->text;
  std::string out;
  for (const std::string& part : std::get<Dotted>(kind).parts) {
    if (!out.empty()) out += '.';
    out += part;
  }
  return out;
}

// Written out rather than defaulted: the tree is recursive (element, child,
// node), and some compilers loop on defaulted comparisons through it.
bool operator==(const Element& a, const Element& b) {
  return a.name == b.name && a.attributes == b.attributes && a.children == b.children && a.start == b.start &&
         a.end == b.end;
}

bool operator==(const Fragment& a, const Fragment& b) {
  return a.children == b.children && a.start == b.start && a.end == b.end;
}

bool operator==(const Node& a, const Node& b) { return a.kind == b.kind; }

bool operator==(const Child& a, const Child& b) { return a.kind == b.kind; }

std::size_t Attribute::start() const { return start_of(kind); }
std::size_t Attribute::end() const { return end_of(kind); }
std::size_t Node::start() const { return start_of(kind); }
std::size_t Node::end() const { return end_of(kind); }
std::size_t Child::start() const { return start_of(kind); }
std::size_t Child::end() const { return end_of(kind); }

}  // namespace tovix::markup::ast
