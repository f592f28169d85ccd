// Products by the number-theoretic transform, internal to the library: the
// method products.cpp takes for long factors, and the cyclic products that
// give the division's wrapped ones. transform.cpp explains the primes, the
// lengths and the two kernels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "limbs.h"

namespace VELDAR::detail {

// out[0, count) = (a * b) mod 10^(9 count), count <= na + nb, by the
// number-theoretic transform. Throws std::length_error for factors past
// transform_fits().
void multiply_transform(const limb* a, std::size_t na, const limb* b, std::size_t nb, limb* out, std::size_t count);
// Whether multiply_transform() takes factors of these sizes: their product's
// coefficients must fit its longest transform (2^36 coefficients).
bool transform_fits(std::size_t na, std::size_t nb);

// Wrapped products, (a * b) mod (B^L - 1), which the transform's cyclic
// convolution gives at half the length of the whole product where it runs
// on the vector kernel (multiply_wrapped() in products.h takes them).
// The shortest length L from `limbs` up that multiply_cyclic() takes, or
// `limbs` itself where it takes none.
std::size_t wrapped_limbs(std::size_t limbs);
// out[0, L) = (a * b) mod (B^L - 1) by the cyclic convolution, for
// L = `limbs` = wrapped_limbs(some length), 0 < na, nb <= L: true. False,
// with `out` untouched, where the vector transform does not take L.
bool multiply_cyclic(const limb* a, std::size_t na, const limb* b, std::size_t nb, std::size_t limbs, limb* out);

// The arithmetic of the transform: `scalar`, one 64-bit residue at a time
// modulo primes below 2^62, or `vector`, eight at a time in AVX-512 IFMA
// registers modulo primes below 2^50, for products of up to 2^31
// coefficients (longer ones take the scalar one). multiply_transform()
// takes the vector one where the processor has it.
enum class transform_kernel { scalar, vector };
// Whether the processor has AVX-512 IFMA, and the vector kernel is there.
bool vector_transform_available();
// The vector kernel's primes q1 > q2 > q3, and its last step on its own, for
// the tests: the limbs out[0, 2 count + 4) of the sum over k of
// (r1[k] + q1 d2[k] + q1 q2 d3[k]) 10^18k, for r1 < q1, d2 < q2 and d3 < q3,
// the Chinese remainder theorem's digits of each coefficient. Only where
// vector_transform_available().
std::array<std::uint64_t, 3> vector_transform_primes();
void vector_coefficient_limbs(const std::uint64_t* r1, const std::uint64_t* d2, const std::uint64_t* d3,
                              std::size_t count, limb* out);
// multiply_transform() by the kernel given, for the tests and benchmarks: the
// vector one only where vector_transform_available().
void multiply_transform_with(transform_kernel kernel, const limb* a, std::size_t na, const limb* b, std::size_t nb,
                             limb* out, std::size_t count);

}  // namespace VELDAR::detail
