#pragma once

// Globs that select entries by their path below `data`.
//
// The path is written with '/' separators (`folder/sub/name.ext`, see patternPath). Letters
// compare ignoring ASCII case only, as names are hashed; bytes >= 0x80 compare exactly.
//   *        any run of bytes without '/' (empty included)
//   ?        one byte other than '/'
//   **       when it is a whole component (`**`, `**/x.dds`, `a/**/b`, `textures/**`): any
//            number of levels. `a/**/b` matches `a/b`, `a/x/b` and `a/x/y/b`; a final `/**`
//            matches everything below, but not the folder itself. Elsewhere (`a**b`) it is `*`.
//   [...]    one byte other than '/' from the class: single bytes and ranges `a-z`; a leading
//            `!` or `^` negates; a `]` right after the opening (or after the negation) is a
//            member; a `-` first or last is a member. An unclosed `[` is a literal `[`.
//   \c       the byte c itself, also inside a class (`\*` is a literal star); a `\` at the end
//            of the pattern is a literal `\`.
// Anything else matches itself. The whole path must match.
//
// Matching simulates all alternatives at once: time is bounded by pattern length times path
// length whatever the pattern (`*a*a*a*a*a*b` included), never exponential.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oxtrel {

enum class PatternTokenKind : uint8_t {
  literal,    // one byte, ASCII case ignored
  anyByte,    // ?
  byteClass,  // [...]
  star,       // *: any run without '/'
  anyLevels,  // **/ : empty, or any run that ends with '/'
  anything,   // final **: any run at all
};

struct PatternToken {
  PatternTokenKind kind = PatternTokenKind::literal;
  char byte = 0;
  bool negated = false;
  size_t classBegin = 0;  // the class members, as offsets in the pattern, without the brackets
  size_t classEnd = 0;
};

// A pattern parsed once, to be matched against many paths, with the matcher's own state: one
// compiled pattern is used by one thread at a time.
struct CompiledPattern {
  std::string text;
  std::vector<PatternToken> tokens;
  size_t literalPrefix = 0;  // leading tokens that are literal bytes (all of them when no wildcard)
  size_t literalSuffix = 0;  // trailing literal tokens after the last wildcard
  std::vector<uint8_t> live, next;  // the matcher's state per token, reused from path to path
};

CompiledPattern compilePathPattern(std::string_view pattern);
bool matchesPathPattern(CompiledPattern& pattern, std::string_view path);

// Compiles pattern for this one path: for a single match.
bool matchesPathPattern(std::string_view pattern, std::string_view path);

// `folder/name` with every '\' in folder and name turned into '/', or just `name` when folder is
// empty. Runs of separators are kept as they are: this is the text a pattern is matched on.
std::string patternPath(std::string_view folder, std::string_view name);

}  // namespace oxtrel
