#pragma once

// The syntax tree of one markup expression (an element or a fragment). Luau
// code inside `{…}` holes is not parsed: it is kept as text. Every node,
// child and attribute carries its byte span in the whole source (`start`
// inclusive, `end` exclusive); all texts are owned copies.

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

namespace tovix::markup::ast {

struct Child;

// An element's name as written in its opening tag: "Frame" or "ui.Button".
struct ElementName {
  struct Simple {
    std::string text;
    friend bool operator==(const Simple&, const Simple&) = default;
  };
  // Two or more identifiers separated by dots.
  struct Dotted {
    std::vector<std::string> parts;
    friend bool operator==(const Dotted&, const Dotted&) = default;
  };

  std::variant<Simple, Dotted> kind;

  // The name as the source spells it: the text, or the parts joined by ".".
  [[nodiscard]] std::string as_written() const;

  friend bool operator==(const ElementName&, const ElementName&) = default;
};

struct AttributeValue {
  // `={…}`: the text between the braces, trimmed.
  struct Expression {
    std::string code;
    friend bool operator==(const Expression&, const Expression&) = default;
  };
  // A quoted string exactly as written, quotes and escapes included.
  struct Literal {
    std::string text;
    friend bool operator==(const Literal&, const Literal&) = default;
  };
  // No value was written.
  struct Bare {
    friend bool operator==(const Bare&, const Bare&) = default;
  };

  std::variant<Expression, Literal, Bare> kind;

  friend bool operator==(const AttributeValue&, const AttributeValue&) = default;
};

struct Attribute {
  // From the name to just after the value (just after the name when bare).
  struct Named {
    std::string name;
    AttributeValue value;
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const Named&, const Named&) = default;
  };
  // `{props}` in attribute position: the trimmed text inside, span from `{`
  // to just after `}`.
  struct Spread {
    std::string code;
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const Spread&, const Spread&) = default;
  };

  std::variant<Named, Spread> kind;

  [[nodiscard]] std::size_t start() const;
  [[nodiscard]] std::size_t end() const;

  friend bool operator==(const Attribute&, const Attribute&) = default;
};

struct Element {
  ElementName name;
  std::vector<Attribute> attributes;  // in source order
  std::vector<Child> children;        // in source order; empty when self-closing
  std::size_t start = 0;              // the opening `<`
  std::size_t end = 0;                // just after "/>" or the closing tag's `>`

  friend bool operator==(const Element&, const Element&);
};

// "<>…</>".
struct Fragment {
  std::vector<Child> children;
  std::size_t start = 0;  // the `<`
  std::size_t end = 0;    // just after the `>` of "</>"

  friend bool operator==(const Fragment&, const Fragment&);
};

// One markup expression.
struct Node {
  std::variant<Element, Fragment> kind;

  [[nodiscard]] std::size_t start() const;
  [[nodiscard]] std::size_t end() const;

  friend bool operator==(const Node&, const Node&);
};

// One item between an opening and a closing tag.
struct Child {
  // `{code}`: the text between the braces, trimmed; span from `{` to after `}`.
  struct Expression {
    std::string code;
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const Expression&, const Expression&) = default;
  };
  // Literal text after escapes and whitespace normalisation; the span is the
  // raw run's.
  struct Text {
    std::string text;
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const Text&, const Text&) = default;
  };
  // "<!-- … -->" turned into a Luau long comment, or a hole holding only Luau
  // comments (its trimmed inner text, as written).
  struct Comment {
    std::string text;
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const Comment&, const Comment&) = default;
  };

  std::variant<Node, Expression, Text, Comment> kind;

  [[nodiscard]] std::size_t start() const;
  [[nodiscard]] std::size_t end() const;

  friend bool operator==(const Child&, const Child&);
};

}  // namespace tovix::markup::ast
