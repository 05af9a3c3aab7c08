#include "markup/ast.h"

namespace tovix::markup::ast {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
// Clang does not deduce aggregate bases without a guide.
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// The span fields of whichever alternative a variant holds.
template <class Variant>
std::size_t start_of(const Variant& kind) {
  return std::visit([](const auto& item) -> std::size_t {
    if constexpr (requires { item.start(); }) {
      return item.start();
    } else {
      return item.start;
    }
  }, kind);
}

template <class Variant>
std::size_t end_of(const Variant& kind) {
  return std::visit([](const auto& item) -> std::size_t {
    if constexpr (requires { item.end(); }) {
      return item.end();
    } else {
      return item.end;
    }
  }, kind);
}

}  // namespace

std::string ElementName::as_written() const {
  return std::visit(Overloaded{
                        [](const Simple& simple) { return simple.text; },
                        [](const Dotted& dotted) {
                          std::string out;
                          for (const std::string& part : dotted.parts) {
                            if (!out.empty()) out += '.';
                            out += part;
                          }
                          return out;
                        },
                    },
                    kind);
}

// Defined here, where `Child` is complete.
bool operator==(const Element&, const Element&) = default;
bool operator==(const Fragment&, const Fragment&) = default;
// Out of line like the two above: clang 16 recurses without end when it
// instantiates these inline through the recursive variants.
bool operator==(const Node&, const Node&) = default;
bool operator==(const Child&, const Child&) = default;

std::size_t Attribute::start() const { return start_of(kind); }
std::size_t Attribute::end() const { return end_of(kind); }
std::size_t Node::start() const { return start_of(kind); }
std::size_t Node::end() const { return end_of(kind); }
std::size_t Child::start() const { return start_of(kind); }
std::size_t Child::end() const { return end_of(kind); }

}  // namespace tovix::markup::ast
