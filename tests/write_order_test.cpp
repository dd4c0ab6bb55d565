#include "extract/write_order.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

#include <string>
#include <vector>

namespace oxtrel {
namespace {

using Waits = std::vector<std::vector<uint32_t>>;

Waits plan(const std::vector<std::string>& text) {
  std::vector<std::string_view> paths(text.begin(), text.end());
  WriteOrder order = planWriteOrder(paths);
  Waits out;
  for (size_t i = 0; i < paths.size(); ++i) {
    std::span<const uint32_t> w = waitsOf(order, i);
    out.emplace_back(w.begin(), w.end());
  }
  return out;
}

TEST(WriteOrder, OrdersExactlyTheEntriesThatMeetOnTheFileSystem) {
  struct Case {
    const char* what;
    std::vector<std::string> paths;
    Waits waits;
  };
  const Case cases[] = {
      {"distinct files in shared folders run freely",
       {"a\\x", "a\\y", "a/b\\z", "c\\x"},
       {{}, {}, {}, {}}},
      {"the same path: each waits for the one before it",
       {"a\\x", "b\\y", "a\\x", "a\\x"},
       {{}, {}, {0}, {2}}},
      {"separators, empty and dot components do not make paths different",
       {"a/b\\x", "a\\b\\x", "\\a\\\\b/./x", "a\\b\\x\\"},
       {{}, {0}, {1}, {2}}},
      {"a file where later entries need a directory",
       {"a\\b", "a\\b\\c", "a\\b/d\\e", "a\\f"},
       {{}, {0}, {0}, {}}},
      {"a file where earlier entries needed a directory waits for all of them",
       {"a\\b\\c", "a\\b\\d", "q\\r", "a\\b", "a\\b\\e"},
       {{}, {}, {}, {0, 1}, {3}}},
      {"a file's name that names no file still needs its directories",
       {"a\\b\\", "a\\b\\.", "a\\b", "a\\"},
       {{}, {0}, {0, 1}, {}}},
      {"a folder with an empty name writes beside the folders",
       {"\\a", "a\\x", "a"},
       {{}, {0}, {0, 1}}},
      {"paths refused before the file system is looked at, and empty ones, touch nothing",
       {"a\\b", "a\\b\\..", "..\\a\\b", "", "a\\b\\c\\..\\d", "a\\b"},
       {{}, {}, {}, {}, {}, {0}}},
      {"a file named \".\" exists when its directory does: it waits for what may make it, and "
       "what may make it later waits for it",
       {"a\\b\\x", "a\\c\\y", "a\\b\\.", "a\\b\\z", "a\\b\\.", "a\\c\\w", "a\\b\\d\\v"},
       {{}, {}, {0}, {2}, {2, 3}, {}, {4}}},
      {"... and in the folder with an empty name, that directory is data itself",
       {"x\\y", "\\.", "z", "q\\r"},
       {{}, {0}, {1}, {1}}},
      {"a path the system cannot name whole is refused before anything is made",
       {"a\\" + std::string(5000, 'n'), "a\\" + std::string(5000, 'n'), "a\\x", "a\\x"},
       {{}, {}, {}, {2}}},
  };
  for (const Case& c : cases) EXPECT_EQ(plan(c.paths), c.waits) << c.what;
}

TEST(WriteOrder, NamesMeetAsTheFileSystemComparesThem) {
  // Byte for byte where names are case-sensitive; case twins are one file where they are not.
  std::string upper, lower;
  const bool foldsCase = platform::nameKey("A", upper) == platform::nameKey("a", lower);
  const Waits expected = foldsCase ? Waits{{}, {0}, {1}, {2}} : Waits{{}, {}, {}, {1}};
  EXPECT_EQ(plan({"A\\x", "a\\x", "a\\X", "a\\x"}), expected);
}

TEST(WriteOrder, ChainsRatherThanFansOut) {
  // A thousand entries writing the same path make a chain: each waits for one entry only.
  std::vector<std::string> names(1000, "dup\\same.nif");
  std::vector<std::string_view> paths(names.begin(), names.end());
  WriteOrder order = planWriteOrder(paths);
  EXPECT_EQ(order.waits.size(), names.size() - 1);
  EXPECT_EQ(std::vector<uint32_t>(waitsOf(order, 999).begin(), waitsOf(order, 999).end()),
            std::vector<uint32_t>{998});
}

}  // namespace
}  // namespace oxtrel
