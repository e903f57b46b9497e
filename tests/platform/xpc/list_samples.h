#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <string>
#include <vector>

// Binary property lists that no well-behaved client sends, for the wire and daemon tests.
namespace list_samples {

// A list of arrays written by hand (libplist's own writer recurses): object i holds the
// references children[i] (fewer than 15 each); object 0 is the root.
std::vector<std::uint8_t> arrays(const std::vector<std::vector<std::uint32_t>>& children);

// Arrays nested depth levels deep, the innermost one empty; 100,000 levels take 900 KB.
std::vector<std::uint8_t> nested_arrays(std::uint32_t depth);

std::vector<std::uint8_t> encoded(plist_t message);

// The encoding of message with the first occurrence of mark overwritten by NULs: a binary list
// counts a string's bytes, so it can carry a NUL that no libplist text can.
std::vector<std::uint8_t> encoded_with_nul_for(plist_t message, const std::string& mark);

// The 4-byte length followed by body.
std::vector<std::uint8_t> framed(const std::vector<std::uint8_t>& body);

}  // namespace list_samples
