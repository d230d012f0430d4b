// The plot window: the glove's every frame of the last 10 s as seven traces, redrawn 20
// times a second. It drains the glove's frame queue at each redraw (never waiting), hands the
// frames to the shared model (plot_model.h) and paints the scene the model lays out.
//
// Keys: Space pauses and resumes the drawing (frames keep arriving); Ctrl+S saves the window as
// a PNG picture.
#pragma once

#include <QBasicTimer>
#include <QPixmap>
#include <QPolygon>
#include <QWidget>

#include "chirolink_glove.h"
#include "plot_model.h"

namespace chiroscope {

class PlotWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 720;
    static constexpr int kHeight = 400;

    // Shows the frames of `glove`, which must outlive the window. `parent` keeps the window
    // usable beside a modal parent; it is a window of its own all the same.
    explicit PlotWindow(chirolink_glove* glove, QWidget* parent = nullptr);

    const plot::Model& model() const { return model_; }
    // What the last paint drew.
    const plot::Scene& scene() const { return scene_; }
    // Paints so far, for measuring the redraw rate.
    int paintCount() const { return paintCount_; }
    // Writes `picture` to `path` as PNG; false when it cannot be written.
    static bool savePicture(const QPixmap& picture, const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void saveAs();
    void drawBackground();
    plot::TextMetrics metrics() const;

    chirolink_glove* glove_;
    plot::Model model_;
    plot::Scene scene_;
    QPolygon polyline_;   // reused for every trace
    QPixmap background_;  // the parts that change only with the window's size
    QBasicTimer redrawTimer_;
    int paintCount_ = 0;
};

}  // namespace chiroscope
