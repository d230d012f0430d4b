// Closes the modal dialogs that the code under test opens, and records what they were.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

namespace chiroscope::testing {

struct SeenDialog {
    QString className;
    QString title;
};

class ModalWatcher {
public:
    // `inspect` sees each modal dialog before it is closed; `reject` closes it.
    explicit ModalWatcher(std::function<void(QWidget&)> inspect = {})
        : inspect_(std::move(inspect)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(10);
    }

    const std::vector<SeenDialog>& seen() const { return seen_; }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == handled_) {
            return;
        }
        handled_ = modal;
        SeenDialog seen;
        seen.className = QString::fromLatin1(modal->metaObject()->className());
        seen.title = modal->windowTitle();
        if (inspect_) {
            inspect_(*modal);
        }
        seen_.push_back(seen);
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }

    std::function<void(QWidget&)> inspect_;
    QTimer timer_;
    QPointer<QWidget> handled_;
    std::vector<SeenDialog> seen_;
};

}  // namespace chiroscope::testing
