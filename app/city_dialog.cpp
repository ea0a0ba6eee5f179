#include "app/city_dialog.h"

#include <QFont>
#include <cmath>
#include <cstring>

#include "map/qt_convert.h"
#include "cities/cities.h"
#include "geo/great_circle.h"
#include "geo/position.h"
#include "ui_city_dialog.h"

namespace bearfix {

namespace {

QFont courierNew() {
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

// The text after a name's qualifier mark: "(" first, else "/", else a blank.
int qualifierStart(const QString& name) {
    for (QChar mark : {QChar('('), QChar('/'), QChar(' ')}) {
        int p = name.indexOf(mark);
        if (p >= 0) return p + 1;
    }
    return -1;
}

}  // namespace

TCitySelForm::TCitySelForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui_(std::make_unique<Ui::TCitySelForm>()) {
    ui_->setupUi(this);
    ui_->ListBox1->setFont(courierNew());
    ui_->Ed_LatLon->setFont(courierNew());
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->ListBox1, &QListWidget::itemClicked, this, &TCitySelForm::ListBox1Click);
    connect(ui_->ListBox1, &QListWidget::itemDoubleClicked, this, &TCitySelForm::ListBox1DblClick);
    connect(ui_->Ed_Initials, &QLineEdit::textChanged, this, &TCitySelForm::Ed_InitialsChange);
}

TCitySelForm::~TCitySelForm() = default;

void TCitySelForm::prepare(double lon0, double lat0) {
    {
        QSignalBlocker quiet(ui_->Ed_Initials);
        ui_->Ed_Initials->clear();
    }
    ui_->ListBox1->clear();
    entryCount_ = city_count();

    QStringList names;
    names.reserve(entryCount_);
    int best = -1;
    double bestAngle = 50000.0;
    const double sinLat0 = std::sin(lat0), cosLat0 = std::cos(lat0);
    CityInfo city;
    for (int i = 0; city_get(i, city); ++i) {
        names.append(toQString(std::string(city.name, strnlen(city.name, sizeof city.name))));
        // Clamped, so that a start exactly on a place preselects it.
        const double cityLat = city.lat, cityLon = city.lon;
        double c = std::sin(cityLat) * sinLat0 + std::cos(cityLat) * cosLat0 * std::cos(lon0 - cityLon);
        double angle = std::acos(std::fmin(1.0, std::fmax(-1.0, c)));
        if (angle < bestAngle) {
            bestAngle = angle;
            best = i;
        }
    }
    ui_->ListBox1->addItems(names);
    if (best >= 0 && bestAngle * kEarthRadiusKm < 500.0) {
        ui_->ListBox1->setCurrentRow(best);
    } else {
        ui_->ListBox1->setCurrentRow(-1);
    }
    ui_->Ed_LatLon->clear();
}

int TCitySelForm::select_city(double* lon, double* lat, char* name) {
    prepare(lon ? *lon : 0.0, lat ? *lat : 0.0);
    if (exec() != QDialog::Accepted) return 0;
    const int index = ui_->ListBox1->currentRow();
    CityInfo city;
    if (index >= 0 && index < entryCount_ && ui_->ListBox1->item(index)->isSelected() && city_get(index, city)) {
        if (lon) *lon = city.lon;
        if (lat) *lat = city.lat;
        if (name) {  // 20 bytes, NUL-padded; a 20-character name is not terminated
            std::memset(name, 0, 20);
            std::memcpy(name, city.name, strnlen(city.name, 20));
        }
    }
    return 1;
}

void TCitySelForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QListWidgetItem* current = ui_->ListBox1->currentItem())
        ui_->ListBox1->scrollToItem(current, QAbstractItemView::PositionAtCenter);
    ui_->Ed_Initials->setFocus();
}

void TCitySelForm::ListBox1Click() {
    CityInfo city;
    if (city_get(ui_->ListBox1->currentRow(), city)) {
        ui_->Ed_LatLon->setText(toQString(format_position({city.lon, city.lat}, PosFormat::Dms)));
    }
}

void TCitySelForm::ListBox1DblClick() { accept(); }

void TCitySelForm::Ed_InitialsChange(const QString& text) {
    QListWidget* list = ui_->ListBox1;
    const qsizetype n = text.size();
    int secondChoice = -1;
    for (int i = 0; i < list->count(); ++i) {
        const QString name = list->item(i)->text();
        if (name.startsWith(text, Qt::CaseInsensitive)) {
            list->setCurrentRow(i);
            return;
        }
        if (secondChoice < 0) {
            int p = qualifierStart(name);
            if (p >= 0 && QStringView(name).mid(p, n).compare(text, Qt::CaseInsensitive) == 0) secondChoice = i;
        }
    }
    if (secondChoice >= 0) list->setCurrentRow(secondChoice);
}

}  // namespace bearfix
