#pragma once
// Where the characters' random numbers come from: uniform in [0, 1). Tests
// put a fixed sequence in place of the clock-seeded one.

#include <functional>
#include <memory>

namespace lumopet {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual double next() = 0;
};

// Seeded from the clock, as each character window does when it loads.
std::unique_ptr<RandomSource> MakeClockSeededRandom();

// The source every character window uses; a test may replace it (nothing
// brings back the clock-seeded one).
RandomSource& CharacterRandom();
void SetCharacterRandom(std::unique_ptr<RandomSource> source);

}  // namespace lumopet
