// One fuzz target per reader of outside input. Built with libFuzzer (make fuzz) each target is
// a program of its own; built into the corpus replay (make test) the targets register under
// their names and one driver runs every kept input of each through the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvfuzz {
using Target = int (*)(const std::uint8_t *data, std::size_t size);
bool add(const char *name, Target target);
} // namespace kvfuzz

#ifdef KV_FUZZ_REPLAY
#define KV_FUZZ_TARGET(name)                                                                      \
    static int fuzz_##name(const std::uint8_t *data, std::size_t size);                          \
    [[maybe_unused]] static const bool kRegistered_##name = kvfuzz::add(#name, fuzz_##name);      \
    static int fuzz_##name(const std::uint8_t *data, std::size_t size)
#else
#define KV_FUZZ_TARGET(name)                                                                      \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
#endif
