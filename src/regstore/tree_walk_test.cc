// Walks of the store that read key by key and value by value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "regstore/regstore.h"
#include "testing/registry_fixture.h"

namespace {

using namespace plat;

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
  testing_support::ScopedRegKey key;
  ASSERT_EQ(key.Create(kHkeyCurrentUser, path), kErrorSuccess);
  ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, kRegBinary,
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
    testing_support::ScopedRegKey empty;
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
    testing_support::ScopedRegKey key;
    ASSERT_EQ(key.Create(kHkeyCurrentUser, "Many"), kErrorSuccess);
    for (int i = 0; i < 100000; ++i) {
      const std::string name = "v" + std::to_string(i);
      const std::uint32_t data = static_cast<std::uint32_t>(i);
      ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, kRegDword,
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
