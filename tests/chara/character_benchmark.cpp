// How much of one core five walking characters cost. Not a test: it prints
// the figure (goal: under 2 %). Run by scripts/benchmark_characters.sh on a
// virtual display.

#include "chara/CharacterWindow.h"
#include "core/moods.h"

#include <QApplication>
#include <QCursor>
#include <QTimer>

#include <array>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double wallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    std::array<std::unique_ptr<lumopet::CharacterWindow>, lumopet::kMoodCount> windows;
    for (int k = 1; k <= lumopet::kMoodCount; ++k) {
        QCursor::setPos(200 + 120 * k, 300);
        windows[k - 1] = std::make_unique<lumopet::CharacterWindow>(k);
        windows[k - 1]->Show();
    }
    // Measure after the start-up has settled.
    double cpuStart = 0, wallStart = 0;
    QTimer::singleShot(1000, [&] {
        cpuStart = cpuSeconds();
        wallStart = wallSeconds();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double cpu = cpuSeconds() - cpuStart, wall = wallSeconds() - wallStart;
        std::printf("five characters walking for %.1f s: %.3f s of CPU, %.2f %% of one core (goal: under 2 %%)\n", wall, cpu,
                    100.0 * cpu / wall);
        QApplication::quit();
    });
    return QApplication::exec();
}
