// Text helpers for scenarios, messages and output: UTF-8 to and from host characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qhost {

std::u32string fromUtf8(const std::string& s);
std::string toUtf8(const std::u32string& s);
void appendUtf8(std::string& out, const std::u32string& s);
// The same for n host characters (32-bit units, or 8-bit ones in the 8-bit flavour).
void appendUtf8(std::string& out, const uint32_t* units, size_t n);
void appendUtf8(std::string& out, const uint8_t* units, size_t n);
// Text in ISO-8859-1, or in Windows-1252 (U+FFFD for its five undefined bytes), as UTF-8.
std::string singleByteToUtf8(const std::string& bytes, bool windows1252);

} // namespace qhost
