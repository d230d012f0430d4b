// Hands a glove's frames to the plot's model, without waiting: what both Chiroscopes do at
// each redraw of their plot window.
#pragma once

#include "chirolink_glove.h"
#include "plot_model.h"

namespace chiroscope::plot {

// Takes every frame waiting in `glove`'s queue, in order, into `model`, then the link's state
// (running or not, the age of its newest frame). Returns the number of frames taken.
int feed(chirolink_glove* glove, Model& model);

}  // namespace chiroscope::plot
