// A received message's Return-Path value may become the envelope sender of the forwarded copy.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/ReversePath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> address = tarnwick::ReturnPathAddress(value);
    if (!address) return 0;
    // What is taken must make one clean reverse-path, "<>" only for the null path.
    const tarnwick::TReversePath path = tarnwick::ReversePathFor(*address);
    if (!path.Problem.empty() || (path.Path == "<>") != address->empty()) __builtin_trap();
    for (char c : path.Path)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) __builtin_trap();
    return 0;
}
