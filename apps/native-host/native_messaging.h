#pragma once

// Native-messaging framing between the browser and this host: a 4-byte unsigned
// length in native byte order, then exactly that many bytes of UTF-8 JSON. The
// streams carry these bytes untranslated, and nothing else may be written to the
// output, or the browser loses the framing.

#include <cstddef>
#include <cstdio>
#include <string>

namespace vn {

// Largest message body the host accepts from the browser; browsers never send more.
inline constexpr std::size_t kMaxNativeMessageBytes = 64 * 1024 * 1024;

// Reads one message from input and returns its body. An empty result means there
// are no more messages: the input ended, the length was 0, or the input ended in
// the middle of a message. A length above kMaxNativeMessageBytes is never
// allocated: its bytes are read and discarded in bounded chunks, then
// std::length_error "Native message too large" is thrown, leaving the input at
// the start of the next message (or an empty result if the input ends first).
std::string ReadNativeMessage(std::FILE* input = stdin);

// Writes text as one message to output and flushes it. Throws std::runtime_error
// "Failed to write native message" when the output is gone.
void WriteNativeMessage(const std::string& text, std::FILE* output = stdout);

}  // namespace vn
