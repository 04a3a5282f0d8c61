// Percent coding of 8-bit URL text (the client's code page; nothing here knows UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace velm {

// Every address the loader requests and every path the proxy forwards: bytes 32..127 are kept
// except blank # % * + < > [ ], which become "%XX" like control bytes and bytes from 128.
std::string EncodeURL(std::string_view text);
// Query text of the statistics request: as EncodeURL, but "+" and the byte 0x80 are kept.
std::string EncodeQuery(std::string_view text);
// "%XX" (one or two hexadecimal digits) becomes its byte; a "%" with no hexadecimal digits after
// it is dropped together with the two characters it covers; "+" stays "+".
std::string DecodeURL(std::string_view text);

}  // namespace velm
