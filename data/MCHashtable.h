#pragma once
#include <new>
#include <string>
#include <vector>

#include "companion/MCDisplay.h"
#include "companion/MCHashKey.h"

namespace MCMath_850 {

// A stored key and its value. Once a pair is in a table the table owns both
// objects and deletes them with itself.
template <class T>
struct MCHashPair {
    MCHashKey* fpKey = nullptr;
    T* fpValue = nullptr;

    MCHashKey* GetKey() const { return fpKey; }
    T* GetValue() const { return fpValue; }
};

// One link of a bucket chain. Nodes never move once created (a rehash only
// relinks them), so pointers to their pairs stay valid for the table's life.
template <class T>
struct PairNode {
    MCHashPair<T> fPair;
    PairNode<T>* fpNext = nullptr;

    MCHashPair<T>& GetPair() { return fPair; }
    const MCHashPair<T>& GetPair() const { return fPair; }
};

// Nodes not in use, linked through their next pointers. Recycling them keeps
// a table that is cleared and refilled from allocating again.
template <class T>
class PairNodeStack {
public:
    PairNodeStack() = default;
    PairNodeStack(const PairNodeStack&) = delete;
    PairNodeStack& operator=(const PairNodeStack&) = delete;
    ~PairNodeStack() { FreeAll(); }

    void Push(PairNode<T>* node) {
        node->fPair = MCHashPair<T>();
        node->fpNext = fpTop;
        fpTop = node;
        ++fNNodes;
    }
    // A node from the stack, or null when the stack is empty.
    PairNode<T>* Pop() {
        PairNode<T>* node = fpTop;
        if (node != nullptr) {
            fpTop = node->fpNext;
            node->fpNext = nullptr;
            --fNNodes;
        }
        return node;
    }
    int Size() const { return fNNodes; }
    bool IsEmpty() const { return fpTop == nullptr; }
    void FreeAll() {
        while (fpTop != nullptr) {
            PairNode<T>* next = fpTop->fpNext;
            delete fpTop;
            fpTop = next;
        }
        fNNodes = 0;
    }

private:
    PairNode<T>* fpTop = nullptr;
    int fNNodes = 0;
};

// The chain operations on a bucket's list of nodes.
template <class T>
class PairNodeList {
public:
    // Puts a node holding the pair in front of the chain, reusing a node of
    // the free stack when there is one. Returns the node (null when no node
    // could be allocated; the chain is then unchanged).
    static PairNode<T>* listHeadInsert(PairNode<T>*& head, const MCHashPair<T>& pair,
                                       PairNodeStack<T>& freeNodes) {
        PairNode<T>* node = freeNodes.Pop();
        if (node == nullptr) {
            node = new (std::nothrow) PairNode<T>();
            if (node == nullptr) return nullptr;
        }
        node->fPair = pair;
        node->fpNext = head;
        head = node;
        return node;
    }
    // Deletes every key and value of the chain and moves its nodes to the free
    // stack; the chain is empty afterwards. Returns the number of nodes.
    static int listClear(PairNode<T>*& head, PairNodeStack<T>& freeNodes) {
        int n = 0;
        while (head != nullptr) {
            PairNode<T>* next = head->fpNext;
            delete head->fPair.fpKey;
            delete head->fPair.fpValue;
            freeNodes.Push(head);
            head = next;
            ++n;
        }
        return n;
    }
    // One text line per node: the key entries and the hash code.
    static void showList(const PairNode<T>* head, int bucket);
};

template <class T>
class MCHashtable;

// Forward iterator over the stored pairs: bucket by bucket, within a bucket
// the most recent insertion first. The end iterator has no node and bucket
// number = capacity.
template <class T>
class MCHashIterator {
public:
    MCHashIterator() = default;
    MCHashIterator(MCHashtable<T>* table, PairNode<T>* node, int bucket)
        : fpTable(table), fpNode(node), fBucket(bucket) {}

    MCHashPair<T>& operator*() const { return fpNode->fPair; }
    MCHashPair<T>* operator->() const { return &fpNode->fPair; }
    MCHashIterator& operator++();
    bool operator==(const MCHashIterator& o) const {
        return fpNode == o.fpNode && fBucket == o.fBucket;
    }
    bool operator!=(const MCHashIterator& o) const { return !(*this == o); }
    PairNode<T>* GetNode() const { return fpNode; }
    int GetBucket() const { return fBucket; }

private:
    MCHashtable<T>* fpTable = nullptr;
    PairNode<T>* fpNode = nullptr;
    int fBucket = 0;
};

template <class T>
class const_MCHashIterator {
public:
    const_MCHashIterator() = default;
    const_MCHashIterator(const MCHashtable<T>* table, const PairNode<T>* node, int bucket)
        : fpTable(table), fpNode(node), fBucket(bucket) {}

    const MCHashPair<T>& operator*() const { return fpNode->fPair; }
    const MCHashPair<T>* operator->() const { return &fpNode->fPair; }
    const_MCHashIterator& operator++();
    bool operator==(const const_MCHashIterator& o) const {
        return fpNode == o.fpNode && fBucket == o.fBucket;
    }
    bool operator!=(const const_MCHashIterator& o) const { return !(*this == o); }
    const PairNode<T>* GetNode() const { return fpNode; }
    int GetBucket() const { return fBucket; }

private:
    const MCHashtable<T>* fpTable = nullptr;
    const PairNode<T>* fpNode = nullptr;
    int fBucket = 0;
};

// Chained hash table keyed by MCHashKey. Lookups use the hash code stored in
// the key: the caller computes it (MCHashKey::ComputeHash) after filling the
// key, so a reused work key is hashed once per fill and not once per probe.
template <class T>
class MCHashtable {
public:
    typedef MCHashIterator<T> iterator;
    typedef const_MCHashIterator<T> const_iterator;

    explicit MCHashtable(int capacity = 89);
    MCHashtable(const MCHashtable&) = delete;
    MCHashtable& operator=(const MCHashtable&) = delete;
    ~MCHashtable();

    // Stores the pair and takes ownership of key and value. False when an
    // equal key is already stored, or when memory for the node ran out; then
    // nothing changes and the caller still owns both objects.
    bool Put(MCHashKey* key, T* value);
    // The node holding a key equal to key, or null.
    PairNode<T>* Get(const MCHashKey* key);
    const PairNode<T>* Get(const MCHashKey* key) const;
    // The value stored under key, or null.
    T* GetValue(const MCHashKey* key) const {
        const PairNode<T>* node = Get(key);
        return node != nullptr ? node->fPair.fpValue : nullptr;
    }
    // Deletes every stored key and value; the nodes are kept for reuse.
    void Clear();

    iterator begin();
    iterator end() { return iterator(this, nullptr, fCapacity); }
    const_iterator begin() const;
    const_iterator end() const { return const_iterator(this, nullptr, fCapacity); }

    int GetCount() const { return fCount; }
    int GetCapacity() const { return fCapacity; }
    int GetThreshold() const { return fThreshold; }
    float GetLoadFactor() const { return fLoadFactor; }
    int GetNRehash() const { return fNRehash; }
    // Nodes waiting in the free stack.
    int GetNFreeNodes() const { return fFreeNodes.Size(); }

    void Display() const;

    // Bucket of a hash code. Codes from MCHashKey are never negative; a code
    // set by hand that is negative is mapped into range the same way by Get,
    // Put and the rehash, so every key stays findable.
    static int BucketOf(int hash, int capacity) {
        return static_cast<int>(static_cast<unsigned>(hash) % static_cast<unsigned>(capacity));
    }
    static bool KeysEqual(const MCHashKey& a, const MCHashKey& b) {
        return a.GetHashCode() == b.GetHashCode() && a == b;
    }

private:
    friend class MCHashIterator<T>;
    friend class const_MCHashIterator<T>;

    void Rehash();
    // The chain of bucket b (0 <= b < capacity).
    PairNode<T>*& Bucket(int b) { return fvBuckets[static_cast<std::size_t>(b)]; }
    PairNode<T>* Bucket(int b) const { return fvBuckets[static_cast<std::size_t>(b)]; }
    int NextBucket(int from) const {
        while (from < fCapacity && Bucket(from) == nullptr) ++from;
        return from;
    }

    std::vector<PairNode<T>*> fvBuckets;
    int fCapacity = 0;
    int fCount = 0;
    int fThreshold = 0;
    float fLoadFactor = 0.75f;
    int fNRehash = 0;
    PairNodeStack<T> fFreeNodes;
};

// Orders pointers to pairs by their keys (MCHashKey::operator<); null
// pointers sort last.
template <class T>
struct MCHashPairPointerLess {
    bool operator()(const MCHashPair<T>* a, const MCHashPair<T>* b) const {
        if (a == nullptr) return false;
        if (b == nullptr) return true;
        return *a->fpKey < *b->fpKey;
    }
};

// ---------------------------------------------------------------------------

template <class T>
MCHashtable<T>::MCHashtable(int capacity) {
    if (capacity < 1) capacity = 1;
    try {
        fvBuckets.assign(static_cast<std::size_t>(capacity), nullptr);
    } catch (const std::bad_alloc&) {
        capacity = 1;
        fvBuckets.assign(1, nullptr);
    }
    fCapacity = capacity;
    fThreshold = static_cast<int>(static_cast<float>(fCapacity) * fLoadFactor);
}

template <class T>
MCHashtable<T>::~MCHashtable() {
    Clear();
    fFreeNodes.FreeAll();
}

template <class T>
void MCHashtable<T>::Clear() {
    for (PairNode<T>*& head : fvBuckets) PairNodeList<T>::listClear(head, fFreeNodes);
    fCount = 0;
}

template <class T>
const PairNode<T>* MCHashtable<T>::Get(const MCHashKey* key) const {
    if (key == nullptr) return nullptr;
    const PairNode<T>* node = Bucket(BucketOf(key->GetHashCode(), fCapacity));
    for (; node != nullptr; node = node->fpNext)
        if (KeysEqual(*node->fPair.fpKey, *key)) return node;
    return nullptr;
}

template <class T>
PairNode<T>* MCHashtable<T>::Get(const MCHashKey* key) {
    return const_cast<PairNode<T>*>(static_cast<const MCHashtable<T>*>(this)->Get(key));
}

template <class T>
bool MCHashtable<T>::Put(MCHashKey* key, T* value) {
    if (key == nullptr || Get(key) != nullptr) return false;
    if (fCount + 1 > fThreshold) Rehash();
    MCHashPair<T> pair;
    pair.fpKey = key;
    pair.fpValue = value;
    PairNode<T>*& head = Bucket(BucketOf(key->GetHashCode(), fCapacity));
    if (PairNodeList<T>::listHeadInsert(head, pair, fFreeNodes) == nullptr) return false;
    ++fCount;
    return true;
}

// Doubles the bucket array (2n + 1 keeps the capacity odd). When the larger
// array cannot be allocated the table keeps its capacity: chains grow longer
// but every key stays reachable.
template <class T>
void MCHashtable<T>::Rehash() {
    const int newCapacity = 2 * fCapacity + 1;
    std::vector<PairNode<T>*> buckets;
    try {
        buckets.assign(static_cast<std::size_t>(newCapacity), nullptr);
    } catch (const std::bad_alloc&) {
        return;
    }
    for (PairNode<T>* head : fvBuckets) {
        while (head != nullptr) {
            PairNode<T>* next = head->fpNext;
            PairNode<T>*& to = buckets[static_cast<std::size_t>(
                BucketOf(head->fPair.fpKey->GetHashCode(), newCapacity))];
            head->fpNext = to;
            to = head;
            head = next;
        }
    }
    fvBuckets.swap(buckets);
    fCapacity = newCapacity;
    fThreshold = static_cast<int>(static_cast<float>(fCapacity) * fLoadFactor);
    ++fNRehash;
}

template <class T>
typename MCHashtable<T>::iterator MCHashtable<T>::begin() {
    const int b = NextBucket(0);
    return iterator(this, b < fCapacity ? Bucket(b) : nullptr, b);
}

template <class T>
typename MCHashtable<T>::const_iterator MCHashtable<T>::begin() const {
    const int b = NextBucket(0);
    return const_iterator(this, b < fCapacity ? Bucket(b) : nullptr, b);
}

template <class T>
MCHashIterator<T>& MCHashIterator<T>::operator++() {
    if (fpNode == nullptr) return *this;
    fpNode = fpNode->fpNext;
    if (fpNode == nullptr) {
        fBucket = fpTable->NextBucket(fBucket + 1);
        if (fBucket < fpTable->fCapacity) fpNode = fpTable->Bucket(fBucket);
    }
    return *this;
}

template <class T>
const_MCHashIterator<T>& const_MCHashIterator<T>::operator++() {
    if (fpNode == nullptr) return *this;
    fpNode = fpNode->fpNext;
    if (fpNode == nullptr) {
        fBucket = fpTable->NextBucket(fBucket + 1);
        if (fBucket < fpTable->fCapacity) fpNode = fpTable->Bucket(fBucket);
    }
    return *this;
}

template <class T>
void PairNodeList<T>::showList(const PairNode<T>* head, int bucket) {
    for (int pos = 0; head != nullptr; head = head->fpNext, ++pos) {
        const MCHashKey* key = head->fPair.fpKey;
        MCDisplay_850::DisplayIV(
            "Bucket " + std::to_string(bucket) + " node " + std::to_string(pos) + " key",
            key != nullptr ? key->GetValues() : std::vector<int>());
        MCDisplay_850::DisplayI("  hash code", key != nullptr ? key->GetHashCode() : 0);
    }
}

template <class T>
void MCHashtable<T>::Display() const {
    MCDisplay_850::DisplayText("MCHashtable display start");
    MCDisplay_850::DisplayI("Capacity", fCapacity);
    MCDisplay_850::DisplayI("Number of pairs", fCount);
    MCDisplay_850::DisplayI("Threshold", fThreshold);
    MCDisplay_850::DisplayD("Load factor", fLoadFactor);
    MCDisplay_850::DisplayI("Number of rehashes", fNRehash);
    MCDisplay_850::DisplayI("Free nodes", fFreeNodes.Size());
    for (int b = 0; b < fCapacity; ++b) PairNodeList<T>::showList(Bucket(b), b);
    MCDisplay_850::DisplayText("MCHashtable display end");
}

}  // namespace MCMath_850
