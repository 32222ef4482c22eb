// Walks of the store that read key by key and value by value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "regstore/regstore.h"
#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"

namespace {

using namespace regdefs;

// Each call of a walk as a line; stops after `limit` calls.
class Recorder : public regstore::StoreVisitor {
 public:
  bool Key(const std::string& path) override { return Note("key " + path); }
  bool Value(const regstore::StoreValueView& value) override {
    return Note("value " + std::string(value.name) + "=" +
                std::string(reinterpret_cast<const char*>(value.data), value.size) + " (" +
                std::to_string(value.type) + ")");
  }
  bool Subkey(std::string_view name) override { return Note("subkey " + std::string(name)); }

  std::vector<std::string> calls;
  std::size_t limit = static_cast<std::size_t>(-1);

 private:
  bool Note(const std::string& call) {
    calls.push_back(call);
    return calls.size() < limit;
  }
};

void Set(const std::string& path, const std::string& name, const std::string& data) {
  testing_support::ScopedStoreKey key;
  ASSERT_EQ(key.Create(kHkeyCurrentUser, path), kErrorSuccess);
  ASSERT_EQ(regstore::SetValue(key.get(), name.c_str(), kRegBinary,
                               reinterpret_cast<const std::uint8_t*>(data.data()),
                               static_cast<std::uint32_t>(data.size())),
            kErrorSuccess);
}

class StoreWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Set("W", "second", "2");
    Set("W", "first", "1");
    Set("W\\beta", "b", "x");
    Set("W\\Alpha\\Deep", "d", "y");
    Set("W\\alpha2", "c", "z");
    testing_support::ScopedStoreKey empty;
    ASSERT_EQ(empty.Create(kHkeyCurrentUser, "W\\Alpha\\Empty"), kErrorSuccess);
  }
  testing_support::ScopedTestRegistry registry_;
};

TEST_F(StoreWalkTest, DepthFirstInNameOrderWithValuesInCreationOrder) {
  Recorder all;
  ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "w", true, &all), kErrorSuccess);
  EXPECT_EQ(all.calls, std::vector<std::string>({
                           "key W",
                           "value second=2 (3)",
                           "value first=1 (3)",
                           "key W\\Alpha",
                           "key W\\Alpha\\Deep",
                           "value d=y (3)",
                           "key W\\Alpha\\Empty",
                           "key W\\alpha2",
                           "value c=z (3)",
                           "key W\\beta",
                           "value b=x (3)",
                       }));

  Recorder one;
  ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "W", false, &one), kErrorSuccess);
  EXPECT_EQ(one.calls, std::vector<std::string>({"key W", "value second=2 (3)", "value first=1 (3)",
                                                 "subkey Alpha", "subkey alpha2", "subkey beta"}));
}

TEST_F(StoreWalkTest, StopsWhenTheVisitorSaysSo) {
  for (std::size_t limit = 1; limit <= 6; ++limit) {
    Recorder some;
    some.limit = limit;
    ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "W", true, &some), kErrorSuccess);
    EXPECT_EQ(some.calls.size(), limit);
  }
  // The store is usable afterwards: nothing was left open.
  Set("W", "after", "3");
  Recorder all;
  ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "W", false, &all), kErrorSuccess);
  EXPECT_EQ(all.calls[3], "value after=3 (3)");
}

// The values of a key lie side by side in the table, interleaved with
// another key's, or strewn far apart; each layout is read back whole, in the
// order the values were made, with none of the other key's.
TEST(StoreWalkLayoutTest, ValuesComeInCreationOrderHoweverTheyLie) {
  struct Layout {
    const char* name;
    int values;        // values of each key, A and B
    int between;       // values of the key C made after each value of A
    bool interleaved;  // each value of B made right after A's
  };
  const Layout layouts[] = {
      {"side by side", 40, 0, false},
      {"interleaved", 40, 0, true},
      {"strewn", 5, 100, false},
      {"strewn and interleaved", 5, 100, true},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    testing_support::ScopedTestRegistry registry;
    std::vector<std::string> expected_a, expected_b;
    for (int i = 0; i < layout.values; ++i) {
      const std::string n = std::to_string(layout.values - i);  // names not in row order
      Set("L\\A", "a" + n, n);
      expected_a.push_back("value a" + n + "=" + n + " (3)");
      if (layout.interleaved) {
        Set("L\\B", "b" + n, n);
        expected_b.push_back("value b" + n + "=" + n + " (3)");
      }
      for (int j = 0; j < layout.between; ++j)
        Set("L\\C", "c" + std::to_string(i * layout.between + j), "c");
    }
    if (!layout.interleaved) {
      for (int i = 0; i < layout.values; ++i) {
        Set("L\\B", "b" + std::to_string(i), "b");
        expected_b.push_back("value b" + std::to_string(i) + "=b (3)");
      }
    }
    // A value set again keeps its place; one deleted and made again goes last.
    Set("L\\A", "a1", "again");
    expected_a[static_cast<std::size_t>(layout.values - 1)] = "value a1=again (3)";
    {
      testing_support::ScopedStoreKey a;
      ASSERT_EQ(a.Create(kHkeyCurrentUser, "L\\A"), kErrorSuccess);
      ASSERT_EQ(regstore::DeleteValue(a.get(), "a2"), kErrorSuccess);
    }
    Set("L\\A", "a2", "new");
    expected_a.erase(expected_a.begin() + (layout.values - 2));
    expected_a.push_back("value a2=new (3)");

    for (const char* key : {"A", "B"}) {
      const auto& expected = key[0] == 'A' ? expected_a : expected_b;
      Recorder alone;
      ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, std::string("L\\") + key, false, &alone),
                kErrorSuccess);
      ASSERT_EQ(alone.calls.size(), expected.size() + 1);
      EXPECT_EQ(std::vector<std::string>(alone.calls.begin() + 1, alone.calls.end()), expected);
    }
    // The same values when the key is reached in a walk of the tree.
    Recorder tree;
    ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "L", true, &tree), kErrorSuccess);
    std::vector<std::string> want = {"key L", "key L\\A"};
    want.insert(want.end(), expected_a.begin(), expected_a.end());
    want.push_back("key L\\B");
    want.insert(want.end(), expected_b.begin(), expected_b.end());
    if (layout.between > 0)
      want.push_back("key L\\C");
    ASSERT_GE(tree.calls.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(tree.calls.begin(), tree.calls.begin() + want.size()), want);
    EXPECT_EQ(tree.calls.size() - want.size(),
              static_cast<std::size_t>(layout.values * layout.between));
  }
}

// Keys made in turns below several parents lie far from their siblings; a
// walk still meets each in name order with its own name, its own values and
// its subkeys, also those of keys made late below early ones, and none of a
// deleted key.
TEST(StoreWalkLayoutTest, KeysMadeInTurnsBelowSeveralParents) {
  testing_support::ScopedTestRegistry registry;
  const int parents = 6;
  const int keys = 40;
  auto key_path = [](int p, int k) {
    return "T\\P" + std::to_string(p) + "\\" + (k % 2 ? "k" : "K") + (k < 10 ? "0" : "") +
           std::to_string(k);
  };
  for (int k = 0; k < keys; ++k) {
    for (int p = 0; p < parents; ++p) {
      const std::string tag = std::to_string(p) + "." + std::to_string(k);
      Set(key_path(p, k), "first", tag);
      if (k % 3 != 0)
        Set(key_path(p, k), "second", tag);
    }
  }
  Set(key_path(0, 3) + "\\Late", "late", "l");
  Set(key_path(0, 3), "third", "0.3");
  ASSERT_EQ(regstore::StoreDeleteTree(kHkeyCurrentUser, key_path(2, 5), false), kErrorSuccess);
  {
    testing_support::ScopedStoreKey empty;
    ASSERT_EQ(empty.Create(kHkeyCurrentUser, "T\\P3\\Zero"), kErrorSuccess);
  }

  std::vector<std::string> want = {"key T"};
  for (int p = 0; p < parents; ++p) {
    want.push_back("key T\\P" + std::to_string(p));
    for (int k = 0; k < keys; ++k) {
      if (p == 2 && k == 5)
        continue;
      const std::string tag = std::to_string(p) + "." + std::to_string(k);
      want.push_back("key " + key_path(p, k));
      want.push_back("value first=" + tag + " (3)");
      if (k % 3 != 0)
        want.push_back("value second=" + tag + " (3)");
      if (p == 0 && k == 3) {
        want.push_back("value third=0.3 (3)");
        want.push_back("key " + key_path(0, 3) + "\\Late");
        want.push_back("value late=l (3)");
      }
    }
    if (p == 3)
      want.push_back("key T\\P3\\Zero");
  }
  Recorder tree;
  ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "T", true, &tree), kErrorSuccess);
  EXPECT_EQ(tree.calls, want);
}

TEST_F(StoreWalkTest, MissingKeysAndRoots) {
  Recorder none;
  EXPECT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "W\\Nothing", true, &none), kErrorFileNotFound);
  EXPECT_TRUE(none.calls.empty());
  Recorder root;
  ASSERT_EQ(regstore::StoreWalk(kHkeyLocalMachine, "", true, &root), kErrorSuccess);
  EXPECT_EQ(root.calls, std::vector<std::string>({"key "}));
}

TEST_F(StoreWalkTest, ProtectedKeysAreWalkedToo) {
  ASSERT_TRUE(testing_support::ProtectKey(kHkeyCurrentUser, "W\\Alpha"));
  Recorder all;
  ASSERT_EQ(regstore::StoreWalk(kHkeyCurrentUser, "W\\Alpha", true, &all), kErrorSuccess);
  EXPECT_EQ(all.calls.size(), 4u);
}

TEST_F(StoreWalkTest, ForEachValueAndSubkey) {
  {
    testing_support::ScopedStoreKey key;
    ASSERT_EQ(key.Create(kHkeyCurrentUser, "Many"), kErrorSuccess);
    for (int i = 0; i < 100000; ++i) {
      const std::string name = "v" + std::to_string(i);
      const std::uint32_t data = static_cast<std::uint32_t>(i);
      ASSERT_EQ(regstore::SetValue(key.get(), name.c_str(), kRegDword,
                                   reinterpret_cast<const std::uint8_t*>(&data), 4),
                kErrorSuccess);
    }
  }
  std::size_t count = 0;
  bool in_order = true;
  ASSERT_EQ(regstore::StoreForEachValue(kHkeyCurrentUser, "many",
                                        [&](const regstore::StoreValueView& value) {
                                          std::uint32_t data = 0;
                                          std::memcpy(&data, value.data, 4);
                                          in_order = in_order && data == count &&
                                                     value.name == "v" + std::to_string(count);
                                          ++count;
                                          return true;
                                        }),
            kErrorSuccess);
  EXPECT_EQ(count, 100000u);
  EXPECT_TRUE(in_order);

  std::vector<std::string> names;
  ASSERT_EQ(regstore::StoreForEachSubkey(kHkeyCurrentUser, "W",
                                         [&](std::string_view name) {
                                           names.emplace_back(name);
                                           return names.size() < 2;
                                         }),
            kErrorSuccess);
  EXPECT_EQ(names, std::vector<std::string>({"Alpha", "alpha2"}));
}

}  // namespace
