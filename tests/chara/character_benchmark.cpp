// How much of one core five walking characters cost. Not a test: it prints
// the figure (goal: under 0.5 %), and what one tick costs on average. Run by
// scripts/benchmark_characters.sh on a virtual display; under callgrind
// (`--callgrind`) only the measured stretch is counted, so the instruction
// count per tick is free of the start-up and of the noise of a shared
// machine.
//   character_benchmark [seconds] [away]
// With "away" the characters keep away from full-screen windows, as with
// AwayFromFullScreen on: the watch of the active window runs beside them.

#include "chara/CharacterWindow.h"
#include "chara/full_screen_watch.h"
#include "core/moods.h"

#include <QApplication>
#include <QCursor>
#include <QTimer>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

#include <array>
#include <cstdio>
#include <ctime>
#include <cstring>
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
    const bool away = argc > 2 && std::strcmp(argv[2], "away") == 0;
    std::array<std::unique_ptr<lumopet::CharacterWindow>, lumopet::kMoodCount> windows;
    long ticks = 0;
    bool measuring = false;
    for (int k = 1; k <= lumopet::kMoodCount; ++k) {
        QCursor::setPos(200 + 120 * k, 300);
        windows[k - 1] = std::make_unique<lumopet::CharacterWindow>(k);
        windows[k - 1]->Show();
        QObject::connect(windows[k - 1]->Timer1, &QTimer::timeout, [&] { ticks += measuring ? 1 : 0; });
    }
    std::unique_ptr<lumopet::FullScreenWatch> watch;
    if (away) {
        watch = lumopet::FullScreenWatch::Start();
        if (!watch) {
            std::fprintf(stderr, "no X server to watch\n");
            return 1;
        }
        QObject::connect(watch.get(), &lumopet::FullScreenWatch::fullScreenChanged, [&](bool fullScreen) {
            for (auto& window : windows) window->KeepAway(fullScreen);
        });
    }
    // Measure after the start-up has settled.
    double cpuStart = 0, wallStart = 0;
    QTimer::singleShot(1000, [&] {
        CALLGRIND_ZERO_STATS;
        measuring = true;
        cpuStart = cpuSeconds();
        wallStart = wallSeconds();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double cpu = cpuSeconds() - cpuStart, wall = wallSeconds() - wallStart;
        CALLGRIND_DUMP_STATS_AT("measured");
        std::printf("five characters walking for %.1f s%s: %.3f s of CPU, %.2f %% of one core (goal: under 0.2 %%); "
                    "%ld ticks, %.0f us of CPU a tick\n",
                    wall, away ? ", kept away from full screen" : "", cpu, 100.0 * cpu / wall, ticks,
                    ticks > 0 ? 1e6 * cpu / static_cast<double>(ticks) : 0.0);
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}
