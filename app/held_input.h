// Keystrokes, clicks and a close request that arrive while the window is
// busy loading terrain: held back then and delivered in their order once the
// load ends, so that nothing the user did is lost and nothing starts drawing
// in the middle of a drawing.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

class QEvent;
class QObject;
class QWidget;

namespace bearfix {

class HeldInput {
public:
    static constexpr std::size_t kMaxHeld = 1000;  // beyond this the load is taking the user's patience anyway

    // True when `event` for `watched` is kept (or dropped) instead of being
    // delivered now. A close request for `window` is kept as one.
    bool hold(QObject* watched, QEvent* event, QWidget* window);
    // Posts what was kept, in order; a close request closes `window`.
    void release(QWidget* window);
    bool empty() const { return held_.empty(); }

private:
    struct Held {
        QPointer<QObject> target;
        std::unique_ptr<QEvent> event;  // none: close the window
    };
    std::vector<Held> held_;
};

}  // namespace bearfix
