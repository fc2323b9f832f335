#include "common/datalink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/test_hooks.h"

namespace {

// Every test must leave the store as it found it: no object or link may outlive the test.
class DatalinkTest : public ::testing::Test {
 protected:
  void SetUp() override { base_ = dl_counts_for_test(); }
  void TearDown() override {
    const DlCounts now = dl_counts_for_test();
    EXPECT_EQ(base_.objects, now.objects) << "objects leaked or freed twice";
    EXPECT_EQ(base_.links, now.links) << "links leaked or freed twice";
  }
  int64_t Objects() const { return dl_counts_for_test().objects - base_.objects; }
  int64_t Diagnostics() const { return dl_counts_for_test().diagnostics - base_.diagnostics; }

  DlCounts base_;
};

// The slaves of master in iteration order, as "text/kind" for string slaves.
std::vector<std::string> Walk(void* master) {
  std::vector<std::string> out;
  uint32_t kind = 0;
  for (void* s = dl_first(master, &kind); s != nullptr; s = dl_next(master, &kind)) {
    out.push_back(std::string(static_cast<char*>(s)) + "/" + std::to_string(kind));
  }
  return out;
}

TEST_F(DatalinkTest, SlavesComeNewestFirstAndTheEndIsSticky) {
  void* root = dl_new(0);
  void* list = dl_alloc(0, root, kDlKind);
  EXPECT_EQ(nullptr, dl_next(list, nullptr)) << "no iteration started";
  EXPECT_EQ(nullptr, dl_first(list, nullptr)) << "empty list";
  dl_strdup("a", list, 1);
  dl_strdup("b", list, 2);
  dl_strdup("c", list, 3);
  EXPECT_EQ((std::vector<std::string>{"c/3", "b/2", "a/1"}), Walk(list));
  EXPECT_EQ(3u, dl_nchild(list));

  for (int i = 0; i < 3; ++i) EXPECT_EQ(nullptr, dl_next(list, nullptr));
  EXPECT_STREQ("c", static_cast<char*>(dl_first(list, nullptr)));
  EXPECT_STREQ("b", static_cast<char*>(dl_next(list, nullptr)));
  dl_free(root);
  EXPECT_EQ(0, Diagnostics());
}

TEST_F(DatalinkTest, SharedStringOutlivesFirstRecord) {
  void* root = dl_new(0);
  void* list = dl_alloc(0, root, kDlKind);
  void* first = dl_alloc(16, list, kDlKind);
  void* second = dl_alloc(16, list, kDlKind);
  char* name = dl_strdup("DAILY", first, kDlKind);
  ASSERT_NE(nullptr, dlrel_new(second, name, kDlKind));
  EXPECT_EQ(2u, dl_refcnt(name));
  const int64_t before = Objects();

  dl_free(first);
  EXPECT_EQ(before - 1, Objects());
  EXPECT_EQ(1u, dl_refcnt(name));
  EXPECT_STREQ("DAILY", name);
  EXPECT_EQ(1u, dl_nchild(list));

  dl_free(second);
  EXPECT_EQ(before - 3, Objects()) << "the string goes with its last record";
  EXPECT_EQ(0u, dl_nchild(list));
  dl_free(root);
  EXPECT_EQ(0, Diagnostics());
}

// The shape of a loaded tracker: job records link the name string of their JNW record.
TEST_F(DatalinkTest, FreeingAListFreesWhatOnlyItHolds) {
  void* root = dl_new(0);
  void* jnws = dl_alloc(0, root, kDlKind);
  void* jobs = dl_alloc(0, root, kDlKind);
  void* jnw = dl_alloc(32, jnws, kDlKind);
  char* jnw_name = dl_strdup("A", jnw, kDlKind);
  for (int i = 0; i < 3; ++i) {
    void* job = dl_alloc(32, jobs, kDlKind);
    dl_strdup("job", job, kDlKind);
    dlrel_new(job, jnw_name, kDlKind);
  }
  ASSERT_EQ(11, Objects());

  dl_free(jnws);
  EXPECT_EQ(9, Objects()) << "the JNW name string lives on under the jobs";
  EXPECT_STREQ("A", jnw_name);
  EXPECT_EQ(3u, dl_refcnt(jnw_name));
  EXPECT_EQ(1u, dl_nchild(root));

  dl_free(jobs);
  EXPECT_EQ(1, Objects());
  EXPECT_EQ(0u, dl_nchild(root));
  EXPECT_EQ(1u, dl_refcnt(root));
  dl_free(root);
  EXPECT_EQ(0, Diagnostics());
}

// Freeing links during an iteration, the current one included, never skips or repeats a slave.
TEST_F(DatalinkTest, IterationSurvivesFreedLinks) {
  struct Case {
    int free_at;       // position of the slave returned last when the free happens
    int free_which;    // position of the slave whose link is freed
    bool free_object;  // free the slave object itself rather than the link
    std::vector<std::string> seen;
  };
  const Case cases[] = {
      {0, 0, false, {"d", "c", "b", "a"}},  // current is the first link
      {0, 0, true, {"d", "c", "b", "a"}},   // ... and goes with its object
      {1, 1, false, {"d", "c", "b", "a"}},  // current in the middle
      {3, 3, false, {"d", "c", "b", "a"}},  // current is the last link
      {1, 2, false, {"d", "c", "a"}},       // the next one goes
      {1, 2, true, {"d", "c", "a"}},
      {2, 0, false, {"d", "c", "b", "a"}},  // one already passed goes
  };
  for (const Case& c : cases) {
    void* holder = dl_new(0);
    void* list = dl_new(0);
    std::vector<DlLink*> links;  // in iteration order
    std::vector<void*> slaves;
    for (const char* t : {"a", "b", "c", "d"}) {
      slaves.insert(slaves.begin(), dl_strdup(t, holder, kDlKind));
      links.insert(links.begin(), dlrel_new(list, slaves.front(), kDlKind));
    }
    std::vector<std::string> seen;
    int pos = 0;
    for (void* s = dl_first(list, nullptr); s != nullptr; s = dl_next(list, nullptr), ++pos) {
      seen.push_back(static_cast<char*>(s));
      if (pos != c.free_at) continue;
      if (c.free_object) {
        dl_free(slaves[c.free_which]);
      } else {
        dlrel_free(links[c.free_which]);
      }
    }
    EXPECT_EQ(c.seen, seen) << "free_at " << c.free_at << " free_which " << c.free_which;
    EXPECT_EQ(nullptr, dl_next(list, nullptr));
    EXPECT_EQ(3u, dl_nchild(list));
    dl_free(list);
    dl_free(holder);
  }
  EXPECT_EQ(0, Diagnostics());
}

TEST_F(DatalinkTest, FreeingTheOnlyCurrentSlaveEndsTheIteration) {
  void* root = dl_new(0);
  void* only = dl_alloc(8, root, kDlKind);
  ASSERT_EQ(only, dl_first(root, nullptr));
  dl_free(only);
  EXPECT_EQ(nullptr, dl_next(root, nullptr));
  EXPECT_EQ(nullptr, dl_next(root, nullptr));
  dl_free(root);
  EXPECT_EQ(0, Diagnostics());
}

TEST_F(DatalinkTest, CyclesNeedAnExplicitFree) {
  void* root = dl_new(0);
  void* a = dl_alloc(8, root, kDlKind);
  void* b = dl_alloc(8, a, kDlKind);
  dlrel_new(b, a, kDlKind);
  dlrel_free(dlrel_new(a, a, kDlKind));  // a self link comes and goes cleanly
  dl_free(root);
  EXPECT_EQ(2, Objects()) << "a and b hold each other";
  dl_free(a);
  EXPECT_EQ(0, Objects());
  EXPECT_EQ(0, Diagnostics());

  // Cutting an unheld cycle from the master side frees the master, which lost its last hold
  // on the way, and that is reported once.
  root = dl_new(0);
  void* c = dl_alloc(8, root, kDlKind);
  void* d = dl_alloc(8, root, kDlKind);
  DlLink* cd = dlrel_new(c, d, kDlKind);
  dlrel_new(d, c, kDlKind);
  dl_free(root);
  ASSERT_EQ(2, Objects());
  dlrel_free(cd);
  EXPECT_EQ(0, Objects());
  EXPECT_EQ(1, Diagnostics());

  // A root that is also linked under a master outlives that master.
  void* e = dl_alloc(8, nullptr, kDlKind);  // a root when no master is given
  void* f = dl_new(0);
  dlrel_new(f, e, kDlKind);
  EXPECT_EQ(2u, dl_refcnt(e));
  dl_free(f);
  EXPECT_EQ(1u, dl_refcnt(e));
  dl_free(e);
  EXPECT_EQ(1, Diagnostics());
}

TEST_F(DatalinkTest, AbsentArgumentsDoNothing) {
  dl_free(nullptr);
  dlrel_free(nullptr);
  EXPECT_EQ(nullptr, dl_first(nullptr, nullptr));
  EXPECT_EQ(nullptr, dl_next(nullptr, nullptr));
  EXPECT_EQ(0u, dl_nchild(nullptr));
  EXPECT_EQ(0u, dl_refcnt(nullptr));
  void* root = dl_new(0);
  EXPECT_EQ(nullptr, dlrel_new(root, nullptr, kDlKind));
  EXPECT_EQ(nullptr, dlrel_new(nullptr, root, kDlKind));
  EXPECT_STREQ("", dl_strdup(nullptr, root, kDlKind));
  EXPECT_EQ(1u, dl_nchild(root));
  dl_free(root);
}

TEST_F(DatalinkTest, TypedObjectsAreZeroedAndAligned) {
  struct Record {
    long double wide;
    int64_t stamp;
    char* name;
  };
  void* root = dl_new(0);
  for (int i = 0; i < 4; ++i) {
    dl_strdup("x", root, kDlKind);  // odd-sized neighbours
    Record* r = dl_make<Record>(root, kDlKind);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(r) % alignof(std::max_align_t));
    EXPECT_EQ(0, r->stamp);
    EXPECT_EQ(nullptr, r->name);
  }
  dl_free(root);
}

TEST_F(DatalinkTest, RingLosesFreedMembers) {
  DlRing ring;
  void* root = dl_new(0);
  void* m[3];
  for (void*& p : m) {
    p = dl_alloc(8, root, kDlKind);
    dl_ring_add(&ring, p);
  }
  dl_ring_add(&ring, m[0]);  // already in a ring
  EXPECT_EQ(3u, ring.count);
  dl_free(m[1]);
  EXPECT_EQ(2u, ring.count);
  EXPECT_EQ(m[0], ring.first);
  dl_free(m[0]);
  EXPECT_EQ(m[2], ring.first);
  dl_free(root);
  EXPECT_EQ(0u, ring.count);
  EXPECT_EQ(nullptr, ring.first);
}

// A plain model of the store: objects, roots and links in the order they were made. Freeing
// removes what the store removes, and then every non-root object that nothing links any more.
struct Model {
  struct Edge {
    void* master;
    void* slave;
    DlLink* link;
    uint32_t kind;
  };
  std::vector<void*> alive;  // in the order of making
  std::vector<void*> roots;
  std::vector<Edge> edges;  // in the order of making

  static bool Has(const std::vector<void*>& v, void* p) {
    return std::find(v.begin(), v.end(), p) != v.end();
  }
  size_t Birth(void* p) const { return std::find(alive.begin(), alive.end(), p) - alive.begin(); }
  uint32_t In(void* p) const {
    return std::count_if(edges.begin(), edges.end(), [p](const Edge& e) { return e.slave == p; });
  }
  std::vector<Edge> Out(void* p) const {  // newest first, as the store iterates
    std::vector<Edge> out;
    for (auto it = edges.rbegin(); it != edges.rend(); ++it) {
      if (it->master == p) out.push_back(*it);
    }
    return out;
  }
  void Drop(void* p) {
    std::erase_if(edges, [p](const Edge& e) { return e.master == p || e.slave == p; });
    std::erase(alive, p);
    std::erase(roots, p);
  }
  void Settle() {
    for (bool again = true; again;) {
      again = false;
      for (void* p : alive) {
        if (!Has(roots, p) && In(p) == 0) {
          Drop(p);
          again = true;
          break;
        }
      }
    }
  }
};

// Builds and frees random graphs, checking after every step that the counts of every object
// match the model, that iteration returns the model's slaves newest first, and that freeing
// everything releases every block. Without cycles no step may report an inconsistency.
void RandomGraphs(uint32_t seed, bool cycles) {
  const DlCounts base = dl_counts_for_test();
  std::mt19937 rng(seed);
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  for (int round = 0; round < 20; ++round) {
    Model m;
    for (int step = 0; step < 150; ++step) {
      const size_t op = m.alive.empty() ? 0 : pick(10);
      uint32_t kind = static_cast<uint32_t>(pick(3)) + 1;
      if (op == 0 || m.roots.empty()) {
        m.alive.push_back(dl_new(pick(40)));
        m.roots.push_back(m.alive.back());
      } else if (op <= 3) {
        void* master = m.alive[pick(m.alive.size())];
        void* obj = op == 1 ? static_cast<void*>(dl_strdup("text", master, kind))
                            : dl_alloc(pick(64), master, kind);
        m.alive.push_back(obj);
        m.edges.push_back({master, obj, nullptr, kind});  // made by dl_alloc: no handle
      } else if (op <= 5) {
        void* master = m.alive[pick(m.alive.size())];
        void* slave = m.alive[pick(m.alive.size())];
        if (!cycles && m.Birth(master) >= m.Birth(slave)) std::swap(master, slave);
        if (!cycles && master == slave) continue;
        m.edges.push_back({master, slave, dlrel_new(master, slave, kind), kind});
      } else if (op == 6) {
        std::vector<Model::Edge> owned;
        for (const auto& e : m.edges) {
          if (e.link != nullptr) owned.push_back(e);
        }
        if (owned.empty()) continue;
        DlLink* link = owned[pick(owned.size())].link;
        dlrel_free(link);
        std::erase_if(m.edges, [link](const Model::Edge& e) { return e.link == link; });
        m.Settle();
      } else if (op == 7) {
        void* victim = m.alive[pick(m.alive.size())];
        dl_free(victim);
        m.Drop(victim);
        m.Settle();
      } else if (!cycles) {
        // Walk one object, freeing the current link now and then: without cycles the walk
        // can neither lose its master nor any of the links still ahead of it.
        void* master = m.alive[pick(m.alive.size())];
        const std::vector<Model::Edge> want = m.Out(master);
        size_t i = 0;
        for (void* s = dl_first(master, &kind); s != nullptr; s = dl_next(master, &kind), ++i) {
          ASSERT_LT(i, want.size());
          ASSERT_EQ(want[i].slave, s);
          ASSERT_EQ(want[i].kind, kind);
          if (want[i].link != nullptr && pick(3) == 0) {
            dlrel_free(want[i].link);
            std::erase_if(m.edges, [&](const Model::Edge& e) { return e.link == want[i].link; });
            m.Settle();
          }
        }
        ASSERT_EQ(want.size(), i);
      }

      const DlCounts now = dl_counts_for_test();
      ASSERT_EQ(static_cast<int64_t>(m.alive.size()), now.objects - base.objects)
          << "seed " << seed << " round " << round << " step " << step;
      ASSERT_EQ(static_cast<int64_t>(m.edges.size()), now.links - base.links);
      if (!cycles) {
        ASSERT_EQ(0, now.diagnostics - base.diagnostics);
      }
      for (void* p : m.alive) {
        ASSERT_EQ(m.Out(p).size(), dl_nchild(p));
        ASSERT_EQ(m.In(p) + (Model::Has(m.roots, p) ? 1u : 0u), dl_refcnt(p));
      }
      if (m.alive.empty()) continue;
      void* walked = m.alive[pick(m.alive.size())];
      const std::vector<Model::Edge> want = m.Out(walked);
      std::vector<void*> got;
      for (void* s = dl_first(walked, nullptr); s != nullptr; s = dl_next(walked, nullptr)) {
        got.push_back(s);
      }
      ASSERT_EQ(want.size(), got.size());
      for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(want[i].slave, got[i]);
    }
    // Roots first, then whatever cycles keep alive.
    while (!m.roots.empty()) {
      dl_free(m.roots.back());
      m.Drop(m.roots.back());
      m.Settle();
    }
    while (!m.alive.empty()) {
      dl_free(m.alive.back());
      m.Drop(m.alive.back());
      m.Settle();
    }
    ASSERT_EQ(base.objects, dl_counts_for_test().objects);
    ASSERT_EQ(base.links, dl_counts_for_test().links);
  }
}

TEST_F(DatalinkTest, RandomGraphsWithoutCycles) { RandomGraphs(20240611, false); }
TEST_F(DatalinkTest, RandomGraphsWithCycles) { RandomGraphs(7, true); }

void ReportNoMem(size_t) { std::fputs("store: out of memory\n", stderr); }

TEST(DatalinkDeathTest, HeapExhaustionEndsWithCode3) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(dl_new(SIZE_MAX), ::testing::ExitedWithCode(3), "");
  EXPECT_EXIT(
      {
        dl_set_nomem_handler(ReportNoMem);
        dl_strdup("x", dl_alloc(SIZE_MAX - 8, nullptr, kDlKind), kDlKind);
      },
      ::testing::ExitedWithCode(3), "store: out of memory");
}

}  // namespace
