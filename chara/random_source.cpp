#include "chara/random_source.h"

#include <chrono>
#include <random>

namespace lumopet {
namespace {

class ClockSeededRandom : public RandomSource {
public:
    ClockSeededRandom()
        : engine_(static_cast<std::mt19937::result_type>(std::chrono::steady_clock::now().time_since_epoch().count())) {}
    double next() override { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_); }

private:
    std::mt19937 engine_;
};

std::unique_ptr<RandomSource>& current() {
    static std::unique_ptr<RandomSource> source;
    return source;
}

}  // namespace

std::unique_ptr<RandomSource> MakeClockSeededRandom() { return std::make_unique<ClockSeededRandom>(); }

RandomSource& CharacterRandom() {
    if (!current()) current() = MakeClockSeededRandom();
    return *current();
}

void SetCharacterRandom(std::unique_ptr<RandomSource> source) { current() = std::move(source); }

}  // namespace lumopet
