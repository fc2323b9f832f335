#include "cmds/flowtally/records.h"

#include <gtest/gtest.h>

#include <string>

namespace flowtally {
namespace {

// ---- Status classes and counting ----------------------------------------------------------------

TEST(StatusClass, BothTables) {
  // clang-format off
  const struct { const char* status; const char* extstat; int job; int jnw; } cases[] = {
      {"done", "s", 7, 7},    {"done", "xv", 7, 7},   {"done", "rb", 7, 7},  {"done", "g", 6, 7},
      {"done", "r", 8, 8},    {"done", "nf", 8, 8},   {"done", "n", 16, 16}, {"done", "", 6, 6},
      {"estop", "s", 9, 9},   {"prep", "h", 2, 10},   {"prep", "s", 3, 10},  {"prep", "", 1, 10},
      {"run", "DHr", 5, 11},  {"run", "Hr", 5, 12},   {"run", "rf", 5, 14},  {"run", "fn", 5, 13},
      {"run", "n", 5, 15},    {"run", "d", 5, 5},     {"submit", "", 4, 4},  {"wait", "hsw", 2, 2},
      {"wait", "sw", 3, 3},   {"wait", "v", 3, 3},    {"wait", "w", 1, 1},   {"wait", "", 1, 10},
      {"Done", "", 0, 0},     {"Run", "", 0, 0},      {"donex", "", 0, 0},   {"", "", 0, 0},
      {nullptr, nullptr, 0, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::string what =
        std::string(c.status ? c.status : "null") + "/" + (c.extstat ? c.extstat : "null");
    EXPECT_EQ(c.job, component_class(c.status, c.extstat)) << what;
    EXPECT_EQ(c.jnw, jnw_class(c.status, c.extstat)) << what;
  }
}

TEST(Counting, EveryClassAndTypeCode) {
  // Counters after component: wait, waithold, waitskip, run, done, doneskip, error.
  const char* expect[] = {"0000000", "1000000", "1100000", "1010000", "0001000", "0001000",
                          "0000100", "0000110", "0000001", "0000001", "1000000", "0001000",
                          "0001000", "0001000", "0001000", "0001000", "0000100", "0000000"};
  for (int cls = 0; cls <= 17; ++cls) {
    CountBlock b{};
    count_class(cls, b);
    const std::string got = std::to_string(b.wait) + std::to_string(b.waithold) +
                            std::to_string(b.waitskip) + std::to_string(b.run) +
                            std::to_string(b.done) + std::to_string(b.doneskip) +
                            std::to_string(b.error);
    EXPECT_EQ(1u, b.component) << cls;
    EXPECT_EQ(expect[cls], got) << "class " << cls;
  }
  // clang-format off
  const struct { int typecode; int block; } types[] = {
      {kTypeJnw, kBlockJnw}, {kTypeUnit, kBlockUnit}, {kTypeErp, kBlockErp},
      {kTypeOther, kBlockOther}, {kTypeBi, kBlockBi}, {kTypeQdrs, kBlockQdrs}, {kTypePc, kBlockPc},
      {kTypeHlbs, kBlockHlbs}, {kTypeCustom, kBlockCustom}, {4, kBlockOther}, {-1, kBlockOther},
  };
  // clang-format on
  for (const auto& c : types) {
    CountTable t{};
    count_component(8, t, c.typecode);
    for (int i = 0; i < kCountBlocks; ++i) {
      const uint32_t want = (i == kBlockAll || i == c.block) ? 1 : 0;
      EXPECT_EQ(want, t.block[i].error) << "type " << c.typecode << " block " << i;
    }
  }
}

}  // namespace
}  // namespace flowtally
