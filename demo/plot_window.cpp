#include "plot_window.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QRegion>
#include <QStandardPaths>
#include <QTimerEvent>

#include "plot_feed.h"
#include "resources.h"

namespace chiroscope {

namespace {

QRect toQRect(const plot::Rect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

QColor colour(std::uint32_t rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb));
}

void drawLabel(QPainter& painter, const plot::Label& label) {
    const Qt::Alignment horizontal = label.align == plot::Label::Align::Left    ? Qt::AlignLeft
                                     : label.align == plot::Label::Align::Right ? Qt::AlignRight
                                                                                : Qt::AlignHCenter;
    painter.drawText(toQRect(label.box), static_cast<int>(horizontal | Qt::AlignVCenter),
                     QString::fromStdString(label.text));
}

const QColor kGridColour(0xD0, 0xD0, 0xD0);

}  // namespace

PlotWindow::PlotWindow(chirolink_glove* glove, QWidget* parent)
    : QWidget(parent, Qt::Window), glove_(glove) {
    setWindowTitle(QStringLiteral("Chiroscope Plot"));
    setWindowIcon(loadIcon(kIdrMainFrame));
    resize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    redrawTimer_.start(plot::kRedrawPeriodMs, Qt::PreciseTimer, this);
}

plot::TextMetrics PlotWindow::metrics() const {
    const QFontMetrics fm(font());
    return {fm.height(), [fm](std::string_view text) {
                return fm.horizontalAdvance(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
            }};
}

void PlotWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != redrawTimer_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    // The queue is drained also while hidden or paused: every frame reaches the model.
    plot::feed(glove_, model_);
    if (model_.paused()) {
        return;
    }
    if (paintCount_ == 0) {
        update();
        return;
    }
    // Only what moves: the traces, the legend's values and the rate (the note is in the plot).
    QRegion moving(toQRect(scene_.plot));
    for (const plot::LegendEntry& entry : scene_.legend) {
        moving += toQRect(entry.value.box);
    }
    moving += toQRect(scene_.rate.box);
    update(moving);
}

void PlotWindow::paintEvent(QPaintEvent*) {
    ++paintCount_;
    model_.layout(width(), height(), metrics(), scene_);
    if (background_.size() != size() * devicePixelRatio()) {
        drawBackground();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, background_);

    painter.save();
    painter.setClipRect(toQRect(scene_.plot));
    for (std::size_t i = 0; i < plot::kTraceCount; ++i) {
        // Width 0: the one-pixel cosmetic pen, which the raster engine draws without stroking.
        painter.setPen(QPen(colour(plot::kTraces[i].rgb), 0));
        for (const auto& line : scene_.traces[i]) {
            polyline_.resize(static_cast<int>(line.size()));
            for (std::size_t p = 0; p < line.size(); ++p) {
                polyline_.setPoint(static_cast<int>(p), line[p].x, line[p].y);
            }
            if (polyline_.size() == 1) {
                painter.drawPoint(polyline_.point(0));
            } else {
                painter.drawPolyline(polyline_);
            }
        }
    }
    painter.restore();

    painter.setPen(Qt::black);
    for (const plot::LegendEntry& entry : scene_.legend) {
        drawLabel(painter, entry.value);
    }
    drawLabel(painter, scene_.rate);
    if (!scene_.note.empty()) {
        const QRect box = toQRect(scene_.noteBox);
        painter.fillRect(box, Qt::white);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.drawText(box, Qt::AlignCenter, QString::fromStdString(scene_.note));
    }
}

void PlotWindow::drawBackground() {
    // What stays until the window's size changes: grid, frame, axis labels, legend names.
    background_ = QPixmap(size() * devicePixelRatio());
    background_.setDevicePixelRatio(devicePixelRatio());
    background_.fill(Qt::white);
    QPainter painter(&background_);
    painter.setFont(font());
    const QRect plotArea = toQRect(scene_.plot);
    painter.setPen(kGridColour);
    for (int y : scene_.gridY) {
        painter.drawLine(plotArea.left(), y, plotArea.right(), y);
    }
    for (int x : scene_.tickX) {
        painter.drawLine(x, plotArea.top(), x, plotArea.bottom());
    }
    painter.setPen(Qt::black);
    painter.drawRect(plotArea.adjusted(-1, -1, 0, 0));
    for (const plot::Label& label : scene_.axisLabels) {
        drawLabel(painter, label);
    }
    for (std::size_t i = 0; i < plot::kTraceCount; ++i) {
        const plot::LegendEntry& entry = scene_.legend[i];
        painter.fillRect(toQRect(entry.swatch), colour(plot::kTraces[i].rgb));
        drawLabel(painter, entry.name);
    }
}

void PlotWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        model_.setPaused(!model_.paused());
        update();
        return;
    }
    if (event->matches(QKeySequence::Save)) {
        saveAs();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PlotWindow::saveAs() {
    // The picture as it is when asked for, not after the dialog.
    const QPixmap picture = grab();
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) {
        folder = QDir::homePath();
    }
    const QString name = QStringLiteral("chiroscope-plot-%1.png")
                             .arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Plot"), QDir(folder).filePath(name),
                                     QStringLiteral("PNG pictures (*.png)"));
    if (path.isEmpty()) {
        return;
    }
    if (!savePicture(picture, path)) {
        QMessageBox::warning(this, QStringLiteral("Chiroscope Plot"),
                             QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(path)));
    }
}

bool PlotWindow::savePicture(const QPixmap& picture, const QString& path) {
    return picture.save(path, "PNG");
}

}  // namespace chiroscope
