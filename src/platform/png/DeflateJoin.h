#pragma once

#include <cstddef>
#include <cstdint>

namespace glimra::png::detail {

// Bytes makeDeflateStreamJoinable() may append.
constexpr std::size_t kJoinSlack = 5;

// Turns a complete raw DEFLATE stream (as libdeflate writes it: it cannot flush mid-stream) into one
// that another raw stream may follow: the final block loses its BFINAL bit and an empty stored block
// brings the stream to a byte boundary, exactly like zlib's sync flush. Walks every block to find the
// final one. `capacity` must be at least `size` + kJoinSlack. Returns the new size, or 0 when `stream`
// is not one well-formed stream of exactly `size` bytes (it is then left unchanged).
std::size_t makeDeflateStreamJoinable(std::uint8_t* stream, std::size_t size, std::size_t capacity);

// The Adler-32 of two concatenated pieces from the Adler-32 of each and the second's length.
std::uint32_t combineAdler32(std::uint32_t first, std::uint32_t second, std::size_t secondLength);

} // namespace glimra::png::detail
