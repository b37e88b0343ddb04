// The live chart of --plot on the terminal's screen: the chart stays in the
// top lines while the received text scrolls in the region below it (with
// --plot=only, a few lines for the program's status lines and echo). Drawn
// with the terminal's scroll region and cursor save and restore, so the
// text needs to know nothing of it.
#pragma once

#include <chrono>

#include "console.h"
#include "options.h"
#include "plot_series.h"

namespace tarnterm {

class PlotScreen {
public:
    using Clock = std::chrono::steady_clock;
    // New rows redraw the chart at most this often.
    static constexpr std::chrono::milliseconds kRedrawPeriod{100};
    // The screen used when the console does not say its size.
    static constexpr int kDefaultColumns = 80;
    static constexpr int kDefaultRows = 24;
    // The lines left below the chart with --plot=only.
    static constexpr int kStatusLines = 4;

    // Clears the screen and draws the empty chart, its series on one scale
    // or on one each. `series` must outlive the screen. Main thread only,
    // as is every member.
    PlotScreen(Console& console, const PlotSeries& series, bool chartOnly, bool color,
               PlotScale scale = PlotScale::kShared);
    // Gives the whole screen back to the text, the cursor where it was.
    ~PlotScreen();
    PlotScreen(const PlotScreen&) = delete;
    PlotScreen& operator=(const PlotScreen&) = delete;

    // The series has new rows: the chart is due for a redraw.
    void Changed() { pending_ = true; }
    // Redraws the chart when a redraw is due, and lays the screen out anew
    // when its size changed.
    void Service();
    // Milliseconds until a pending redraw is due; -1 when none is pending.
    int MsUntilDue() const;

private:
    void LayOut(int columns, int rows);
    void Draw();

    Console& console_;
    const PlotSeries& series_;
    const bool chartOnly_;
    const bool color_;
    const PlotScale scale_;
    int columns_ = 0;
    int rows_ = 0;
    // 0 when the screen is too small for a chart.
    int chartLines_ = 0;
    bool pending_ = false;
    Clock::time_point lastDrawn_;
};

}  // namespace tarnterm
