#pragma once

// Shared by the fuzz targets. Each target defines the libFuzzer entry point;
// the fuzzer or the corpus replay (replay_main.cpp) calls it.

#include "service/json_coding.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace orvane::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A broken promise ends the run like a crash does, so the fuzzer keeps the input.
inline void check(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

// A DecodingError is the one way a reader may refuse; anything else that it
// throws leaves the entry point and ends the run.
template <class T> std::optional<T> decoded(const wire::Decoder& decoder) {
    try {
        return decoder.template decode<T>();
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

template <class T> std::optional<T> decodedJSON(const QByteArray& body) {
    try {
        return wire::decodeJSON<T>(body);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

} // namespace orvane::fuzz
