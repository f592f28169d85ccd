// The kernels' per-thread scratch arena: frames give back what they took, a
// repeated product or quotient takes nothing from the heap, a heap that fails
// leaves the arena and the outputs as they were, and an arena that held more
// than its bound is given back.
#include <algorithm>
#include <cstdint>
#include <new>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "allocations.h"
#include "products.h"
#include "quotients.h"
#include "scratch.h"

namespace {

namespace detail = VELDAR::detail;
using detail::limb;
using detail::limb_vector;

limb_vector random_limbs(std::mt19937_64& random, std::size_t count) {
  limb_vector x(count);
  for (limb& v : x) {
    v = static_cast<limb>(random() % detail::limb_base);
  }
  x.back() = std::max<limb>(x.back(), 1);
  return x;
}

TEST(ScratchArena, NestedFramesKeepTheirValuesAndGiveThemBack) {
  detail::release_scratch();
  std::vector<std::uint64_t*> taken;
  {
    detail::scratch_frame outer;
    std::uint64_t* const first = outer.take<std::uint64_t>(1000);
    std::fill(first, first + 1000, 7);
    for (std::size_t round = 0; round < 3; ++round) {
      detail::scratch_frame inner;
      // Past any block the arena has: each of these is a chunk of its own.
      std::uint64_t* const more = inner.take<std::uint64_t>(100000 << round);
      std::fill(more, more + (100000 << round), round);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(more) % 64, 0U);
      detail::scratch_frame innermost;
      std::uint64_t* const last = innermost.take<std::uint64_t>(10);
      std::fill(last, last + 10, 9);
      EXPECT_TRUE(std::all_of(more, more + (100000 << round), [round](std::uint64_t v) { return v == round; }));
    }
    EXPECT_TRUE(std::all_of(first, first + 1000, [](std::uint64_t v) { return v == 7; }));
  }
  // The block is now as large as the most held at once, and a frame of that
  // size again fits in it.
  const std::size_t held = detail::scratch_held_bytes();
  EXPECT_GE(held, (1000 + (100000 << 2) + 10) * sizeof(std::uint64_t));
  {
    detail::scratch_frame again;
    again.take<std::uint64_t>(1000);
    again.take<std::uint64_t>(100000 << 2);
  }
  EXPECT_EQ(detail::scratch_held_bytes(), held);
}

TEST(ScratchArena, MoreThanTheBoundIsGivenBack) {
  {
    detail::scratch_frame frame;
    frame.take<char>(detail::scratch_kept_bytes + 1);  // never touched: no pages are used
  }
  EXPECT_EQ(detail::scratch_held_bytes(), 0U);
}

TEST(ScratchArena, ARepeatedProductOrQuotientTakesNothingFromTheHeap) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  std::mt19937_64 random(7100);
  // Limb by limb, Karatsuba, the transform, and the three kinds of division
  // (the schoolbook, the recursion, the reciprocal).
  for (const std::size_t n : {std::size_t{20}, detail::karatsuba_from_limbs() + 3, detail::transform_limbs + 100,
                              detail::recursive_division_limbs + 20, detail::reciprocal_division_limbs + 50}) {
    const limb_vector a = random_limbs(random, 2 * n);
    const limb_vector b = random_limbs(random, n);
    limb_vector product(3 * n);
    limb_vector quotient(n + 1);
    limb_vector remainder(n);
    const auto work = [&] {
      detail::multiply_limbs(a.data(), 2 * n, b.data(), n, product.data());
      detail::divide_limbs(a.data(), 2 * n, b.data(), n, quotient.data(), remainder.data());
    };
    work();
    const limb_vector expected_product = product;
    const limb_vector expected_quotient = quotient;
    veldar_test::fail_allocation(1);
    EXPECT_NO_THROW(work()) << n << " limbs";
    veldar_test::fail_allocation(0);
    EXPECT_EQ(product, expected_product);
    EXPECT_EQ(quotient, expected_quotient);
  }
}

TEST(ScratchArena, FailedGrowthLeavesTheOutputsAndTheArenaUsable) {
  if (!veldar_test::can_fail_allocations()) {
    GTEST_SKIP() << "operator new is not the test's own here";
  }
  std::mt19937_64 random(7200);
  const std::size_t n = detail::transform_limbs + 500;
  const limb_vector a = random_limbs(random, n);
  const limb_vector b = random_limbs(random, n);
  limb_vector expected(2 * n);
  detail::multiply_limbs(a.data(), n, b.data(), n, expected.data());
  for (long k = 1;; ++k) {
    detail::release_scratch();
    limb_vector product(2 * n, 3);
    veldar_test::fail_allocation(k);
    bool threw = false;
    try {
      detail::multiply_limbs(a.data(), n, b.data(), n, product.data());
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    veldar_test::fail_allocation(0);
    if (!threw) {
      EXPECT_EQ(product, expected);
      break;
    }
    EXPECT_TRUE(std::all_of(product.begin(), product.end(), [](limb x) { return x == 3; })) << "allocation " << k;
    detail::multiply_limbs(a.data(), n, b.data(), n, product.data());
    ASSERT_EQ(product, expected) << "after allocation " << k << " failed";
  }
}

}  // namespace
