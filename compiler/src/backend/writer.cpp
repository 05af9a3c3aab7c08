#include "tovix/backend/writer.h"

#include <cstring>
#include <optional>

#include "tovix/lexer.h"

namespace tovix::backend::writer {

void Writer::push(std::string_view text) {
  out.append(text);
  for (const char *at = text.data(), *end = at + text.size();;) {
    at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (at == nullptr) break;
    ++line;
    ++at;
  }
}

bool ends_in_line_comment(std::string_view code) {
  std::size_t line_start = code.rfind('\n');
  line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
  if (code.find("--", line_start) == std::string_view::npos) return false;

  lexer::Lexer lexer(code);
  std::optional<lexer::Token> last;
  while (auto token = lexer.next_token()) {
    if (!*token) return false;
    last = **token;
  }
  if (!last || last->kind != lexer::TokenKind::Comment || last->end != code.size()) return false;
  std::string_view body = last->text(code).substr(2);
  if (!body.starts_with('[')) return true;
  std::size_t level = body.find_first_not_of('=', 1);
  return level == std::string_view::npos || body[level] != '[';
}

void Writer::push_code(std::string_view code) {
  push(code);
  if (!ends_in_line_comment(code)) return;
  out.push_back('\n');
  ++line;
  out.append(ctx.indent_of(line));
}

bool Writer::to(std::size_t offset) {
  if (!ctx.is_below(offset, line)) return false;
  std::size_t target = ctx.line_of(offset);
  out.append(target - line, '\n');
  out.append(ctx.indent_of(target));
  line = target;
  return true;
}

void Writer::break_or_space(std::size_t offset) {
  if (!to(offset)) out.push_back(' ');
}

}  // namespace tovix::backend::writer
