#pragma once

// A bound on how deeply a message may nest arrays and objects, checked before
// the message is parsed: the JSON library keeps a value and a parser state per
// open level, so a message of nothing but "[" costs many times its own size.

#include <cstddef>
#include <string_view>

namespace vn {

// Deeper than any capture or handshake the browser sends.
inline constexpr std::size_t kMaxJsonNesting = 256;

// Whether text opens more than limit arrays or objects at once, counting only
// brackets outside strings. Reads text once; allocates nothing.
bool NestsDeeperThan(std::string_view text, std::size_t limit);

}  // namespace vn
