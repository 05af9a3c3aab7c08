#include "resolve.h"

#include <algorithm>

namespace tovix::resolve {

namespace {

void blank_region(std::string& out, std::string_view region) {
  static constexpr std::string_view NIL = "nil";
  for (std::size_t k = 0; k < region.size(); ++k) {
    char c = region[k];
    if (c == '\n') {
      out.push_back('\n');
    } else if (k < NIL.size()) {
      out.push_back(NIL[k]);
    } else {
      out.push_back(' ');
    }
  }
}

}  // namespace

std::string blank_tovix_regions(std::string_view source, std::span<const Region> regions) {
  std::string out;
  out.reserve(source.size());
  std::size_t cursor = 0;
  for (auto [start, end] : regions) {
    // Out-of-order, overlapping and reversed regions are skipped; nothing
    // may change the length of the text.
    if (start < cursor || start > source.size()) continue;
    end = std::min(end, source.size());
    if (end < start) continue;
    out.append(source.substr(cursor, start - cursor));
    blank_region(out, source.substr(start, end - start));
    cursor = end;
  }
  out.append(source.substr(cursor));
  return out;
}

}  // namespace tovix::resolve
