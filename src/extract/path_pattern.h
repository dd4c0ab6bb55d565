#pragma once

// Globs that select entries by their path below `data`; entry_selection.h puts the selection
// rules (names at any level, folders selecting what is below them, anchoring) on top.
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
//            member; a `-` first or last is a member. An unclosed `[` is a literal `[`. Inside a
//            class `\c` is the byte c.
//   \* \? \[ \]  the byte itself: a '\' escapes the bytes that would otherwise be wildcards.
//   \        anywhere else a separator, as '/' is: stored folder names and Windows paths use
//            '\', and an entry's path never holds one (patternPath turns them into '/'), so a
//            '\' cannot mean a byte of it. `textures\ui` is `textures/ui`; `\\` and `\/` are one
//            separator, as is a '\' that ends the pattern. `textures\*.dds` escapes the star:
//            write `textures/*.dds` (or `textures\\*.dds`) for a wildcard after a separator.
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

// Whether the bytes of path before one of its '/' match, or (wholeToo) all of path does: whether
// the pattern names one of the folders the path lies in. One pass over path.
bool matchesPathPrefix(CompiledPattern& pattern, std::string_view path, bool wholeToo);

// Whether text could begin a path the pattern matches, as far as the pattern's leading fixed
// bytes tell: false settles every path that starts with text at once.
bool startsLikePattern(const CompiledPattern& pattern, std::string_view text);

// What the selection rules need to know of a pattern's separators.
struct PatternShape {
  bool leadingSeparator = false;   // `/textures`, `\textures`
  bool trailingSeparator = false;  // `textures/`, `textures\`
  bool innerSeparator = false;     // a separator or a `**/` between the ends: `meshes/props`, `**/x`
};
// Compiles pattern without its leading and trailing separators, and says what it had.
CompiledPattern compileTrimmedPattern(std::string_view pattern, PatternShape& shape);

// Compiles pattern for this one path: for a single match.
bool matchesPathPattern(std::string_view pattern, std::string_view path);

// `folder/name` with every '\' in folder and name turned into '/', or just `name` when folder is
// empty. Runs of separators are kept as they are: this is the text a pattern is matched on.
std::string patternPath(std::string_view folder, std::string_view name);

}  // namespace oxtrel
