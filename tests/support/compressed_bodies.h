#pragma once

#include <string>

namespace orvane::test {

// `body` in one coding: the window bits pick the wrapper (31 gzip, 15 zlib,
// -15 none).
std::string compressed(std::string body, int windowBits);

// `count` empty gzip members, gzipped: each inflates to nothing, and their
// run compresses about a thousandfold.
std::string emptyMembersGzipped(int count);

// `count` empty deflate blocks with dynamic codes in a zlib stream, about 90
// bytes each: zlib builds two tables for each and makes nothing.
std::string emptyDynamicBlocks(int count);

} // namespace orvane::test
