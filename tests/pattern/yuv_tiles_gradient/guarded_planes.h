// SPDX-License-Identifier: MIT
// Three planes of exactly their documented sizes, each between guard bands,
// all preset to a known byte pattern so that any write outside what a
// drawing may touch can be found afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "plane_bounds.h"
#include "test_pattern.h"

class GuardedPlanes {
public:
    static constexpr size_t guard = 48;

    // seed 0 presets every byte to 0xA5; other seeds give a byte pattern that
    // varies with the position, so a missed store rarely meets its own value.
    explicit GuardedPlanes(const plane_bounds::Planes &layout, uint8_t seed = 0) : layout_(layout) {
        for (size_t p = 0; p < 3; ++p) {
            storage_[p].resize(guard + layout.bytes[p] + guard);
            for (size_t i = 0; i < storage_[p].size(); ++i)
                storage_[p][i] = preset(seed, p, i);
            initial_[p] = storage_[p];
        }
    }

    pattern::PlanePointers pointers() {
        return {storage_[0].data() + guard, storage_[1].data() + guard, storage_[2].data() + guard};
    }

    std::span<const uint8_t> plane(size_t p) const {
        return {storage_[p].data() + guard, layout_.bytes[p]};
    }

    // Whole planes including their guards, for comparing two drawings.
    const std::array<std::vector<uint8_t>, 3> &storage() const { return storage_; }

    // Describes the first byte that changed although no drawing may change
    // it (a guard byte, row padding, an undrawn chroma row, an unused plane).
    std::optional<std::string> stray_write() const {
        for (size_t p = 0; p < 3; ++p) {
            for (size_t i = 0; i < storage_[p].size(); ++i) {
                const bool inside = i >= guard && i < guard + layout_.bytes[p];
                if (inside && layout_.writable[p][i - guard])
                    continue;
                if (storage_[p][i] != initial_[p][i])
                    return "plane " + std::to_string(p) + " byte " +
                           std::to_string(static_cast<long long>(i) -
                                          static_cast<long long>(guard)) +
                           (inside ? " (inside the plane)" : " (guard)");
            }
        }
        return std::nullopt;
    }

private:
    static uint8_t preset(uint8_t seed, size_t plane, size_t i) {
        if (seed == 0)
            return 0xA5;
        return static_cast<uint8_t>((i * 7 + plane * 13 + seed) ^ (i >> 8));
    }

    plane_bounds::Planes layout_;
    std::array<std::vector<uint8_t>, 3> storage_;
    std::array<std::vector<uint8_t>, 3> initial_;
};
