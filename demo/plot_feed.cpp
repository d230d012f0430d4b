#include "plot_feed.h"

#include <algorithm>

namespace chiroscope::plot {

int feed(chirolink_glove* glove, Model& model) {
    int taken = 0;
    chirolink_frame frame;
    while (chirolink_next_frame(glove, &frame, 0) == CHIROLINK_OK) {
        Frame plotted{frame.monotonic_s, {}};
        std::copy_n(frame.values, kTraceCount, plotted.values.begin());
        model.add(plotted);
        ++taken;
    }
    chirolink_status status;
    if (chirolink_get_status(glove, &status) == CHIROLINK_OK) {
        model.setLink(status.state == CHIROLINK_STATE_RUNNING, status.last_frame_age_s);
    }
    return taken;
}

}  // namespace chiroscope::plot
