// The live inputs in the real window, offscreen: a gpsd of the test's own
// (gpsfake replaying the committed drive), a UDP sender, and a receiver page
// served by Python's http.server from a file the test rewrites.
#include <GeographicLib/Geodesic.hpp>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest/QTest>
#include <cmath>

#include "../live/gpsfake.h"
#include "app/feeds.h"
#include "app/gps_panel.h"
#include "app/bearing_log_tab.h"
#include "app/line_edits.h"
#include "geo/great_circle.h"
#include "tracks/track_journal.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::GpsFake;
using testing::LogFix;

constexpr int kWait = 30000;  // ms: gpsfake and reconnecting take seconds

class LiveWindowTest : public testing::WindowTest {
protected:
    std::unique_ptr<TBearfix> startWindow() {
        auto w = start();
        w->form().CB_MsgLevel->setCurrentIndex(0);  // every line, Debug too
        w->Timer1Timer();
        return w;
    }
    static int count(const QString& text, const QString& line) { return text.count(line + "\n") + text.endsWith(line); }
    // Whether the field holds a position within 1.5 arc seconds of a fix of the log.
    static bool onTheDrive(const QLineEdit* field, const std::vector<LogFix>& log) {
        GeoPosition p;
        if (!read_position(positionText(field), p)) return false;
        for (const LogFix& f : log)
            if (std::fabs(p.lat * kRadToDeg - f.lat) * 3600 < 1.5 && std::fabs(p.lon * kRadToDeg - f.lon) * 3600 < 1.5)
                return true;
        return false;
    }
    static void useGpsd(TBearfix& w, int port) {
        w.form().CB_SerialPort->setCurrentText(QString("gpsd 127.0.0.1:%1").arg(port));
        w.gps().start();
    }
    std::vector<LogFix> log = testing::readNmeaLog();
};

TEST_F(LiveWindowTest, TheGroupFollowsGpsdAndComesBackWithIt) {
    auto w = startWindow();
    Ui::TBearfix& f = w->form();
    EXPECT_TRUE(f.GRP_GPSSettings->isEnabled());
    EXPECT_EQ(f.CB_SerialPort->itemText(0), "gpsd localhost:2947");
    EXPECT_EQ(w->gps().state(), GpsState::Off) << "BEARFIX_GPSD=off in the tests";

    GpsFake gpsd;
    const int port = testing::freeTcpPort();
    ASSERT_TRUE(gpsd.start(port));
    const QString server = QString("127.0.0.1:%1").arg(port);
    useGpsd(*w, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return onTheDrive(f.Ed_CurrPos, log); }, kWait)) << f.Mem_Msgs->toPlainText().toStdString();
    EXPECT_FALSE(isRed(f.Ed_CurrPos));
    EXPECT_TRUE(QRegularExpression("^2024-05-18 09:0[0-2]:\\d\\d$").match(f.Ed_DateTime->text()).hasMatch())
        << f.Ed_DateTime->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Lab_NSats->text() == "7 Sats" || f.Lab_NSats->text() == "8 Sats"; },
                                kWait));
    EXPECT_TRUE(QRegularExpression("^HDOP=(0\\.9|1\\.0|1\\.1)$").match(f.Lab_Hdop->text()).hasMatch())
        << f.Lab_Hdop->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Lab_Masl->text().endsWith(" m ASL") && f.Lab_Masl->text()[0] != '?'; },
                                kWait));
    const int metres = f.Lab_Masl->text().section(' ', 0, 0).toInt();
    EXPECT_GE(metres, 97);
    EXPECT_LE(metres, 127);
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d km/h$").match(f.Lab_Kmh->text()).hasMatch()) << f.Lab_Kmh->text().toStdString();
    const QString messages = f.Mem_Msgs->toPlainText();
    EXPECT_EQ(count(messages, "GPS: connected to " + server), 1) << messages.toStdString();
    EXPECT_TRUE(messages.contains("GPS: 3D fix")) << messages.toStdString();

    // gpsd goes: said once, the position turns red; it comes back: followed again.
    gpsd.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->gps().state() == GpsState::NotReachable; }, kWait));
    EXPECT_TRUE(isRed(f.Ed_CurrPos));
    EXPECT_TRUE(onTheDrive(f.Ed_CurrPos, log)) << "the last position stays, red";
    ASSERT_TRUE(gpsd.start(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->gps().state() == GpsState::Fix3D; }, kWait));
    EXPECT_FALSE(isRed(f.Ed_CurrPos));
    const QString after = f.Mem_Msgs->toPlainText();
    EXPECT_EQ(count(after, "GPS: gpsd not reachable"), 1) << after.toStdString() << "one line, however many tries";
    EXPECT_EQ(count(after, "GPS: connected to " + server), 2) << after.toStdString();
    EXPECT_TRUE(after.contains("Debug: GPS: " + server + ": ")) << after.toStdString();
}

// A follows at most once a second, and so do the results; the GPS track
// grows with the drive's points in a segment of its own.
TEST_F(LiveWindowTest, ObserverAFollowsAndTheTrackIsRecorded) {
    auto w = startWindow();
    Ui::TBearfix& f = w->form();
    clearTracks();
    runTrackCommand("addpoint lat=50 lon=8");  // somebody else's track comes first
    GpsFake gpsd;
    const int port = testing::freeTcpPort();
    ASSERT_TRUE(gpsd.start(port));
    const QString typedA = f.Ed_Pos1->text();
    useGpsd(*w, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->gps().currentFix() != nullptr; }, kWait));
    EXPECT_EQ(f.Ed_Pos1->text(), typedA) << "A stays while unticked";

    std::vector<qint64> changes;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(f.Ed_Pos1, &QLineEdit::textChanged, [&] { changes.push_back(clock.elapsed()); });
    f.Chk_FollowGps->setChecked(true);
    f.Chk_RecordGpsTrack->setChecked(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() >= 4; }, kWait));
    EXPECT_TRUE(onTheDrive(f.Ed_Pos1, log)) << f.Ed_Pos1->text().toStdString();
    EXPECT_FALSE(isRed(f.Ed_Pos1));
    // Fixes come every quarter second. The spy sees a change after the
    // window's own handlers, and a loaded machine may pause the program
    // between the write and the spy: a tenth of a second of slack.
    for (std::size_t i = 1; i < changes.size(); ++i) EXPECT_GE(changes[i] - changes[i - 1], 900) << i;
    EXPECT_NEAR(w->observerA.lat * kRadToDeg, 52.1, 0.05) << "the results follow the field";
    EXPECT_TRUE(w->observerAValid);

    // Header "GPS" after the other track, then the drive's points.
    ASSERT_TRUE(QTest::qWaitFor([&] { return trackRecordCount() >= 8; }, kWait));
    const TrackPoint* header = trackRecordAt(1);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->type, kTrackSegment);
    EXPECT_STREQ(header->name, "GPS");
    EXPECT_EQ(header->colour, -1);
    const int32_t grown = trackRecordCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return trackRecordCount() >= grown + 3; }, kWait)) << "it grows";
    for (int32_t i = 2; i < trackRecordCount(); ++i) {
        const TrackPoint& p = *trackRecordAt(i);
        ASSERT_EQ(p.type, kTrackPoint) << i << ": one segment";
        const auto at = std::find_if(log.begin(), log.end(), [&](const LogFix& l) {
            return l.utc % 60 == p.second && l.utc / 60 % 60 == p.minute && l.utc / 3600 % 24 == p.hour;
        });
        ASSERT_NE(at, log.end()) << i;
        EXPECT_LE(std::abs(p.lat - static_cast<int32_t>(at->lat * kUnitsPerDegree)), 1) << i;
        EXPECT_LE(std::abs(p.lon - static_cast<int32_t>(at->lon * kUnitsPerDegree)), 1) << i;
        EXPECT_NEAR(p.altitude, at->altM, 0.05) << i << ": the epoch's altitude";
        EXPECT_EQ(p.dateValid, 1);
        EXPECT_EQ(p.day, 18);
        if (i > 2) {
            const TrackPoint& before = *trackRecordAt(i - 1);
            EXPECT_NE(p.second + 60 * p.minute, before.second + 60 * before.minute) << "one point a fix, not a report";
        }
    }
    // Cleared tracks: the next point starts a segment again.
    clearTracks();
    ASSERT_TRUE(QTest::qWaitFor([&] { return trackRecordCount() >= 2; }, kWait));
    EXPECT_STREQ(trackRecordAt(0)->name, "GPS");
    clearTracks();
}

// Bearings that point at X: from UDP and from the receiver's page they land
// in the log with their values, and the fix stays on X.
class FeedWindowTest : public LiveWindowTest {
protected:
    Bearing toward(TBearfix& w, double lat, double lon) {
        Bearing b;
        b.position = {lon * kDegToRad, lat * kDegToRad};
        double course;
        gc_distance_course(b.position.lon, b.position.lat, w.locationX.lon, w.locationX.lat, nullptr, &course);
        b.bearingDeg = std::fmod(course * kRadToDeg + 360.0, 360.0);
        return b;
    }
    static const Bearing& lastLogged(TBearfix& w) { return w.bearingLog().model().rows().rows.back(); }
    static std::size_t logged(TBearfix& w) { return w.bearingLog().model().rows().logSize(); }
};

TEST_F(FeedWindowTest, UdpBearingsLandInTheLog) {
    auto w = startWindow();
    giveBearings(*w);
    Ui::TBearfix& f = w->form();
    f.Ed_UdpPort->setText("0");  // any free port: the feed says which
    f.Ed_FeedTolerance->setText("3.5");
    f.Chk_UdpFeed->setChecked(true);
    const quint16 port = w->feeds().udpPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(f.Lab_FeedStatus->text().startsWith(QString("UDP 127.0.0.1:%1: 0 accepted").arg(port)));

    const Bearing b = toward(*w, 50.1, 8.6);
    QUdpSocket sender;
    auto send = [&](const QByteArray& datagram) {
        ASSERT_EQ(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), datagram.size());
    };
    send(QString(R"({"type": "BEARING", "bearing": %1, "bearing_type": "absolute", "latitude": 50.1,
                     "longitude": 8.6, "confidence": 80, "source": "car-2"})")
             .arg(b.bearingDeg, 0, 'f', 12)
             .toUtf8());
    send(R"({"type": "HEARTBEAT"})");
    send(R"({"type": "BEARING", "bearing": 30, "bearing_type": "relative"})");  // no GPS fix here
    send("\x00\xff{junk");
    send(R"({"type": "BEARING", "bearing": 1e999, "latitude": 1, "longitude": 1})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Lab_FeedStatus->text().contains("1 accepted, 2 skipped, 2 ignored"); },
                                kWait))
        << f.Lab_FeedStatus->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged(*w) == 1; }, kWait));
    const Bearing& got = lastLogged(*w);
    EXPECT_EQ(got.station, "car-2");
    EXPECT_EQ(got.source, BearingSource::Udp);
    EXPECT_NEAR(got.bearingDeg, b.bearingDeg, 1e-9);
    EXPECT_NEAR(got.position.lat * kRadToDeg, 50.1, 1e-12);
    EXPECT_NEAR(got.position.lon * kRadToDeg, 8.6, 1e-12);
    EXPECT_EQ(got.toleranceDeg, 3.5);
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (3 bearings)");
    EXPECT_EQ(f.Ed_Fix->text(), f.Ed_LocX->text() + ", " + f.Ed_LocApprox->text()) << "on X";
    EXPECT_TRUE(f.Mem_Msgs->toPlainText().contains("Debug: UDP: datagram from 127.0.0.1 ")) << "said, once a second";

    // Unticked: the port is closed.
    f.Chk_UdpFeed->setChecked(false);
    EXPECT_EQ(w->feeds().udpPort(), 0);
    EXPECT_TRUE(f.Lab_FeedStatus->text().startsWith("UDP: off"));
}

// Python's http.server with a document root of the test's own.
class PageServer {
public:
    explicit PageServer(const std::filesystem::path& root) {
        port_ = testing::freeTcpPort();
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start("python3", {"-m", "http.server", QString::number(port_), "--bind", "127.0.0.1", "--directory",
                                   QString::fromStdString(root.string())});
    }
    ~PageServer() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool ready() {
        return QTest::qWaitFor(
            [&] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port_));
                return probe.waitForConnected(200);
            },
            kWait);
    }
    QString url(const QString& file) const { return QString("http://127.0.0.1:%1/%2").arg(port_).arg(file); }

private:
    QProcess process_;
    int port_ = 0;
};

std::string receiverLine(long long ms, double bearing, const char* station, double lat, double lon) {
    char text[300];
    std::snprintf(text, sizeof text, "%lld,%.12f,9.5,-42.1,433920000,UCA,120,%s,%.6f,%.6f,0,0,GPS,R,R,R,R,0.1,0.5,0.2",
                  ms, bearing, station, lat, lon);
    return text;
}

TEST_F(FeedWindowTest, TheReceiverPageIsFollowedThroughTornReads) {
    auto w = startWindow();
    giveBearings(*w);
    Ui::TBearfix& f = w->form();
    const std::filesystem::path root = dir.path() / "www";
    std::filesystem::create_directories(root);
    const Bearing b1 = toward(*w, 50.1, 8.6), b2 = toward(*w, 49.0, 10.5);
    const std::string first = receiverLine(1716022801234, b1.bearingDeg, "KRK-1", 50.1, 8.6);
    const std::string second = receiverLine(1716022801234, b2.bearingDeg, "KRK-2", 49.0, 10.5);
    const std::string torn = receiverLine(1716022802000, 10, "KRK-1", 50.1, 8.6).substr(0, 50);
    dir.write("www/DOA_value.html", first + "\n" + second + "\n" + torn);
    PageServer server(root);
    ASSERT_TRUE(server.ready());

    f.Ed_ReceiverUrl->setText(server.url("DOA_value.html"));
    f.Ed_ReceiverInterval->setText("0.2");
    QElapsedTimer fetching;
    fetching.start();
    f.Chk_ReceiverFeed->setChecked(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged(*w) == 2; }, kWait)) << f.Lab_FeedStatus->text().toStdString();
    const auto& rows = w->bearingLog().model().rows().rows;
    const Bearing& k1 = rows[rows.size() - 2];
    EXPECT_EQ(k1.station, "KRK-1");
    EXPECT_EQ(k1.source, BearingSource::Receiver);
    EXPECT_NEAR(k1.bearingDeg, b1.bearingDeg, 1e-9);
    EXPECT_NEAR(k1.position.lat * kRadToDeg, 50.1, 1e-9);
    EXPECT_EQ(k1.utc, 1716022801);
    EXPECT_EQ(lastLogged(*w).station, "KRK-2");
    EXPECT_EQ(f.Lab_Fix->text(), "Fix (4 bearings)");
    EXPECT_EQ(f.Ed_Fix->text(), f.Ed_LocX->text() + ", " + f.Ed_LocApprox->text()) << "on X";
    // Fetched again and again: the torn line counts each time, the bearings once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->feeds().receiverCounts().repeated >= 6; }, kWait));
    EXPECT_EQ(logged(*w), 2u);
    EXPECT_GE(w->feeds().receiverCounts().skipped, 3u);
    EXPECT_EQ(w->feeds().receiverCounts().accepted, 2u);
    EXPECT_TRUE(f.Lab_FeedStatus->text().contains("Receiver: 2 accepted, ")) << f.Lab_FeedStatus->text().toStdString();
    // The torn line is counted at every fetch and said once a minute at most.
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Lab_FeedStatus->text().contains(" torn)"); }, kWait));
    const QString messages = f.Mem_Msgs->toPlainText();
    EXPECT_TRUE(messages.contains("Receiver: 1 torn line skipped (caught half written); said once a minute at most"));
    EXPECT_LE(messages.count("torn line"), 1 + fetching.elapsed() / 60000) << messages.toStdString();

    // Switched off and on (as after a restart): the page is read afresh, and
    // what the log holds already stays out of it.
    f.Chk_ReceiverFeed->setChecked(false);
    f.Chk_ReceiverFeed->setChecked(true);
    const uint64_t repeated = w->feeds().receiverCounts().repeated;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const ReceiverCounts& c = w->feeds().receiverCounts();
            return c.repeated >= repeated + 4 && c.accepted == 2;
        },
        kWait))
        << f.Lab_FeedStatus->text().toStdString();
    EXPECT_EQ(logged(*w), 2u);

    // The receiver writes the next bearing, mirrored (360 - bearing), and one without a position.
    f.Cb_BearingConvention->setCurrentIndex(1);
    dir.write("www/DOA_value.html", receiverLine(1716022803000, 360 - 77.25, "KRK-1", 50.1, 8.6) + "\n" +
                                        receiverLine(1716022803000, 12, "KRK-3", 0, 0) + "\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged(*w) == 3; }, kWait));
    EXPECT_NEAR(lastLogged(*w).bearingDeg, 77.25, 1e-9);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Mem_Msgs->toPlainText().contains("no position (0/0) and no GPS fix"); },
                                kWait));

    // A server that is gone: said once.
    f.Ed_ReceiverUrl->setText(server.url("no-such-page.html"));
    f.Ed_ReceiverUrl->editingFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Lab_FeedStatus->text().contains("not found"); }, kWait))
        << f.Lab_FeedStatus->text().toStdString();

    // A page beyond 1 MiB is not read: said, counted, nothing taken.
    std::string big;
    while (big.size() <= (1u << 20)) big += receiverLine(1716022804000, 5, "KRK-9", 50.1, 8.6) + "\n";
    dir.write("www/big.html", big);
    const uint64_t skipped = w->feeds().receiverCounts().skipped;
    f.Ed_ReceiverUrl->setText(server.url("big.html"));
    f.Ed_ReceiverUrl->editingFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Lab_FeedStatus->text().contains("larger than 1 MiB"); }, kWait))
        << f.Lab_FeedStatus->text().toStdString();
    EXPECT_GT(w->feeds().receiverCounts().skipped, skipped);
    EXPECT_EQ(logged(*w), 3u);
}

// The socket's "set pos1=" and "set pos2=" act as typing does.
TEST_F(LiveWindowTest, RemoteSetsTheObserverPositions) {
    auto w = startWindow();
    Ui::TBearfix& f = w->form();
    post(*w, "set pos1=N50\xB0" "06'00\" E008\xB0" "36'00\"");
    post(*w, "SET pos2=50.5, 9.25");
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Ed_Pos2->text() == "50.5, 9.25"; }, 5000));
    EXPECT_EQ(f.Ed_Pos1->text(), QString::fromUtf8("N50°06'00\" E008°36'00\""));
    EXPECT_NEAR(w->observerA.lat * kRadToDeg, 50.1, 1e-9);
    EXPECT_NEAR(w->observerB.lon * kRadToDeg, 9.25, 1e-9);
    EXPECT_FALSE(isRed(f.Ed_Pos1));
    post(*w, "set pos1=somewhere");
    post(*w, "set POS2=N1 E1");  // the command word's case matters: ignored
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Ed_Pos1->text() == "somewhere"; }, 5000));
    EXPECT_TRUE(isRed(f.Ed_Pos1));
    EXPECT_FALSE(w->observerAValid);
    EXPECT_EQ(f.Ed_Pos2->text(), "50.5, 9.25");
}

// The segments as text, whole: "#name/colour/origin" and the points as
// "lat lon height hh:mm:ss" (units of the store); and the points of the
// segments begun by `origin`.
std::vector<std::string> segments(const TrackBuffer& store) {
    std::vector<std::string> out;
    store.forEachInSegmentOrder([&out](const TrackPoint& r) {
        char text[96];
        if (r.type == kTrackSegment) std::snprintf(text, sizeof text, "#%s/%d/%d", r.name, r.colour, int(r.origin));
        else std::snprintf(text, sizeof text, " %d %d %g %02d:%02d:%02d", r.lat, r.lon, r.altitude, r.hour, r.minute, r.second);
        if (r.type == kTrackSegment) out.emplace_back(text);
        else if (!out.empty()) out.back() += text;
    });
    return out;
}
int pointsOf(const TrackBuffer& store, TrackOrigin origin) {
    int points = 0, counting = 0;
    store.forEachInSegmentOrder([&](const TrackPoint& r) {
        if (r.type == kTrackSegment) counting = r.origin == origin;
        else points += counting;
    });
    return points;
}

// A hunt quit and started again: the recorded GPS track and a teammate's
// track, their points interleaved as they came, are back whole with their
// names, colours, heights and times; the teammate's next point goes on in
// its segment and is in the journal within a second, before any quit; Clear
// empties the journal at once.
TEST_F(LiveWindowTest, TracksComeBackWholeAfterARestart) {
    clearTracks();
    const std::string journal = (dir.path() / "config/bearfix/tracks.journal").string();
    std::vector<std::string> before;
    {
        auto w = startWindow();
        GpsFake gpsd;
        const int port = testing::freeTcpPort();
        ASSERT_TRUE(gpsd.start(port));
        w->form().Chk_RecordGpsTrack->setChecked(true);
        useGpsd(*w, port);
        post(*w, "track segment name=\"Car 2\" color=255");
        for (int i = 1; i <= 4; ++i) {
            const int gps = pointsOf(trackStore(), TrackOrigin::Gps);
            ASSERT_TRUE(QTest::qWaitFor([&] { return pointsOf(trackStore(), TrackOrigin::Gps) > gps; }, kWait));
            post(*w, "track addpoint lat=50.0" + std::to_string(i) + " lon=8.1 masl=2" + std::to_string(i) +
                         "0 udts=17160228" + std::to_string(10 + i));
            ASSERT_TRUE(QTest::qWaitFor([&] { return pointsOf(trackStore(), TrackOrigin::Remote) == i; }, kWait));
        }
        before = segments(trackStore());
        ASSERT_EQ(before.size(), 2u);
        w->close();
    }
    const std::string& car = before[before[0].rfind("#Car", 0) == 0 ? 0 : 1];
    EXPECT_EQ(car.rfind("#Car 2/255/2 18003600 2916000 210 09:00:11 18007200", 0), 0u) << car;
    clearTracks();  // as a new run begins
    auto w = startWindow();
    EXPECT_EQ(segments(trackStore()), before);
    post(*w, "track addpoint lat=50.05 lon=8.1");
    const auto saved = [&journal] {
        TrackBuffer read;
        readTrackJournal(journal, read);
        return pointsOf(read, TrackOrigin::Remote);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return saved() == 5; }, kWait)) << "in the teammate's segment, saved";
    EXPECT_EQ(segments(trackStore()).size(), 2u);
    w->form().Btn_ClearTracks->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::file_size(journal) == 16; }, kWait));
    clearTracks();
}

// New keys only when they differ from their defaults; read back as written.
TEST_F(LiveWindowTest, SettingsKeepTheNewKeysOnlyWhenSet) {
    const std::string old = "[PREV_SESSION]\r\nPos1=N52\xB0" "08'26\" E008\xB0" "28'57\"\r\n";
    writeIni(old);
    {
        auto w = startWindow();
        w->close();
    }
    EXPECT_EQ(readIni().find("[GPS]"), std::string::npos) << readIni();
    EXPECT_EQ(readIni().find("[BearingFeeds]"), std::string::npos) << readIni();
    {
        auto w = startWindow();
        Ui::TBearfix& f = w->form();
        f.CB_SerialPort->setCurrentText("gpsd 127.0.0.1:1");
        f.Chk_FollowGps->setChecked(true);
        f.Ed_UdpPort->setText("40000");
        f.Cb_BearingConvention->setCurrentIndex(1);
        w->close();
    }
    EXPECT_TRUE(iniHas("[GPS]"));
    EXPECT_TRUE(iniHas("\nServer=gpsd 127.0.0.1:1\nObserverAFollows=1\n"));
    EXPECT_TRUE(iniHas("[BearingFeeds]"));
    EXPECT_TRUE(iniHas("\nUDPPort=40000\nReceiverMirrored=1\n"));
    EXPECT_EQ(readIni().find("RecordTrack"), std::string::npos);
    auto w = startWindow();
    EXPECT_EQ(w->form().CB_SerialPort->currentText(), "gpsd 127.0.0.1:1");
    EXPECT_TRUE(w->form().Chk_FollowGps->isChecked());
    EXPECT_EQ(w->form().Ed_UdpPort->text(), "40000");
    EXPECT_EQ(w->form().Cb_BearingConvention->currentIndex(), 1);
}

// Whether `p` shows on the last map, away from its edges.
bool inView(TBearfix& w, GeoPosition p) {
    const MapView& v = w.composer().view();
    double x, y;
    return geo_to_pixel(v, p.lon, p.lat, &x, &y) && !nearEdge(x, y, v.width, v.height);
}

// Driving to the log's fix: "Center at" it, Follow GPS in both projections
// (course and distance expected from GeographicLib), F, Add... and a drag.
TEST_F(LiveWindowTest, FollowGpsKeepsTheCarInViewAndFGoesToTheLogsFix) {
    writeIni("[PREV_SESSION]\nBrg1X=\nBrg2X=\n[MAP]\nShowTopo=0\nShowCities=0\nCenterHow=4\n");
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    const GeographicLib::Geodesic sphere(kEarthRadiusKm * 1000, 0);
    std::vector<Bearing> log;  // from three stations toward 52.16 N 8.47 E
    for (const auto& [lat, lon] : {std::pair{52.11, 8.41}, {52.2, 8.39}, {52.13, 8.56}}) {
        double metres, azimuth, back;
        sphere.Inverse(lat, lon, 52.16, 8.47, metres, azimuth, back);
        log.push_back({"Car", 1716022800, {lon * kDegToRad, lat * kDegToRad}, std::fmod(azimuth + 360, 360), 3});
    }
    w->bearingLog().append(log);
    const GeoPosition fix = w->bearingLog().model().rows().fix.x;
    f.Btn_UpdateMap->click();
    EXPECT_LT(std::hypot(w->mapCenter.lat - fix.lat, w->mapCenter.lon - fix.lon), 5e-6) << "Center at: the log's fix";

    GpsFake gpsd;
    const int port = testing::freeTcpPort();
    ASSERT_TRUE(gpsd.start(port));
    useGpsd(*w, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->gps().currentFix() != nullptr; }, kWait));
    f.Ed_MapRange->setText("0.1");
    f.Btn_FollowGps->click();
    EXPECT_TRUE(w->mapPopup().findChild<QAction*>("PM_FollowGps")->isChecked()) << "one with the button";
    int moves = 0, outside = 0;
    QObject::connect(&w->gps(), &GpsPanel::fixShown, [&, centre = w->mapCenter]() mutable {
        outside += !inView(*w, w->gps().currentFix()->position());  // after the window's own handler
        const GeoPosition was = std::exchange(centre, w->mapCenter);
        moves += was.lat != centre.lat || was.lon != centre.lon;
    });
    for (int projection : {0, 1}) {
        f.CB_MapProjection->setCurrentIndex(projection);
        f.Btn_UpdateMap->click();
        moves = outside = 0;
        ASSERT_TRUE(QTest::qWaitFor([&] { return moves >= 3; }, kWait)) << projection;
        EXPECT_EQ(outside, 0) << projection << ": the map moves on before the car nears an edge";
    }

    const QRegularExpressionMatch m =  // "Fix: 45°, 3.2 km", from the car to the fix
        QRegularExpression(QString::fromUtf8("^Fix: (\\d+)°, ([\\d.]+) (k?m)$")).match(f.Lab_DriveReadout->text());
    ASSERT_TRUE(m.hasMatch() && f.Lab_DriveReadout->isVisible()) << f.Lab_DriveReadout->text().toStdString();
    const GpsFix& own = *w->gps().currentFix();
    double metres, azimuth, back;
    sphere.Inverse(own.latDeg, own.lonDeg, fix.lat * kRadToDeg, fix.lon * kRadToDeg, metres, azimuth, back);
    EXPECT_LE(std::fabs(std::remainder(m.captured(1).toDouble() - azimuth, 360.0)), 3.0) << "a fix or two late";
    EXPECT_NEAR(m.captured(2).toDouble() * (m.captured(3) == "km" ? 1000 : 1), metres, 150.0);
    EXPECT_GE(f.Lab_DriveReadout->height(), 40) << "large enough to read while driving";
    f.Img_Map->setFocus();
    QTest::keyClick(f.Img_Map, Qt::Key_F);
    EXPECT_TRUE(inView(*w, own.position()) && inView(*w, fix)) << "F shows both";
    GeoPosition offered, car;
    w->dialogs.editBearing = [&](const QString&, Bearing* b) {
        std::tie(offered, car) = std::pair(b->position, w->gps().currentFix()->position());
        return false;
    };
    f.Btn_AddBearing->click();
    EXPECT_TRUE(offered.lat == car.lat && offered.lon == car.lon) << "Add... where the car is";
    w->Img_MapDragged(100, 100, 160, 140);
    EXPECT_FALSE(w->followsGps() || f.Btn_FollowGps->isChecked() || f.Lab_DriveReadout->isVisible()) << "dragged";
}

}  // namespace
}  // namespace bearfix
