#include "extract/path_pattern.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace oxtrel {
namespace {

TEST(PathPattern, MatchesAsTheTableSays) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      // * and ? stay within one component.
      {"*.dds", "rock.dds", true},
      {"*.dds", "textures/rock.dds", false},
      {"textures/*", "textures/rock.dds", true},
      {"textures/*", "textures/sub/rock.dds", false},
      {"*", "", true},
      {"a?c", "abc", true},
      {"a?c", "a/c", false},
      {"a?c", "ac", false},
      {"*/*", "a/b", true},
      {"*/*", "a/b/c", false},
      // ** as a whole component crosses any number of levels, zero included.
      {"**", "a/b/c.dds", true},
      {"**/x.dds", "x.dds", true},
      {"**/x.dds", "a/b/x.dds", true},
      {"**/x.dds", "a/bx.dds", false},
      {"a/**/b", "a/b", true},
      {"a/**/b", "a/x/y/b", true},
      {"a/**/b", "ab", false},
      {"a/**/b", "a/x/yb", false},
      {"a/**/**/b", "a/b", true},
      {"textures/**", "textures/a/b.dds", true},
      {"textures/**", "textures", false},
      {"textures/**", "texturesx/a", false},
      {"**/sub/**", "a/sub/b/c", true},
      {"**/*.nif", "meshes/rocks/rock01.nif", true},
      // ** inside a component is a single star.
      {"a**b", "axxb", true},
      {"a**b", "ax/xb", false},
      {"**.dds", "a/b.dds", false},
      // ASCII case is ignored; high bytes compare exactly.
      {"TEXTURES/Rock.DDS", "textures/rock.dds", true},
      {"\xC9t\xE9", "\xC9T\xE9", true},
      {"\xC9", "\xE9", false},
      {"[A-C]x", "bX", true},
      {"[a-c]x", "Bx", true},
      // Classes.
      {"[abc]", "b", true},
      {"[abc]", "d", false},
      {"[!abc]", "d", true},
      {"[^abc]", "a", false},
      {"[!a]", "/", false},
      {"[]a]", "]", true},
      {"[!]a]", "]", false},
      {"[!]a]", "b", true},
      {"[a-]", "-", true},
      {"[0-9][0-9]", "42", true},
      {"[\x80-\xFF]", "\xE9", true},
      {"[\x80-\xFF]", "e", false},
      {"[\\]]", "]", true},
      // An unclosed [ is a literal.
      {"a[b", "a[b", true},
      {"a[b", "ab", false},
      {"[", "[", true},
      {"[!", "[!", true},
      // Escapes.
      {"\\*", "*", true},
      {"\\*", "a", false},
      {"a\\?", "a?", true},
      {"a\\?", "ab", false},
      {"\\[a]", "[a]", true},
      // A '\\' before anything but a wildcard or class byte is a separator, as Windows writes one.
      {"a\\", "a/", true},
      {"a\\", "a\\", false},
      {"textures\\ui", "textures/ui", true},
      {"textures\\\\ui", "textures/ui", true},
      {"textures\\/ui", "textures/ui", true},
      {"textures\\.ui", "textures/.ui", true},
      {"a\\]", "a]", true},
      {"textures\\*.dds", "textures/x.dds", false},
      {"textures\\*.dds", "textures*.dds", true},
      {"textures\\\\*.dds", "textures/x.dds", true},
      {"**\\x.dds", "a/b/x.dds", true},
      {"a\\**", "a*bc", true},
      {"a\\**", "a/b", false},
      {"a\\\\**\\b", "a/x/y/b", true},
      // The whole path must match.
      {"rock", "rock.dds", false},
      {"rock.dds", "rock", false},
      {"", "", true},
      {"", "a", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(matchesPathPattern(c.pattern, c.path), c.matches) << c.pattern << " on " << c.path;
}

// Backtracking matchers take exponential time on these; a bounded one answers at once.
TEST(PathPattern, HostileStarsAnswerQuickly) {
  std::string stars;
  for (int i = 0; i < 40; ++i) stars += "*a";
  const std::string as(4000, 'a');
  EXPECT_FALSE(matchesPathPattern(stars + "*b", as));
  EXPECT_TRUE(matchesPathPattern(stars + "*", as));

  std::string levels;
  for (int i = 0; i < 40; ++i) levels += "**/a/";
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "a/";
  EXPECT_FALSE(matchesPathPattern(levels + "b", deep + "c"));
  EXPECT_TRUE(matchesPathPattern(levels + "b", deep + "b"));
}

// A pattern compiled once and matched against many paths answers as the whole simulation does
// for each: the shortcut over its fixed ends, and the state kept between paths, change nothing.
TEST(PathPattern, ACompiledPatternAgreesWithTheFullMatchOnEveryPath) {
  std::mt19937 rng(20);
  const std::vector<std::string> pieces = {"a", "B", "b", "/", "*", "**", "**/", "?", "[a-b]", "[!a]", "\\*", ".", "x", "\\"};
  const std::string bytes = "aAbB/.x*";
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  for (int round = 0; round < 300; ++round) {
    std::string pattern;
    for (size_t n = pick(6); n > 0; --n) pattern += pieces[pick(pieces.size())];
    CompiledPattern fast = compilePathPattern(pattern);
    CompiledPattern full = compilePathPattern(pattern);
    full.literalPrefix = full.literalSuffix = 0;  // no shortcut: the simulation alone
    for (int p = 0; p < 40; ++p) {
      std::string path;
      for (size_t n = pick(7); n > 0; --n) path += bytes[pick(bytes.size())];
      ASSERT_EQ(matchesPathPattern(fast, path), matchesPathPattern(full, path)) << pattern << " on " << path;
      // A prefix match in one pass is some folder's whole match, each tried alone.
      for (bool wholeToo : {false, true}) {
        bool expected = wholeToo && matchesPathPattern(full, path);
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
          expected = expected || matchesPathPattern(full, path.substr(0, slash));
        ASSERT_EQ(matchesPathPrefix(fast, path, wholeToo), expected) << pattern << " before a / of " << path;
      }
    }
  }
}

TEST(PathPattern, PathJoinsFolderAndNameWithForwardSlashes) {
  EXPECT_EQ(patternPath("meshes\\rocks", "rock01.nif"), "meshes/rocks/rock01.nif");
  EXPECT_EQ(patternPath("", "top.txt"), "top.txt");
  EXPECT_EQ(patternPath("a\\\\b\\", "sub\\n"), "a//b//sub/n");
}

}  // namespace
}  // namespace oxtrel
