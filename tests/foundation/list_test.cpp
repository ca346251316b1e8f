#include <gtest/gtest.h>

#include <vector>

#include "foundation/CyclicList.h"
#include "foundation/F_dual_list.h"

namespace {

struct Item : F_dual_list_item<Item> {
  int key = 0;
  int id = 0;
  int compare(const Item* o) const { return key - o->key; }
};

std::vector<int> ids(const F_dual_list<Item>& l) {
  std::vector<int> v;
  for (auto it = l.begin(); it != l.end(); ++it) v.push_back(it->id);
  return v;
}

}  // namespace

TEST(FDualList, EndsCountsAndMerge) {
  Item a[4];
  for (int i = 0; i < 4; ++i) a[i].id = i;
  F_dual_list<Item> l, empty;
  EXPECT_EQ(l.remove_from_head(), nullptr);
  EXPECT_EQ(l.size(), 0u);
  l.init(a, 3);
  l.insert_to_head(&a[3]);
  EXPECT_EQ(ids(l), (std::vector<int>{3, 0, 1, 2}));
  l.remove(&a[1]);
  EXPECT_EQ(ids(l), (std::vector<int>{3, 0, 2}));
  EXPECT_EQ(l.remove_from_tail(), &a[2]);
  EXPECT_EQ(l.last()->next, nullptr);
  empty.merge(l);
  EXPECT_EQ(l.size(), 0u);
  EXPECT_EQ(l.first(), nullptr);
  EXPECT_EQ(ids(empty), (std::vector<int>{3, 0}));
}

TEST(FSortedList, EqualKeysKeepInsertionOrder) {
  Item a[5];
  int keys[5] = {5, 1, 5, 3, 5};
  F_sorted_list<Item> l;
  for (int i = 0; i < 5; ++i) {
    a[i].key = keys[i];
    a[i].id = i;
    l.insert_to_tail_by_grown(&a[i]);
  }
  EXPECT_EQ(ids(l), (std::vector<int>{1, 3, 0, 2, 4}));
  EXPECT_EQ(l.first()->prev, nullptr);
}

TEST(CyclicList, EmbeddedRing) {
  struct Owner {
    int v;
    Containers::CyclicList node;
  };
  Containers::CyclicList ring;
  EXPECT_TRUE(ring.empty());
  Owner o1{7, {}}, o2{9, {}};
  ring.add_tail(&o1.node);
  ring.add_tail(&o2.node);
  std::vector<int> seen;
  for (Containers::CyclicList::TIterator it(ring.next), end(&ring); it != end; ++it)
    seen.push_back(Containers::offset<Owner>(*it, offsetof(Owner, node))->v);
  EXPECT_EQ(seen, (std::vector<int>{7, 9}));
  o1.node.unlink();
  EXPECT_EQ(ring.next, &o2.node);
}
