// The in-memory key list of a tag against a plain ordered set: random inserts and erases,
// bounds, walking both ways, and a bulk load.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "tables/key_store.h"

using namespace qv::tables;

namespace {

std::string Entry(const KeyStore& ks, const std::string& key, uint32_t recno) {
  std::string e(ks.EntrySize(), '\0');
  std::string k = (key + std::string(ks.KeyLen(), ' ')).substr(0, ks.KeyLen());
  ks.MakeEntry(reinterpret_cast<const uint8_t*>(k.data()), recno, reinterpret_cast<uint8_t*>(e.data()));
  return e;
}

std::vector<std::string> Forward(const KeyStore& ks) {
  std::vector<std::string> out;
  for (KeyStore::Pos p = ks.Begin(); !ks.AtEnd(p); ks.Next(p))
    out.emplace_back(reinterpret_cast<const char*>(ks.At(p)), ks.EntrySize());
  return out;
}

}  // namespace

// Key lengths below and above eight bytes take different paths in the search.
void BehavesLikeAnOrderedSet(uint16_t keyLen) {
  SCOPED_TRACE("key length " + std::to_string(keyLen));
  KeyStore ks(keyLen);
  std::set<std::string> ref;
  std::mt19937 rng(1);
  for (int i = 0; i < 20000; ++i) {
    // Mostly one shape; later on now and then keys that share nothing with it, so the bytes
    // all entries share shrink while the store is in use.
    const char* shape = i > 12000 && rng() % 40 == 0 ? (rng() % 2 ? "A" : "Z") : "K";
    std::string key = shape + std::to_string(rng() % 500);
    std::string e = Entry(ks, key, 1 + rng() % 300);
    const auto* p = reinterpret_cast<const uint8_t*>(e.data());
    if (rng() % 3 == 0) {
      EXPECT_EQ(ks.Erase(p), ref.erase(e) == 1);
    } else {
      EXPECT_EQ(ks.Insert(p), ref.insert(e).second);
    }
    // The largest record number (it sets the width of the file's record fields), now and
    // then: it must follow erases of the entry that held it.
    if (i % 97 == 0) {
      uint32_t want = 0;
      for (const std::string& x : ref) want = std::max(want, KeyStore::RecnoOf(reinterpret_cast<const uint8_t*>(x.data()), keyLen));
      ASSERT_EQ(ks.MaxRecno(), want) << "after step " << i;
    }
  }
  // The store's own reader walks the same entries as positions do.
  {
    std::vector<std::string> read;
    KeyStore::Reader r(ks);
    for (const uint8_t* x = r.Next(); x; x = r.Next()) read.emplace_back(reinterpret_cast<const char*>(x), ks.EntrySize());
    EXPECT_EQ(read, Forward(ks));
  }
  ASSERT_EQ(ks.Size(), ref.size());
  EXPECT_EQ(Forward(ks), std::vector<std::string>(ref.begin(), ref.end()));
  // Walking backwards from the end gives the same entries reversed.
  std::vector<std::string> back;
  KeyStore::Pos p = ks.End();
  while (ks.Prev(p)) back.emplace_back(reinterpret_cast<const char*>(ks.At(p)), ks.EntrySize());
  EXPECT_EQ(back, std::vector<std::string>(ref.rbegin(), ref.rend()));
  // Bounds over a key prefix (record number left out), and over whole entries (searched by
  // their leading bytes as numbers).
  std::vector<std::string> probes = {"K1", "K250", "K499", "A", "Z", "K42 "};
  for (const char* k : {"A", "A17", "K250", "K3", "Z", "Z499", "B", "\x01"}) probes.push_back(Entry(ks, k, 150));
  for (const std::string& pr : probes) {
    const std::string probe = pr;
    auto lb = ks.LowerBound(reinterpret_cast<const uint8_t*>(pr.data()), pr.size());
    auto it = std::find_if(ref.begin(), ref.end(), [&](const std::string& e) { return e.compare(0, pr.size(), pr) >= 0; });
    if (it == ref.end()) {
      EXPECT_TRUE(ks.AtEnd(lb)) << probe;
    } else {
      ASSERT_FALSE(ks.AtEnd(lb)) << probe;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(ks.At(lb)), ks.EntrySize()), *it) << probe;
    }
    auto ub = ks.UpperBound(reinterpret_cast<const uint8_t*>(pr.data()), pr.size());
    auto uit = std::find_if(ref.begin(), ref.end(), [&](const std::string& e) { return e.compare(0, pr.size(), pr) > 0; });
    if (uit == ref.end()) EXPECT_TRUE(ks.AtEnd(ub)) << probe;
    else EXPECT_EQ(std::string(reinterpret_cast<const char*>(ks.At(ub)), ks.EntrySize()), *uit) << probe;
  }
  // A bulk load of the flattened entries gives the same list, which stays usable.
  uint64_t before = ks.Version();
  KeyStore copy(keyLen);
  copy.Load(ks.Flatten());
  EXPECT_EQ(Forward(copy), Forward(ks));
  std::string e = Entry(copy, "K0", 999);
  EXPECT_TRUE(copy.Insert(reinterpret_cast<const uint8_t*>(e.data())));
  EXPECT_EQ(copy.Size(), ks.Size() + 1);
  EXPECT_EQ(ks.Version(), before);
  EXPECT_EQ(KeyStore::RecnoOf(reinterpret_cast<const uint8_t*>(e.data()), keyLen), 999u);
}

TEST(KeyStore, BehavesLikeAnOrderedSet) {
  for (uint16_t keyLen : {6, 1, 3, 4, 12}) BehavesLikeAnOrderedSet(keyLen);
}

TEST(KeyStore, LargestRecordNumberFollowsEveryChange) {
  KeyStore ks(4);
  EXPECT_EQ(ks.MaxRecno(), 0u);
  auto entry = [&](const std::string& key, uint32_t recno) { return Entry(ks, key, recno); };
  auto p = [](const std::string& e) { return reinterpret_cast<const uint8_t*>(e.data()); };
  for (uint32_t r : {5u, 9u, 2u, 9u}) ks.Insert(p(entry("K" + std::to_string(r % 3), r)));
  EXPECT_EQ(ks.MaxRecno(), 9u);
  // Erasing the entry with the largest number, then the next ones, one by one.
  EXPECT_TRUE(ks.Erase(p(entry("K0", 9))));
  EXPECT_EQ(ks.MaxRecno(), 5u);
  EXPECT_TRUE(ks.Insert(p(entry("A", 7))));
  EXPECT_TRUE(ks.Erase(p(entry("K2", 5))));
  EXPECT_EQ(ks.MaxRecno(), 7u);
  EXPECT_FALSE(ks.Erase(p(entry("K2", 5))));
  EXPECT_TRUE(ks.Erase(p(entry("A", 7))));
  EXPECT_TRUE(ks.Erase(p(entry("K2", 2))));
  EXPECT_EQ(ks.MaxRecno(), 0u);
  // A bulk load and a gathered load.
  std::string flat = entry("B", 3) + entry("C", 11) + entry("D", 4);
  ks.Load(std::vector<uint8_t>(flat.begin(), flat.end()));
  EXPECT_EQ(ks.MaxRecno(), 11u);
  ks.LoadGathered(p(flat), {0, 2});
  EXPECT_EQ(ks.MaxRecno(), 4u);
  EXPECT_EQ(ks.Size(), 2u);
}

// Entries are kept in chunks; erasing the last entry of one must leave searches finding the
// entries after it, in the next chunk.
TEST(KeyStore, SearchesSeeAChunkThatLostItsLastEntry) {
  for (uint16_t keyLen : {9, 12}) {
    KeyStore ks(keyLen);
    char key[16];
    for (int i = 0; i < 300; ++i) {
      std::snprintf(key, sizeof key, "A%03d", i);
      std::string e = Entry(ks, key, 1);
      ASSERT_TRUE(ks.Insert(reinterpret_cast<const uint8_t*>(e.data())));
    }
    int erased = 0;
    for (KeyStore::Pos p = ks.Begin(); !ks.AtEnd(p);) {
      KeyStore::Pos next = p;
      ks.Next(next);
      if (!ks.AtEnd(next) && next.chunk != p.chunk) {  // p is the last entry of its chunk
        const std::string last(reinterpret_cast<const char*>(ks.At(p)), ks.EntrySize());
        const std::string after(reinterpret_cast<const char*>(ks.At(next)), ks.EntrySize());
        ASSERT_TRUE(ks.Erase(reinterpret_cast<const uint8_t*>(last.data())));
        ++erased;
        // The erased key itself, and a key just below it that sorts after the chunk's new last.
        std::string below = last.substr(0, 3) + static_cast<char>(last[3] - 1) + std::string(keyLen - 4u, 'z');
        for (const std::string& probe : {last, below}) {
          KeyStore::Pos found = ks.LowerBound(reinterpret_cast<const uint8_t*>(probe.data()), probe.size());
          ASSERT_FALSE(ks.AtEnd(found));
          ASSERT_LT(found.index, 64u);
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(ks.At(found)), ks.EntrySize()), after);
        }
        EXPECT_TRUE(ks.Erase(reinterpret_cast<const uint8_t*>(after.data())));
        EXPECT_TRUE(ks.Insert(reinterpret_cast<const uint8_t*>(after.data())));
        p = ks.LowerBound(reinterpret_cast<const uint8_t*>(after.data()), ks.EntrySize());
        ks.Next(p);
        continue;
      }
      p = next;
    }
    EXPECT_GT(erased, 2);
    EXPECT_EQ(ks.Size(), 300u - static_cast<size_t>(erased));
  }
}

// Every key so far starts with the same bytes; searching for whole entries that do not must
// still land before the first entry or after the last.
TEST(KeyStore, SearchesForKeysOutsideTheBytesAllEntriesShare) {
  for (uint16_t keyLen : {5, 30}) {
    KeyStore ks(keyLen);
    for (int i = 0; i < 500; ++i) {
      std::string e = Entry(ks, "KEY" + std::to_string(i), 1 + static_cast<uint32_t>(i));
      ASSERT_TRUE(ks.Insert(reinterpret_cast<const uint8_t*>(e.data())));
    }
    const std::string first(reinterpret_cast<const char*>(ks.At(ks.Begin())), ks.EntrySize());
    for (const char* below : {"A", "KAY9", "KEX"}) {
      std::string probe = Entry(ks, below, 7);
      for (bool upper : {false, true}) {
        auto p = upper ? ks.UpperBound(reinterpret_cast<const uint8_t*>(probe.data()), probe.size())
                       : ks.LowerBound(reinterpret_cast<const uint8_t*>(probe.data()), probe.size());
        ASSERT_FALSE(ks.AtEnd(p)) << below;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(ks.At(p)), ks.EntrySize()), first) << below;
      }
      EXPECT_FALSE(ks.Erase(reinterpret_cast<const uint8_t*>(probe.data())));
    }
    for (const char* above : {"Z", "KEZ", "L"}) {
      std::string probe = Entry(ks, above, 7);
      EXPECT_TRUE(ks.AtEnd(ks.LowerBound(reinterpret_cast<const uint8_t*>(probe.data()), probe.size()))) << above;
      EXPECT_TRUE(ks.AtEnd(ks.UpperBound(reinterpret_cast<const uint8_t*>(probe.data()), probe.size()))) << above;
    }
    EXPECT_EQ(ks.Size(), 500u);
  }
}
