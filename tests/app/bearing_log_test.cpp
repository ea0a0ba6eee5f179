// The Bearings tab: its model, the remote command, the log file, import and
// export, and the log on the map.
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "app/bearing_log_tab.h"
#include "cities/cities.h"
#include "fix/bearing_log.h"
#include "geo/great_circle.h"
#include "map/map_view.h"
#include "map/qt_convert.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

const GeoPosition kTransmitter{20.0 * kDegToRad, 45.0 * kDegToRad};

// A bearing from `km` away on `azimuth` (degrees, seen from the transmitter)
// that points at the transmitter, give or take `offset` degrees.
Bearing toward(const char* station, double km, double azimuth, double offset = 0.0, double tolerance = 2.0) {
    Bearing b;
    b.station = station;
    gc_destination(kTransmitter.lon, kTransmitter.lat, km / kEarthRadiusKm, azimuth * kDegToRad, &b.position.lon,
                   &b.position.lat);
    double course;
    gc_distance_course(b.position.lon, b.position.lat, kTransmitter.lon, kTransmitter.lat, nullptr, &course);
    b.bearingDeg = reduce_bearing_degrees(course * kRadToDeg + offset);
    b.toleranceDeg = tolerance;
    return b;
}

// A hunt of `count` bearings from four stations around the transmitter.
std::vector<Bearing> hunt(double tolerance = 2.0, int count = 8) {
    std::vector<Bearing> out;
    const char* const stations[] = {"North", "East", "South", "West"};
    for (int i = 0; i < count; ++i)
        out.push_back(toward(stations[i % 4], 12.0 + i, 90.0 * (i % 4) + 7.0 * i, i % 2 ? 0.5 : -0.5, tolerance));
    return out;
}

// Every cell, bearings to 1e-8 degrees (a file keeps 1e-10).
std::vector<std::string> rowTexts(const BearingRows& r) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
        std::string line;
        for (int c = 0; c < static_cast<int>(BearingColumn::Count); ++c) {
            const auto column = static_cast<BearingColumn>(c);
            char bearing[40];
            std::snprintf(bearing, sizeof bearing, "%.8f", r.rows[i].bearingDeg);
            line += (column == BearingColumn::Bearing ? bearing : cellText(r, i, column, true)) + "|";
        }
        out.push_back(line);
    }
    return out;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Ten thousand rows: each change is one insertion or removal, one
// dataChanged and one fix, not one per row.
TEST(BearingLogModel, TenThousandRowsChangeInOneStep) {
    BearingLogModel model;
    QSignalSpy fixes(&model, &BearingLogModel::fixChanged), changes(&model, &BearingLogModel::dataChanged),
        inserted(&model, &BearingLogModel::rowsInserted), removed(&model, &BearingLogModel::rowsRemoved);
    model.setObservers({"N45 E19.9", "N45.1 E20", "90", "180"});
    std::vector<Bearing> many;
    for (int i = 0; i < 10000; ++i) many.push_back(toward(std::to_string(i).c_str(), 10.0 + i % 50, i * 0.7));
    EXPECT_EQ(model.append(many), 10000u);
    EXPECT_EQ(model.rowCount(), 10002);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(fixes.count(), 2) << "observers, then the appended rows";
    EXPECT_EQ(changes.count(), 2);
    ASSERT_EQ(model.rows().fix.status, FixStatus::Found);
    EXPECT_EQ(model.rows().fix.used, 10002);

    fixes.clear();
    changes.clear();
    EXPECT_EQ(model.removeRows({0, 1, 2, 5000, 5001, 5003, 10001, 10001}), 5) << "observer rows stay";
    EXPECT_EQ(removed.count(), 4) << "runs of neighbouring rows together";
    EXPECT_EQ(fixes.count(), 1);
    EXPECT_EQ(changes.count(), 1);
    const BearingRows& r = model.rows();
    ASSERT_EQ(r.rows.size(), 9997u);
    EXPECT_EQ(r.rows[2].station, "1");
    EXPECT_EQ(r.rows[4998].station, "4997");  // rows 5000 and 5001 held stations 4998 and 4999
    EXPECT_EQ(r.rows[4999].station, "5000");
    EXPECT_EQ(r.rows[5000].station, "5002");
    EXPECT_EQ(r.rows.back().station, "9998");

    fixes.clear();
    changes.clear();
    EXPECT_TRUE(model.setData(model.index(7000, static_cast<int>(BearingColumn::Use)), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(fixes.count(), 1);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(model.rows().fix.used, 9996);
}

class BearingWindowTest : public testing::WindowTest {
protected:
    std::unique_ptr<TBearfix> startLogged() {
        auto w = start();
        w->dialogs.warn = [this](const QString& text) { warned << text; };
        w->dialogs.inform = [this](const QString& text) { informed << text; };
        w->dialogs.ask = [this](const QString& question) {
            questions << question;
            return answer;
        };
        w->dialogs.chooseBearingFile = [this](bool save, QString* file) {
            *file = QString::fromStdString(save ? exportTo : importFrom);
            return !file->isEmpty();
        };
        w->dialogs.editBearing = [this](const QString& title, Bearing* b) {
            titles << title;
            if (typed.empty()) return false;
            *b = typed.front();
            typed.erase(typed.begin());
            return true;
        };
        w->Timer1Timer();
        return w;
    }
    // The default observers' bearings point away from the hunt: without them.
    std::unique_ptr<TBearfix> startWithoutObservers() {
        auto w = startLogged();
        w->form().Ed_Brg1X->clear();
        w->form().Ed_Brg2X->clear();
        return w;
    }
    static BearingLogModel& model(TBearfix& w) { return w.bearingLog().model(); }
    fs::path logPath() const { return dir.path() / "config/bearfix/bearings.csv"; }

    QStringList warned, informed, questions, titles;
    int answer = QMessageBox::Yes;
    std::string exportTo, importFrom;
    std::vector<Bearing> typed;
};

// The remote command lands in the table and moves the fix: a third bearing
// that points exactly at X leaves the fix on X. The first run's example
// bearings are none until the user gives them.
TEST_F(BearingWindowTest, RemoteBearingUpdatesTheTableAndTheFix) {
    auto w = startLogged();
    Ui::TBearfix& f = w->form();
    EXPECT_EQ(model(*w).rowCount(), 0) << "the example is no bearing";
    EXPECT_EQ(f.Ed_LocX->text(), "N51\u00B004'05\" E000\u00B058'50\"") << "X of the fields as ever";
    post(*w, "set brg1x=260");  // sent: given, though the same
    ASSERT_TRUE(QTest::qWaitFor([&] { return model(*w).rowCount() == 1; }, 5000));
    EXPECT_EQ(model(*w).rows().rows[0].station, "A");
    giveBearings(*w);
    EXPECT_TRUE(f.Ed_Fix->isHidden()) << "the observers alone: Numeric Results as it was";
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (2 bearings)");
    EXPECT_EQ(f.Ed_Fix->text(), f.Ed_LocX->text() + ", " + f.Ed_LocApprox->text()) << "two bearings: X";
    ASSERT_EQ(model(*w).rowCount(), 2);
    EXPECT_EQ(model(*w).data(model(*w).index(0, 5), Qt::DisplayRole), "observer");

    GeoPosition car{2.0 * kDegToRad, 52.5 * kDegToRad};
    double course;
    gc_distance_course(car.lon, car.lat, w->locationX.lon, w->locationX.lat, nullptr, &course);
    char command[200];
    std::snprintf(command, sizeof command, "bearing add lat=52.5 brg=%.12f station=\"Car 2\" lon=2 udts=1262304000",
                  course * kRadToDeg);
    post(*w, command);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model(*w).rowCount() == 3; }, 5000));
    const BearingLogModel& m = model(*w);
    EXPECT_EQ(m.data(m.index(2, 0), Qt::DisplayRole), "Car 2");
    EXPECT_EQ(m.data(m.index(2, 1), Qt::DisplayRole), "2010-01-01T00:00:00Z");
    EXPECT_EQ(m.data(m.index(2, 5), Qt::DisplayRole), "remote");
    EXPECT_EQ(m.data(m.index(2, 6), Qt::DisplayRole), "0.0");
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (3 bearings)");
    EXPECT_FALSE(f.Ed_Fix->isHidden());
    EXPECT_EQ(f.Ed_Fix->text(), f.Ed_LocX->text() + ", " + f.Ed_LocApprox->text());
    EXPECT_FALSE(f.Ed_Fix95->text().isEmpty());
    EXPECT_TRUE(f.Lab_BearingFix->text().startsWith("Fix (3 bearings): " + f.Ed_LocX->text()));
    // A bad command is refused, adds nothing and says why.
    const std::string bad = "bearing add lat=95 lon=2 brg=1";
    EXPECT_EQ(postToMailbox(w->mailbox(), 1, 0, static_cast<int32_t>(bad.size()), bad.data()), kReplyRefused);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Mem_Msgs->toPlainText().contains("lat"); }, 5000));
    EXPECT_EQ(m.rowCount(), 3);
}

// The log of a hunt kept from the last session and the observer fields as
// the settings left them (bearings given in an earlier hunt that point away
// from this one): the fix is the log's, without A and B, and says so; X
// stays. A current B joins the fix; A unticked is simply not used.
TEST_F(BearingWindowTest, ObserversPointingAwayDoNotEmptyTheLogsFix) {
    writeIni("[PREV_SESSION]\nBrg1Given=1\nBrg2Given=1\n");  // the example's 260 and 288, typed
    std::vector<Bearing> log;
    const char* const stations[] = {"North", "East", "South", "West"};
    for (int i = 0; i < 8; ++i) log.push_back(toward(stations[i % 4], 12.0 + i, 90.0 * (i % 4) + 7.0 * i));
    fs::create_directories(logPath().parent_path());
    std::ofstream(logPath(), std::ios::binary) << formatBearingCsv(log);
    const std::string exported = (dir.path() / "hunt.geojson").string();
    auto w = startLogged();
    w->dialogs.chooseExportFile = [&](QString* file, int* format) {
        *file = QString::fromStdString(exported);
        *format = 2;
        return true;
    };
    Ui::TBearfix& f = w->form();
    BearingLogModel& m = model(*w);
    ASSERT_EQ(m.rowCount(), 10);
    EXPECT_EQ(f.Ed_LocX->text(), "N51\u00B004'05\" E000\u00B058'50\"") << "X of the fields as ever";
    const QString atTransmitter = toQString(format_position(kTransmitter, PosFormat::Dms) + ", " +
                                            describe_near_city(kTransmitter.lon, kTransmitter.lat));
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (8 bearings, without A and B)");
    EXPECT_EQ(f.Ed_Fix->text(), atTransmitter);
    EXPECT_FALSE(f.Ed_Fix->isHidden());
    EXPECT_TRUE(f.Lab_BearingFix->text().endsWith(
        ";  A and B left out: with them, no crossing lies ahead of every station"));
    // However long the line, the tab's buttons stay in the window.
    w->show();
    f.PageControl1->setCurrentWidget(f.TS_Bearings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.Btn_ExportBearings->isVisible(); }, 5000));
    const QRect button(f.Btn_ExportBearings->mapTo(w.get(), QPoint(0, 0)), f.Btn_ExportBearings->size());
    EXPECT_TRUE(w->rect().contains(button)) << button.x() << " + " << button.width() << " in " << w->width();
    for (int row : {0, 1}) {
        EXPECT_EQ(m.data(m.index(row, 7), Qt::CheckStateRole), Qt::Checked) << "Use stays as the user left it";
        EXPECT_EQ(m.data(m.index(row, 0), Qt::ToolTipRole).toString(),
                  "left out of the fix: with it, no crossing lies ahead of every station");
        EXPECT_EQ(m.data(m.index(row, 3), Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 205, 205));
    }
    f.MI_Export->trigger();
    exportTo = (dir.path() / "hunt.csv").string();
    f.Btn_ExportBearings->click();
    std::vector<Bearing> back;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv(readFile(exportTo), back, errors)) << errors;
    EXPECT_EQ(solveFix(back).used, 8) << "the exported table gives the same fix";
    const std::string geojson = readFile(exported);
    EXPECT_NE(geojson.find(R"("name":"Fix",)"), std::string::npos) << "the export has the fix the tab shows";
    EXPECT_NE(geojson.find(R"("bearings_used":8,)"), std::string::npos);

    // B typed in on the spot, pointing at the transmitter: it takes part.
    const Bearing b = toward("B", 40.0, 315.0);
    f.Ed_Pos2->setText(QString::asprintf("%.12f, %.12f", b.position.lat * kRadToDeg, b.position.lon * kRadToDeg));
    f.Ed_Brg2X->setText(QString::asprintf("%.12f", b.bearingDeg));
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (9 bearings, without A)");
    EXPECT_EQ(f.Ed_Fix->text(), atTransmitter);
    EXPECT_EQ(f.Ed_Fix->toolTip(), "A left out: with it, no crossing lies ahead of every station");

    // A unticked is not used (still red: it points far from the fix), and
    // nothing is left out.
    EXPECT_TRUE(m.setData(m.index(0, 7), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (9 bearings)");
    EXPECT_EQ(f.Ed_Fix->text(), atTransmitter);
    EXPECT_TRUE(f.Ed_Fix->toolTip().isEmpty());
    EXPECT_EQ(m.data(m.index(0, 0), Qt::ToolTipRole).toString(),
              "an outlier: more than three standard deviations from the fix of the others");
}

// While A follows the GPS a bearing given for A or B goes into the log,
// pinned where and when it was given: the field moving on takes nothing
// with it. Typing gives it once finished (Enter, leaving the field, the
// window closing); a sent bearing at once.
TEST_F(BearingWindowTest, BearingsGivenWhileFollowingStayWhereTheyWereTaken) {
    auto w = startLogged();
    Ui::TBearfix& f = w->form();
    BearingLogModel& m = model(*w);
    f.Chk_FollowGps->setChecked(true);
    f.Ed_Pos1->setText("N50 E8");  // as the GPS writes it
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    f.Ed_Brg1X->selectAll();
    QTest::keyClicks(f.Ed_Brg1X, "123.5");
    EXPECT_EQ(m.rowCount(), 0) << "not finished yet";
    QTest::keyClick(f.Ed_Brg1X, Qt::Key_Return);
    QTest::keyClick(f.Ed_Brg1X, Qt::Key_Return);  // nothing new
    ASSERT_EQ(m.rowCount(), 1);
    const Bearing a = m.rows().rows[0];
    EXPECT_EQ(std::tie(a.station, a.bearingDeg, a.toleranceDeg, a.source),
              std::make_tuple(std::string("A"), 123.5, 1.0, BearingSource::Typed));
    EXPECT_EQ(cellText(m.rows(), 0, BearingColumn::Position, true), "N50 E8");
    EXPECT_TRUE(a.utc >= before && a.utc <= QDateTime::currentSecsSinceEpoch());

    f.Ed_Pos1->setText("N50.01 E8.01");  // 20 s later, 1.3 km on
    post(*w, "set brg2x=77");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.rowCount() == 2; }, 5000));
    EXPECT_EQ(cellText(m.rows(), 0, BearingColumn::Position, true), "N50 E8") << "pinned";
    EXPECT_EQ(m.rows().rows[1].source, BearingSource::Remote);
    EXPECT_EQ(cellText(m.rows(), 1, BearingColumn::Position), "N49\xB0" "27'00\" E011\xB0" "00'00\"") << "B's";

    // Unticked: the fields' bearings went into the log and are not counted twice.
    f.Chk_FollowGps->setChecked(false);
    EXPECT_EQ(m.rows().observers, 0);
    f.Chk_FollowGps->setChecked(true);
    f.Ed_Brg2X->selectAll();
    QTest::keyClicks(f.Ed_Brg2X, "80");
    w->close();  // unfinished, but given
    std::vector<Bearing> saved;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv(readFile(logPath()), saved, errors)) << errors;
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(std::tie(saved[2].station, saved[2].bearingDeg), std::make_tuple(std::string("B"), 80.0));
}

// Only the bearing far off is red, and robust mode keeps it out of the way.
TEST_F(BearingWindowTest, OutlierRowsAreRed) {
    auto w = startWithoutObservers();
    BearingLogModel& m = model(*w);
    std::vector<Bearing> bearings = hunt(2.0, 12);
    bearings[5].bearingDeg = reduce_bearing_degrees(bearings[5].bearingDeg + 10.0);
    m.append(bearings);
    ASSERT_EQ(m.rows().observers, 0);
    const int bad = 5;
    for (int row = 0; row < m.rowCount(); ++row) {
        const QVariant background = m.data(m.index(row, 3), Qt::BackgroundRole);
        if (row == bad) {
            EXPECT_EQ(background.value<QBrush>().color(), QColor(255, 205, 205));
            EXPECT_EQ(m.data(m.index(row, 0), Qt::ForegroundRole).value<QBrush>().color(), QColor(160, 0, 0));
        } else {
            EXPECT_FALSE(background.isValid()) << row;
        }
    }
    EXPECT_TRUE(w->form().Chk_RobustFix->isChecked()) << "robust by default";
    const double robust = std::fabs(m.rows().fix.fits[bad].residualDeg);
    w->form().Chk_RobustFix->setChecked(false);
    EXPECT_LT(std::fabs(m.rows().fix.fits[bad].residualDeg), robust) << "the plain fit moves towards it";
    EXPECT_EQ(m.data(m.index(bad, 3), Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 205, 205));
}

// Bearings that scatter more than their tolerances say widen the ellipses,
// and Numeric Results says so. The pinwheel of tests/fix/CMakeLists.txt
// turned half as far (0.5 degrees, one sigma: where robust and plain fits
// agree): chi-square 4 on two degrees of freedom, so the ellipses grow by
// sqrt(2), the 95 % circle's radius 0.686 km * 1.414 * sqrt(5.991) = 2.38 km.
TEST_F(BearingWindowTest, ScatterWidensTheEllipseAndSaysSo) {
    auto w = startWithoutObservers();
    Ui::TBearfix& f = w->form();
    std::vector<Bearing> turned(4);
    const double pinwheel[][3] = {{1, 0, 180.5}, {0, 1, 270.5}, {-1, 0, 0.5}, {0, -1, 90.5}};
    for (int i = 0; i < 4; ++i) {
        turned[i].station = "P";
        turned[i].position = {pinwheel[i][1] * kDegToRad, pinwheel[i][0] * kDegToRad};
        turned[i].bearingDeg = pinwheel[i][2];
    }
    model(*w).append(turned);
    EXPECT_TRUE(QRegularExpression("^2\\.4 \u00D7 2\\.4 km, \\d+\u00B0, scaled \u00D71\\.4 for scatter$")
                    .match(f.Ed_Fix95->text())
                    .hasMatch())
        << f.Ed_Fix95->text().toStdString();
    EXPECT_TRUE(f.Lab_BearingFix->text().endsWith(", scaled \u00D71.4 for scatter"));
}

// Added, edited in place (a bad text is refused with the reason), saved
// soon after and at close, read at the next start; the observer rows are
// not in the file.
TEST_F(BearingWindowTest, TheLogSurvivesARestart) {
    std::vector<std::string> rows;
    {
        auto w = startLogged();
        giveBearings(*w);  // kept as given in the settings
        Ui::TBearfix& f = w->form();
        typed = {toward("Car 1", 20, 10), toward("K\xF6ln, \"2\"", 30, 100)};
        typed[1].utc = 1262304000;
        f.Btn_AddBearing->click();
        f.Btn_AddBearing->click();
        f.Btn_AddBearing->click();  // cancelled
        EXPECT_EQ(titles, QStringList({"Add a bearing", "Add a bearing", "Add a bearing"}));
        BearingLogModel& m = model(*w);
        ASSERT_EQ(m.rowCount(), 4);
        EXPECT_FALSE(m.setData(m.index(3, 3), "north", Qt::EditRole));
        EXPECT_EQ(f.Lab_BearingProblem->text(), "bearing \"north\" is not a number of degrees");
        EXPECT_TRUE(m.setData(m.index(3, 3), "123.5", Qt::EditRole));
        EXPECT_FALSE(m.setData(m.index(0, 3), "1", Qt::EditRole)) << "A comes from its field";
        EXPECT_TRUE(m.setData(m.index(2, 7), Qt::Unchecked, Qt::CheckStateRole));
        f.Tbl_Bearings->setCurrentIndex(m.index(0, 0));
        f.Btn_EditBearing->click();
        EXPECT_EQ(f.Lab_BearingProblem->text(), "The bearings of A and B come from the observer fields: change them there.");
        typed = {toward("Car 1", 21, 10)};
        typed[0].enabled = false;
        f.Tbl_Bearings->setCurrentIndex(m.index(2, 4));
        f.Btn_EditBearing->click();
        EXPECT_EQ(titles.value(3), "Change a bearing");
        EXPECT_EQ(cellText(m.rows(), 2, BearingColumn::Position), bearingText(toward("Car 1", 21, 10), BearingColumn::Position, false));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(logPath()); }, 5000)) << "written before the close";
        rows = rowTexts(m.rows());
        w->close();
        EXPECT_TRUE(informed.isEmpty());
    }
    const std::string file = readFile(logPath());
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3) << "a header and two bearings:\n" << file;
    auto w = startLogged();
    EXPECT_EQ(rowTexts(model(*w).rows()), rows);
    EXPECT_TRUE(warned.isEmpty());
}

// A log file that cannot be read is said at start and never replaced.
TEST_F(BearingWindowTest, AnUnreadableLogIsToldAndKept) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> make;
        const char* reason;
    } cases[] = {
        {"a bad line", [](const fs::path& p) { std::ofstream(p) << "A,50,8,45,2\nB,95,8,1,1\n"; },
         "line 2: latitude \"95\" is not a number in -90..90"},
        {"a directory", [](const fs::path& p) { fs::create_directory(p); }, "not a regular file"},
        {"without permission",
         [](const fs::path& p) {
             std::ofstream(p) << "A,50,8,45,2\n";
             fs::permissions(p, fs::perms::none);
         },
         "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.reason) == "Permission denied" && geteuid() == 0) continue;  // root reads it anyway
        fs::remove_all(dir.path() / "config");
        fs::create_directories(logPath().parent_path());
        c.make(logPath());
        const auto type = fs::status(logPath()).type();
        const std::string bytes = fs::is_regular_file(logPath()) && c.reason[0] == 'l' ? readFile(logPath()) : "";
        warned.clear();
        auto w = startLogged();
        const QString message =
            "Cannot read " + QString::fromStdString(logPath().string()) + ": " + c.reason +
            "; the bearing log will not be saved";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !warned.isEmpty(); }, 5000));
        EXPECT_EQ(warned.value(0), message);
        EXPECT_TRUE(w->form().Mem_Msgs->toPlainText().contains("Error: " + message));
        EXPECT_EQ(model(*w).rowCount(), 0) << "nothing: the example is no bearing";
        post(*w, "bearing add lat=50 lon=8 brg=10");
        ASSERT_TRUE(QTest::qWaitFor([&] { return model(*w).rowCount() == 1; }, 5000));
        w->close();
        EXPECT_TRUE(informed.isEmpty());
        EXPECT_EQ(fs::status(logPath()).type(), type);
        if (!bytes.empty()) {
            EXPECT_EQ(readFile(logPath()), bytes);
        }
        fs::permissions(logPath(), fs::perms::owner_all);
    }
}

// Exported with the observer rows, cleared, imported back: the same table.
// Importing what the table holds adds nothing; a bad file changes nothing.
TEST_F(BearingWindowTest, ImportAndExportRoundTrip) {
    auto w = startLogged();
    giveBearings(*w);
    Ui::TBearfix& f = w->form();
    BearingLogModel& m = model(*w);
    std::vector<Bearing> log = hunt();
    log[3].utc = 1262304000;
    log[4].enabled = false;
    log[6].station = "Car \"7\", north";
    m.append(log);
    const std::vector<std::string> before = rowTexts(m.rows());
    exportTo = (dir.path() / "hunt.csv").string();
    f.Btn_ExportBearings->click();
    EXPECT_EQ(readFile(exportTo), formatBearingCsv(rowsAsFitted(m.rows())));
    EXPECT_EQ(f.Lab_BearingProblem->text(), "10 bearings written to " + QString::fromStdString(exportTo));

    f.Btn_ClearBearings->click();
    EXPECT_EQ(questions.value(0), "Delete the 8 bearings of the bearing log?\n(The bearings of A and B stay with their fields.)");
    ASSERT_EQ(m.rowCount(), 2);
    importFrom = exportTo;
    f.Btn_ImportBearings->click();
    EXPECT_EQ(questions.size(), 1) << "an empty log is not asked about";
    EXPECT_EQ(rowTexts(m.rows()), before);
    EXPECT_EQ(f.Lab_BearingProblem->text(),
              "8 bearings imported from " + QString::fromStdString(importFrom) + ", 2 already in the table");

    answer = QMessageBox::No;  // add to the log
    f.Btn_ImportBearings->click();
    EXPECT_EQ(rowTexts(m.rows()), before);
    EXPECT_TRUE(f.Lab_BearingProblem->text().startsWith("0 bearings imported"));

    importFrom = dir.write("bad.csv", "A,50,8,45,2\nB,50,x,1,1\n");
    f.Btn_ImportBearings->click();
    EXPECT_EQ(f.Lab_BearingProblem->text(),
              "Cannot import " + QString::fromStdString(importFrom) + ": line 2: longitude \"x\" is not a number in -180..180");
    EXPECT_EQ(rowTexts(m.rows()), before);
}

// The fix as a yellow diamond and its 95 % ellipse around it, where the
// view puts them; nothing of the log while its bearings are unticked.
TEST_F(BearingWindowTest, TheMapDrawsTheFixAndItsEllipse) {
    writeIni("[MAP]\nCenterHow=0\nCenterAt=N45 E20\nRange_km=20\nShowTopo=0\n");
    auto w = startWithoutObservers();
    BearingLogModel& m = model(*w);
    m.append(hunt(10.0));
    ASSERT_EQ(m.rows().observers, 0);
    const int first = 0, last = m.rowCount() - 1;
    for (int row = first; row <= last; ++row) m.setData(m.index(row, 7), Qt::Unchecked, Qt::CheckStateRole);
    w->fullMapRedraw();
    const QImage without = w->form().Img_Map->picture().copy();
    for (int row = first; row <= last; ++row) m.setData(m.index(row, 7), Qt::Checked, Qt::CheckStateRole);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->form().Img_Map->picture() != without; }, 5000));
    const FixResult& fix = m.rows().fix;
    ASSERT_EQ(fix.status, FixStatus::Found);
    ASSERT_GT(fix.ellipse95.semiMajorKm, 1.0) << "some pixels across";
    const QImage picture = w->form().Img_Map->picture();
    const MapView& view = w->composer().view();
    int x, y;
    ASSERT_TRUE(geo_to_screen(view, fix.x.lon, fix.x.lat, &x, &y));
    EXPECT_EQ(picture.pixelColor(x, y), QColor(255, 215, 0)) << "the diamond";
    EXPECT_NE(without.pixelColor(x, y), QColor(255, 215, 0));
    // The ends of both axes of the 95 % ellipse, reached from the fix.
    const double axes[][2] = {{fix.ellipse95.semiMajorKm, fix.ellipse95.orientationDeg},
                              {fix.ellipse95.semiMajorKm, fix.ellipse95.orientationDeg + 180},
                              {fix.ellipse95.semiMinorKm, fix.ellipse95.orientationDeg + 90},
                              {fix.ellipse95.semiMinorKm, fix.ellipse95.orientationDeg + 270}};
    for (const auto& [km, course] : axes) {
        GeoPosition end;
        gc_destination(fix.x.lon, fix.x.lat, km / kEarthRadiusKm, course * kDegToRad, &end.lon, &end.lat);
        ASSERT_TRUE(geo_to_screen(view, end.lon, end.lat, &x, &y));
        bool blue = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor c = picture.pixelColor(x + dx, y + dy);
                blue = blue || (c.blue() > 150 && c.red() < 60 && c.green() < 110);
            }
        EXPECT_TRUE(blue) << km << " km on " << course << " degrees";
    }
}

}  // namespace
}  // namespace bearfix
