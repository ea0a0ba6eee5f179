// Position fields that hold no position, and the form positions are shown in.
#include <QLineEdit>
#include <QPalette>

#include "app/line_edits.h"
#include "app/main_window.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

const QColor kNotAPositionColour(255, 160, 160);
const char* const kNotAPositionTip = "Not a position: try N50\u00B020'15\" E008\u00B045'19\", 50.3375, 8.7553 or JO40hf";
const char* const kUsualTip = "bearfixUsualToolTip";

}  // namespace

// Red, with a tooltip that shows what would do, while the text is no position.
void TBearfix::markPositionField(QLineEdit* field) {
    if (!field->property(kUsualTip).isValid()) field->setProperty(kUsualTip, field->toolTip());
    GeoPosition p;
    if (read_position(positionText(field), p)) {
        field->setPalette(QPalette());
        field->setToolTip(field->property(kUsualTip).toString());
        return;
    }
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, kNotAPositionColour);
    field->setPalette(palette);
    field->setToolTip(QString::fromUtf8(kNotAPositionTip));
}

PosFormat TBearfix::shownFormat() const { return display_format(trackSettings.posFormat); }

// The status bar's position under the mouse; a locator with its 10-character
// square, which a mouse can point at.
QString TBearfix::readOut(GeoPosition p) const {
    QString text = toQString(display_position(p, shownFormat()));
    if (shownFormat() == PosFormat::MaidenheadLocator) text += " (" + toQString(maidenhead_locator(p, 10)) + ")";
    return text;
}

}  // namespace bearfix
