// The modal dialog that picks a place from the built-in table.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TCitySelForm;
}

namespace bearfix {

class TCitySelForm : public QDialog {
    Q_OBJECT
public:
    explicit TCitySelForm(QWidget* parent = nullptr);
    ~TCitySelForm() override;

    Ui::TCitySelForm& form() { return *ui_; }

    // Opens the dialog with the place nearest to (lon, lat) preselected when
    // one lies within 500 km (radians; a null argument counts as 0). On OK
    // with a place selected, its position goes to lon/lat and its name (at
    // most 20 bytes, NUL-padded) to `name` when given. 0 for Cancel, 1 for OK.
    int select_city(double* lon, double* lat, char* name);

    // The part of select_city before the dialog shows: the list filled, the
    // nearest place within 500 km selected.
    void prepare(double lon0, double lat0);

public slots:
    void ListBox1Click();
    void ListBox1DblClick();
    void Ed_InitialsChange(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TCitySelForm> ui_;
    int entryCount_ = 0;
};

}  // namespace bearfix
