#pragma once

#include "chara/random_source.h"

#include <deque>

namespace lumopet::test {

// Hands out the numbers it was given, in order; 0.5 when they run out.
class FixedRandom : public RandomSource {
public:
    explicit FixedRandom(std::deque<double> numbers) : numbers_(std::move(numbers)) {}
    double next() override {
        ++drawn;
        if (numbers_.empty()) return 0.5;
        const double n = numbers_.front();
        numbers_.pop_front();
        return n;
    }
    int drawn = 0;

private:
    std::deque<double> numbers_;
};

}  // namespace lumopet::test
