#include "app/held_input.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace bearfix {

bool HeldInput::hold(QObject* watched, QEvent* event, QWidget* window) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            if (held_.size() < kMaxHeld) held_.push_back({watched, std::unique_ptr<QEvent>(event->clone())});
            return true;
        case QEvent::Close:
            if (watched != window && watched != window->windowHandle()) return false;
            event->ignore();
            if (held_.size() < kMaxHeld) held_.push_back({window, nullptr});
            return true;
        // Made again from the held keys and clicks when they are delivered.
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::MouseMove:
            return true;
        default:
            return false;
    }
}

void HeldInput::release(QWidget* window) {
    std::vector<Held> held;
    held.swap(held_);
    for (Held& h : held) {
        if (!h.target) continue;
        if (h.event) {
            QCoreApplication::postEvent(h.target, h.event.release());
        } else {
            QMetaObject::invokeMethod(window, [window] { window->close(); }, Qt::QueuedConnection);
        }
    }
}

}  // namespace bearfix
