#include "extract/path_pattern.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace oxtrel {

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Offset just past the closing ']' of the class opened at `open`, or 0 when it never closes.
size_t classClose(std::string_view pattern, size_t open, PatternToken& token) {
  size_t i = open + 1;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
    token.negated = true;
    ++i;
  }
  token.classBegin = i;
  if (i < pattern.size() && pattern[i] == ']') ++i;
  while (i < pattern.size() && pattern[i] != ']') {
    if (pattern[i] == '\\' && i + 1 < pattern.size()) ++i;  // an escaped ']' does not close
    ++i;
  }
  if (i >= pattern.size()) return 0;
  token.classEnd = i;
  return i + 1;
}

bool classHolds(std::string_view members, char c) {
  const auto u = [](char b) { return uint8_t(b); };
  const auto read = [&](size_t& k) {
    if (members[k] == '\\' && k + 1 < members.size()) ++k;
    return members[k++];
  };
  size_t k = 0;
  while (k < members.size()) {
    const char lo = read(k);
    char hi = lo;
    if (k + 1 < members.size() && members[k] == '-') {
      ++k;
      hi = read(k);
    }
    if (u(lo) <= u(c) && u(c) <= u(hi)) return true;
  }
  return false;
}

bool classMatches(std::string_view pattern, const PatternToken& token, char c) {
  if (c == '/') return false;
  const std::string_view members = pattern.substr(token.classBegin, token.classEnd - token.classBegin);
  const bool held = classHolds(members, c) || classHolds(members, lowerAscii(c)) ||
                    classHolds(members, upperAscii(c));
  return held != token.negated;
}

bool escapable(char c) { return c == '*' || c == '?' || c == '[' || c == ']'; }

// The length of the separator at i: '/', a '\' before anything but a wildcard or class byte
// ("\\" and "\/" are one separator), or 0 when there is none.
size_t separatorAt(std::string_view pattern, size_t i) {
  if (i >= pattern.size()) return 0;
  if (pattern[i] == '/') return 1;
  if (pattern[i] != '\\') return 0;
  if (i + 1 == pattern.size()) return 1;
  const char next = pattern[i + 1];
  if (escapable(next)) return 0;
  return next == '\\' || next == '/' ? 2 : 1;
}

std::vector<PatternToken> tokenize(std::string_view pattern) {
  std::vector<PatternToken> tokens;
  const auto atComponentStart = [&] {
    if (tokens.empty()) return true;
    const PatternToken& last = tokens.back();
    return last.kind == PatternTokenKind::anyLevels || (last.kind == PatternTokenKind::literal && last.byte == '/');
  };
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    PatternToken token;
    if (c == '*') {
      size_t run = 0;
      while (i + run < pattern.size() && pattern[i + run] == '*') ++run;
      const size_t after = i + run;
      const bool wholeComponent =
          run >= 2 && atComponentStart() && (after == pattern.size() || separatorAt(pattern, after) != 0);
      // A final `**` (one before a closing separator too) takes any run, not just whole levels.
      if (wholeComponent && (after == pattern.size() || after + separatorAt(pattern, after) == pattern.size())) {
        token.kind = PatternTokenKind::anything;
        i = after;
      } else if (wholeComponent) {
        token.kind = PatternTokenKind::anyLevels;
        i = after + separatorAt(pattern, after);
      } else {
        token.kind = PatternTokenKind::star;
        i = after;
      }
    } else if (c == '?') {
      token.kind = PatternTokenKind::anyByte;
      ++i;
    } else if (PatternToken bracket; c == '[' && classClose(pattern, i, bracket) != 0) {
      token = bracket;
      token.kind = PatternTokenKind::byteClass;
      i = token.classEnd + 1;
    } else if (const size_t separator = separatorAt(pattern, i); separator != 0) {
      token.byte = '/';
      i += separator;
    } else if (c == '\\') {  // before a wildcard or class byte: that byte itself
      token.byte = pattern[i + 1];
      i += 2;
    } else {
      token.byte = c;
      ++i;
    }
    tokens.push_back(token);
  }
  return tokens;
}

bool takesNothing(PatternTokenKind kind) {
  return kind == PatternTokenKind::star || kind == PatternTokenKind::anyLevels || kind == PatternTokenKind::anything;
}

// Per token: at it (the tokens before it have matched what was read), or, for anyLevels only,
// inside one of the components it is skipping, where only a '/' leads back to it.
constexpr uint8_t atPatternToken = 1;
constexpr uint8_t insideLevels = 2;

// Marks every token reachable from a live one without reading a byte; those steps only go
// forward by one token, so a single ascending pass is enough.
void closeOverEmpty(const std::vector<PatternToken>& tokens, std::vector<uint8_t>& live) {
  for (size_t t = 0; t < tokens.size(); ++t)
    if ((live[t] & atPatternToken) && takesNothing(tokens[t].kind)) live[t + 1] |= atPatternToken;
}

// Whether path begins (atEnd false) or ends (atEnd true) with the literal tokens, ASCII case ignored.
bool holdsLiterals(std::span<const PatternToken> literals, std::string_view path, bool atEnd) {
  if (literals.size() > path.size()) return false;
  size_t start = atEnd ? path.size() - literals.size() : 0;
  for (size_t i = 0; i < literals.size(); ++i)
    if (lowerAscii(literals[i].byte) != lowerAscii(path[start + i])) return false;
  return true;
}

}  // namespace

namespace {

void findLiteralEnds(CompiledPattern& compiled) {
  const std::vector<PatternToken>& tokens = compiled.tokens;
  auto literal = [&](size_t t) { return tokens[t].kind == PatternTokenKind::literal; };
  compiled.literalPrefix = compiled.literalSuffix = 0;
  while (compiled.literalPrefix < tokens.size() && literal(compiled.literalPrefix)) ++compiled.literalPrefix;
  if (compiled.literalPrefix < tokens.size())
    while (compiled.literalSuffix < tokens.size() && literal(tokens.size() - 1 - compiled.literalSuffix))
      ++compiled.literalSuffix;
  compiled.live.assign(tokens.size() + 1, 0);
  compiled.next.assign(tokens.size() + 1, 0);
}

bool isSeparatorToken(const PatternToken& token) {
  return token.kind == PatternTokenKind::literal && token.byte == '/';
}

// Runs the simulation over path. With atSeparators, answers true as soon as the bytes before
// some '/' of path match; with whole, when all of path does.
bool simulate(CompiledPattern& compiled, std::string_view path, bool atSeparators, bool whole) {
  const std::string_view pattern = compiled.text;
  const std::vector<PatternToken>& tokens = compiled.tokens;
  std::vector<uint8_t>& live = compiled.live;
  std::vector<uint8_t>& next = compiled.next;
  std::fill(live.begin(), live.end(), uint8_t(0));
  live[0] = atPatternToken;
  closeOverEmpty(tokens, live);
  for (const char c : path) {
    if (atSeparators && c == '/' && (live[tokens.size()] & atPatternToken)) return true;
    std::fill(next.begin(), next.end(), uint8_t(0));
    bool any = false;
    for (size_t t = 0; t < tokens.size(); ++t) {
      if (!live[t]) continue;
      const PatternToken& token = tokens[t];
      bool advance = false;
      uint8_t stay = 0;
      switch (token.kind) {
        case PatternTokenKind::literal: advance = lowerAscii(token.byte) == lowerAscii(c); break;
        case PatternTokenKind::anyByte: advance = c != '/'; break;
        case PatternTokenKind::byteClass: advance = classMatches(pattern, token, c); break;
        case PatternTokenKind::star: stay = c != '/' ? atPatternToken : 0; break;
        case PatternTokenKind::anyLevels: stay = c == '/' ? atPatternToken : insideLevels; break;
        case PatternTokenKind::anything: stay = atPatternToken; break;
      }
      next[t] |= stay;
      if (advance) next[t + 1] |= atPatternToken;
      any = any || stay != 0 || advance;
    }
    if (!any) return false;
    live.swap(next);
    closeOverEmpty(tokens, live);
  }
  return whole && (live[tokens.size()] & atPatternToken) != 0;
}

}  // namespace

CompiledPattern compilePathPattern(std::string_view pattern) {
  CompiledPattern compiled;
  compiled.text = pattern;
  compiled.tokens = tokenize(pattern);
  findLiteralEnds(compiled);
  return compiled;
}

CompiledPattern compileTrimmedPattern(std::string_view pattern, PatternShape& shape) {
  CompiledPattern compiled;
  compiled.text = pattern;
  compiled.tokens = tokenize(pattern);
  std::vector<PatternToken>& tokens = compiled.tokens;
  shape = {};
  size_t leading = 0;
  while (leading < tokens.size() && isSeparatorToken(tokens[leading])) ++leading;
  size_t trailing = 0;
  while (trailing < tokens.size() - leading && isSeparatorToken(tokens[tokens.size() - 1 - trailing])) ++trailing;
  shape.leadingSeparator = leading != 0;
  shape.trailingSeparator = trailing != 0;
  tokens.erase(tokens.end() - ptrdiff_t(trailing), tokens.end());
  tokens.erase(tokens.begin(), tokens.begin() + ptrdiff_t(leading));
  shape.innerSeparator = std::any_of(tokens.begin(), tokens.end(), [](const PatternToken& token) {
    return isSeparatorToken(token) || token.kind == PatternTokenKind::anyLevels;
  });
  findLiteralEnds(compiled);
  return compiled;
}

bool matchesPathPattern(std::string_view pattern, std::string_view path) {
  CompiledPattern compiled = compilePathPattern(pattern);
  return matchesPathPattern(compiled, path);
}

bool matchesPathPattern(CompiledPattern& compiled, std::string_view path) {
  const std::vector<PatternToken>& tokens = compiled.tokens;
  std::span<const PatternToken> all(tokens);
  // Most patterns name a folder or an extension: their fixed ends settle most paths at once.
  if (compiled.literalPrefix == tokens.size())
    return path.size() == tokens.size() && holdsLiterals(all, path, false);
  if (!holdsLiterals(all.first(compiled.literalPrefix), path, false) ||
      !holdsLiterals(all.last(compiled.literalSuffix), path, true))
    return false;
  return simulate(compiled, path, false, true);
}

bool startsLikePattern(const CompiledPattern& compiled, std::string_view text) {
  std::span<const PatternToken> all(compiled.tokens);
  const size_t fixed = std::min(compiled.literalPrefix, text.size());
  return holdsLiterals(all.first(fixed), text.substr(0, fixed), false);
}

bool matchesPathPrefix(CompiledPattern& compiled, std::string_view path, bool wholeToo) {
  const std::vector<PatternToken>& tokens = compiled.tokens;
  std::span<const PatternToken> all(tokens);
  // Every prefix a match could end at begins with the fixed bytes.
  if (!holdsLiterals(all.first(compiled.literalPrefix), path, false)) return false;
  if (compiled.literalPrefix == tokens.size()) {
    const size_t end = tokens.size();
    return end == path.size() ? wholeToo : path[end] == '/';
  }
  return simulate(compiled, path, true, wholeToo);
}

std::string patternPath(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  if (!folder.empty()) {
    path.append(folder);
    path.push_back('/');
  }
  path.append(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

}  // namespace oxtrel
