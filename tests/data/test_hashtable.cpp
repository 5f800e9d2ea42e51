#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "data/MCHashtable.h"

using MCMath_850::MCHashKey;
using MCMath_850::MCHashPair;
using MCMath_850::MCHashPairPointerLess;
using MCMath_850::MCHashtable;

namespace {

// A value that counts its live instances, to see that the table deletes
// each stored value exactly once.
struct Counted {
    explicit Counted(int v) : fValue(v) { ++sAlive; }
    ~Counted() { --sAlive; }
    int fValue;
    static int sAlive;
};
int Counted::sAlive = 0;

MCHashKey* Key(std::vector<int> v) {
    return new MCHashKey(std::move(v));
}

}  // namespace

TEST(Hashtable, RehashAtThresholdKeepsEveryKey) {
    {
        MCHashtable<Counted> table(89);
        EXPECT_EQ(table.GetThreshold(), 66);
        for (int i = 0; i < 66; ++i) ASSERT_TRUE(table.Put(Key({i, -i, 7}), new Counted(i)));
        EXPECT_EQ(table.GetCapacity(), 89);
        EXPECT_EQ(table.GetNRehash(), 0);
        ASSERT_TRUE(table.Put(Key({66, -66, 7}), new Counted(66)));
        EXPECT_EQ(table.GetCapacity(), 179);
        EXPECT_EQ(table.GetThreshold(), 134);
        EXPECT_EQ(table.GetNRehash(), 1);
        EXPECT_EQ(table.GetCount(), 67);
        for (int i = 0; i < 67; ++i) {
            MCHashKey probe(std::vector<int>{i, -i, 7});
            const Counted* c = table.GetValue(&probe);
            ASSERT_NE(c, nullptr);
            EXPECT_EQ(c->fValue, i);
        }
        MCHashKey absent(std::vector<int>{1, -1});
        EXPECT_EQ(table.Get(&absent), nullptr);

        // An equal key is refused and stays the caller's.
        MCHashKey* dupKey = Key({5, -5, 7});
        Counted* dupValue = new Counted(-1);
        EXPECT_FALSE(table.Put(dupKey, dupValue));
        EXPECT_EQ(table.GetCount(), 67);
        delete dupKey;
        delete dupValue;

        // The iteration visits every pair once.
        std::set<int> seen;
        int visits = 0;
        for (const MCHashPair<Counted>& p : table) {
            seen.insert(p.fpValue->fValue);
            ++visits;
        }
        EXPECT_EQ(visits, 67);
        EXPECT_EQ(seen.size(), 67u);
        EXPECT_EQ(Counted::sAlive, 67);

        // Cleared nodes are recycled by the next inserts.
        table.Clear();
        EXPECT_EQ(Counted::sAlive, 0);
        EXPECT_EQ(table.GetNFreeNodes(), 67);
        EXPECT_TRUE(table.begin() == table.end());
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(table.Put(Key({i}), new Counted(i)));
        EXPECT_EQ(table.GetNFreeNodes(), 57);
    }
    EXPECT_EQ(Counted::sAlive, 0);
}

TEST(Hashtable, ChainOrderEqualityAndPointerOrder) {
    MCHashtable<int> table(5);
    // Keys forced into one bucket: equality needs equal entries, not just
    // equal codes; the chain is visited most recent first.
    MCHashKey* a = Key({1, 2});
    MCHashKey* b = Key({2, 1});
    MCHashKey* c = Key({});
    a->SetHashCode(3);
    b->SetHashCode(3);
    c->SetHashCode(-8);  // a negative code still lands in range
    ASSERT_TRUE(table.Put(a, new int(10)));
    ASSERT_TRUE(table.Put(b, new int(20)));
    ASSERT_TRUE(table.Put(c, new int(30)));
    std::vector<int> order;
    for (auto it = table.begin(); it != table.end(); ++it)
        if (it->fpKey->GetHashCode() == 3) order.push_back(*it->fpValue);
    EXPECT_EQ(order, (std::vector<int>{20, 10}));
    MCHashKey probe(std::vector<int>{});
    probe.SetHashCode(-8);
    ASSERT_NE(table.Get(&probe), nullptr);
    EXPECT_EQ(*table.GetValue(&probe), 30);

    // Null pointers sort last; keys in lexicographic order.
    std::vector<const MCHashPair<int>*> pairs = {nullptr};
    for (const MCHashPair<int>& p : table) pairs.push_back(&p);
    std::sort(pairs.begin(), pairs.end(), MCHashPairPointerLess<int>());
    ASSERT_EQ(pairs.back(), nullptr);
    EXPECT_EQ(*pairs[0]->fpValue, 30);
    EXPECT_EQ(*pairs[1]->fpValue, 10);
    EXPECT_EQ(*pairs[2]->fpValue, 20);
}
