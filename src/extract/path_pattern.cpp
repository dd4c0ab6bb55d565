#include "extract/path_pattern.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace oxtrel {

namespace {

enum class TokenKind : uint8_t {
  literal,    // one byte, ASCII case ignored
  anyByte,    // ?
  byteClass,  // [...]
  star,       // *: any run without '/'
  anyLevels,  // **/ : empty, or any run that ends with '/'
  anything,   // final **: any run at all
};

struct Token {
  TokenKind kind = TokenKind::literal;
  char byte = 0;
  bool negated = false;
  size_t classBegin = 0;  // the class members, as pattern offsets, without the brackets
  size_t classEnd = 0;
};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Offset just past the closing ']' of the class opened at `open`, or 0 when it never closes.
size_t classClose(std::string_view pattern, size_t open, Token& token) {
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

bool classMatches(std::string_view pattern, const Token& token, char c) {
  if (c == '/') return false;
  const std::string_view members = pattern.substr(token.classBegin, token.classEnd - token.classBegin);
  const bool held = classHolds(members, c) || classHolds(members, lowerAscii(c)) ||
                    classHolds(members, upperAscii(c));
  return held != token.negated;
}

std::vector<Token> tokenize(std::string_view pattern) {
  std::vector<Token> tokens;
  const auto atComponentStart = [&] {
    if (tokens.empty()) return true;
    const Token& last = tokens.back();
    return last.kind == TokenKind::anyLevels || (last.kind == TokenKind::literal && last.byte == '/');
  };
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    Token token;
    if (c == '*') {
      size_t run = 0;
      while (i + run < pattern.size() && pattern[i + run] == '*') ++run;
      const size_t after = i + run;
      const bool wholeComponent =
          run >= 2 && atComponentStart() && (after == pattern.size() || pattern[after] == '/');
      if (wholeComponent && after == pattern.size()) {
        token.kind = TokenKind::anything;
        i = after;
      } else if (wholeComponent) {
        token.kind = TokenKind::anyLevels;
        i = after + 1;
      } else {
        token.kind = TokenKind::star;
        i = after;
      }
    } else if (c == '?') {
      token.kind = TokenKind::anyByte;
      ++i;
    } else if (Token bracket; c == '[' && classClose(pattern, i, bracket) != 0) {
      token = bracket;
      token.kind = TokenKind::byteClass;
      i = token.classEnd + 1;
    } else if (c == '\\' && i + 1 < pattern.size()) {
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

bool takesNothing(TokenKind kind) {
  return kind == TokenKind::star || kind == TokenKind::anyLevels || kind == TokenKind::anything;
}

// Per token: at it (the tokens before it have matched what was read), or, for anyLevels only,
// inside one of the components it is skipping, where only a '/' leads back to it.
constexpr uint8_t atToken = 1;
constexpr uint8_t insideLevels = 2;

// Marks every token reachable from a live one without reading a byte; those steps only go
// forward by one token, so a single ascending pass is enough.
void closeOverEmpty(const std::vector<Token>& tokens, std::vector<uint8_t>& live) {
  for (size_t t = 0; t < tokens.size(); ++t)
    if ((live[t] & atToken) && takesNothing(tokens[t].kind)) live[t + 1] |= atToken;
}

}  // namespace

bool matchesPathPattern(std::string_view pattern, std::string_view path) {
  const std::vector<Token> tokens = tokenize(pattern);
  std::vector<uint8_t> live(tokens.size() + 1, 0);
  std::vector<uint8_t> next(tokens.size() + 1, 0);
  live[0] = atToken;
  closeOverEmpty(tokens, live);
  for (const char c : path) {
    std::fill(next.begin(), next.end(), uint8_t(0));
    bool any = false;
    for (size_t t = 0; t < tokens.size(); ++t) {
      if (!live[t]) continue;
      const Token& token = tokens[t];
      bool advance = false;
      uint8_t stay = 0;
      switch (token.kind) {
        case TokenKind::literal: advance = lowerAscii(token.byte) == lowerAscii(c); break;
        case TokenKind::anyByte: advance = c != '/'; break;
        case TokenKind::byteClass: advance = classMatches(pattern, token, c); break;
        case TokenKind::star: stay = c != '/' ? atToken : 0; break;
        case TokenKind::anyLevels: stay = c == '/' ? atToken : insideLevels; break;
        case TokenKind::anything: stay = atToken; break;
      }
      next[t] |= stay;
      if (advance) next[t + 1] |= atToken;
      any = any || stay != 0 || advance;
    }
    if (!any) return false;
    live.swap(next);
    closeOverEmpty(tokens, live);
  }
  return (live[tokens.size()] & atToken) != 0;
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
