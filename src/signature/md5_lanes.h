#pragma once
#include <cstddef>
#include <cstdint>

// The compression function over several messages at once, one per lane of
// the processor's vector registers: a step costs about what it costs one
// message, so n messages take little more time than one.
namespace veldrano::md5_lanes {

// Folds blocks consecutive 64-byte blocks of each of four messages, from
// data[i], into states[i].
void FoldFour(std::uint32_t* const states[4], const std::uint8_t* const data[4], std::size_t blocks);

// The same for eight, where the processor has 256-bit integer vectors
// (HasFoldEight); else it must not be called.
bool HasFoldEight();
void FoldEight(std::uint32_t* const states[8], const std::uint8_t* const data[8], std::size_t blocks);

}  // namespace veldrano::md5_lanes
