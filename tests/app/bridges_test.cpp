// The bridges against servers of the test's own on free ports of 127.0.0.1:
// an APRS-IS server speaking aprsc's lines, a KISS TNC, CoT listeners by UDP
// (one address and the multicast group, kept on this host by a TTL of 0),
// TCP and TLS with certificates the test makes with openssl.
#include <tinyxml.h>

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <cstdlib>

#include "app/aprs_link.h"
#include "app/bearing_log_tab.h"
#include "app/bridges.h"
#include "app/cot_link.h"
#include "app/reconnecting_link.h"
#include "aprs/kiss.h"
#include "support/message_log.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

constexpr int kWait = 15000;
const QByteArray kReport = "N0CALL-9>APRS,WIDE1-1:=4903.50N/07201.75W\\088/036/270/729";

// A server on a free port that keeps what each connection sends; with TLS
// it asks for a client certificate signed by `ca`.
class Server : public QTcpServer {
public:
    explicit Server(bool tls = false, const QString& dir = {}) : tls_(tls), dir_(dir) { listen(QHostAddress::LocalHost, 0); }
    QList<QTcpSocket*> peers;
    QByteArray got;  // of every connection
    QString clientName;

protected:
    void incomingConnection(qintptr fd) override {
        QTcpSocket* s = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
        s->setSocketDescriptor(fd);
        connect(s, &QTcpSocket::readyRead, this, [this, s] { got += s->readAll(); });
        peers.append(s);
        if (auto* ssl = qobject_cast<QSslSocket*>(s)) {
            QFile key(dir_ + "/server.key");
            key.open(QIODevice::ReadOnly);
            ssl->setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
            ssl->setLocalCertificate(QSslCertificate::fromPath(dir_ + "/server.pem").value(0));
            QSslConfiguration c = ssl->sslConfiguration();
            c.setCaCertificates(QSslCertificate::fromPath(dir_ + "/ca.pem"));
            c.setPeerVerifyMode(QSslSocket::VerifyPeer);
            ssl->setSslConfiguration(c);
            connect(ssl, &QSslSocket::encrypted, this, [this, ssl] {
                clientName = ssl->peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
            });
            ssl->startServerEncryption();
        }
    }

private:
    bool tls_;
    QString dir_;
};

// The log lines while it lives.
struct LogLines {
    LogLines() {
        setMessageSink([this](MessageLevel, const std::string& t) { text += QString::fromStdString(t) + "\n"; });
    }
    ~LogLines() { setMessageSink({}); }
    QString text;
};

// The events of a datagram or a TCP stream, each parsed as XML: uid, type.
std::vector<std::pair<std::string, std::string>> events(const QByteArray& bytes) {
    std::vector<std::pair<std::string, std::string>> out;
    qsizetype at = 0;
    while (true) {
        const qsizetype end = bytes.indexOf("</event>", at);
        if (end < 0) break;
        const QByteArray one = bytes.mid(at, end + 8 - at);
        at = end + 8;
        TiXmlDocument doc;
        doc.Parse(one.constData(), nullptr, TIXML_ENCODING_UTF8);
        EXPECT_FALSE(doc.Error()) << one.toStdString();
        const TiXmlElement* e = doc.RootElement();
        if (e && e->Attribute("uid") && e->Attribute("type")) out.emplace_back(e->Attribute("uid"), e->Attribute("type"));
    }
    return out;
}

CotScene scene(double fixLat) {
    CotScene s;
    s.stations = {{"A", "A", {8 * kDegToRad, 50 * kDegToRad}}};
    s.fix = CotFix{{8.5 * kDegToRad, fixLat * kDegToRad}, 1.5, "Fix", ""};
    s.lines = {{"A", 1, {8 * kDegToRad, 50 * kDegToRad}, 45, 30}};
    return s;
}

TEST(Bridges, AprsIsLoginFilterRepeatsAndComingBack) {
    LogLines log;
    Server server;
    AprsLink link;
    link.setCentre({-72.0292 * kDegToRad, 49.0583 * kDegToRad});
    link.configure({true, "127.0.0.1", server.serverPort(), false, {}, 0, "N0CALL", 13023, 50});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.got.contains("\r\n"); }, kWait)) << log.text.toStdString();
    EXPECT_EQ(server.got, "user N0CALL pass 13023 vers Bearfix " BEARFIX_VERSION " filter r/49.0583/-72.0292/50\r\n");
    QTcpSocket* peer = server.peers.value(0);
    peer->write("# aprsc 2.1.21\r\n# logresp N0CALL verified, server T2TEST\r\n" + kReport + "\r\n" + kReport + "\r\n" +
                QByteArray(600, 'x') + "\r\nW1AW>APRS:=4903.50N/07201.75W\\000/000/090/8");
    peer->write("46\r\nW1AW>APRS:/234517h4903.50N/07201.75W>DFS2360\r\n");
    std::vector<Bearing> got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (Bearing& b : link.takeBearings()) got.push_back(b);
        return got.size() == 2 && link.counts().omni == 1;
    }, kWait));
    EXPECT_TRUE(link.verified());
    EXPECT_EQ(got[0].station, "N0CALL-9");
    EXPECT_EQ(got[1].station, "W1AW");
    EXPECT_EQ(got[1].bearingDeg, 90);
    EXPECT_EQ(got[1].toleranceDeg, 4);
    EXPECT_EQ(link.counts().repeats, 1u);
    EXPECT_EQ(link.counts().refused, 1u);  // the line too long
    // The filter follows the map, sent packets go out from the callsign.
    server.got.clear();
    link.setCentre({-72.0292 * kDegToRad, 49.1583 * kDegToRad});  // 11 km: less than a quarter of 50
    link.setCentre({-72.0292 * kDegToRad, 50.0583 * kDegToRad});
    ASSERT_TRUE(link.send("=4903.50N/07201.75W\\000/000/270/949"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.got.count("\r\n") == 2; }, kWait));
    EXPECT_EQ(server.got, "#filter r/50.0583/-72.0292/50\r\nN0CALL>APZBFX,TCPIP*:=4903.50N/07201.75W\\000/000/270/949\r\n");
    // The server goes: one line, however many tries; it comes back.
    const quint16 port = server.serverPort();
    peer->close();
    server.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.aprsIs().backoffSeconds() >= 4; }, kWait));
    EXPECT_EQ(log.text.count("APRS-IS: "), 3) << log.text.toStdString();  // connected, verified, lost
    EXPECT_TRUE(log.text.contains("Warning: APRS-IS: connection to 127.0.0.1:" + QString::number(port) +
                                  " lost: "))
        << log.text.toStdString();
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.peers.size() == 2; }, kWait));
    EXPECT_FALSE(link.verified());
}

TEST(Bridges, KissTncBothWays) {
    Server tnc;
    AprsLink link;
    link.configure({false, {}, 0, true, "127.0.0.1", tnc.serverPort(), "N0CALL", -1, 100});
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.kissOpen() && !tnc.peers.isEmpty(); }, kWait));
    Tnc2Packet p;
    std::string why, ax25;
    ASSERT_TRUE(parseTnc2(kReport.toStdString(), p, why) && tnc2ToAx25(p, ax25, why));
    const QByteArray frame = QByteArray::fromStdString(kissFrame(ax25));
    tnc.peers[0]->write(QByteArray("\xc0\x00\xdb\x41\xc0", 5) + frame.left(9));  // a bad escape, then a frame in two pieces
    tnc.peers[0]->flush();
    tnc.peers[0]->write(frame.mid(9));
    std::vector<Bearing> got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (Bearing& b : link.takeBearings()) got.push_back(b);
        return !got.empty();
    }, kWait));
    EXPECT_EQ(got[0].station, "N0CALL-9");
    EXPECT_EQ(got[0].source, BearingSource::Aprs);
    EXPECT_EQ(link.counts().refused, 1u);
    ASSERT_TRUE(link.send("=4903.50N/07201.75W\\000/000/270/949"));
    KissDeframer k;
    std::vector<KissFrame> frames;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (KissFrame& f : k.feed(tnc.got.toStdString())) frames.push_back(f);
        tnc.got.clear();
        return !frames.empty();
    }, kWait));
    ASSERT_TRUE(ax25ToTnc2(frames[0].data, p, why)) << why;
    EXPECT_EQ(formatTnc2(p), "N0CALL>APZBFX,WIDE1-1,WIDE2-1:=4903.50N/07201.75W\\000/000/270/949");
}

TEST(Bridges, ASilentServerIsLeftAndAFloodCut) {
    LogLines log;
    Server server;
    ReconnectingLink link;
    QByteArray got;
    QObject::connect(&link, &ReconnectingLink::received, [&](const QByteArray& b) { got += b; });
    ReconnectingLink::Options o;
    o.name = "Test";
    o.host = "127.0.0.1";
    o.port = server.serverPort();
    o.stallSeconds = 1;
    o.maxBytesPerSecond = 1000;
    link.open(o);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.peers.isEmpty(); }, kWait));
    server.peers[0]->write(QByteArray(5000, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.text.contains("nothing received for 1 s"); }, kWait)) << log.text.toStdString();
    EXPECT_EQ(got.size(), 1000);
    EXPECT_TRUE(log.text.contains("sends more than 1000 bytes a second; the rest is dropped"));
}

TEST(Bridges, CotToUdpAndTcpOnlyWhatChangedAtMostOnceASecond) {
    QUdpSocket listener;
    ASSERT_TRUE(listener.bind(QHostAddress::LocalHost, 0));
    CotLink udp;
    CotLink::Config c;
    c.on = true;
    c.transport = CotTransport::Udp;
    c.host = "127.0.0.1";
    c.port = listener.localPort();
    c.events.uidPrefix = "test";
    ASSERT_TRUE(udp.configure(c));
    std::vector<std::pair<std::string, std::string>> got;
    std::vector<qint64> when;
    QElapsedTimer clock;
    clock.start();
    const auto receive = [&] {
        while (listener.hasPendingDatagrams()) {
            QByteArray d(static_cast<int>(listener.pendingDatagramSize()), 0);
            listener.readDatagram(d.data(), d.size());
            for (auto& e : events(d)) got.push_back(e), when.push_back(clock.elapsed());
        }
        return got.size();
    };
    udp.show(scene(50.3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return receive() == 3; }, kWait));
    udp.show(scene(50.3));
    udp.show(scene(50.31));  // the fix moved: that alone, a second after the first
    ASSERT_TRUE(QTest::qWaitFor([&] { return receive() == 4; }, kWait));
    EXPECT_EQ(got[3].first, "test.fix");
    EXPECT_GE(when[3] - when[0], 900);
    // TCP: one event after another; a new connection gets everything.
    Server tak;
    c.transport = CotTransport::Tcp;
    c.port = tak.serverPort();
    CotLink tcp;
    ASSERT_TRUE(tcp.configure(c));
    tcp.show(scene(50.3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return events(tak.got).size() == 3; }, kWait));
    tak.peers[0]->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events(tak.got).size() == 6; }, kWait));
    EXPECT_EQ(events(tak.got)[4].first, "test.fix");
}

TEST(Bridges, CotToTheMulticastGroupOnTheChosenInterface) {
    QNetworkInterface face;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        if (i.flags().testFlags(QNetworkInterface::CanMulticast | QNetworkInterface::IsUp | QNetworkInterface::IsRunning) &&
            !i.flags().testFlag(QNetworkInterface::IsLoopBack) && !face.isValid())
            face = i;
    ASSERT_TRUE(face.isValid()) << "no network interface that can multicast";
    QUdpSocket listener;
    ASSERT_TRUE(listener.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::ShareAddress));
    ASSERT_TRUE(listener.joinMulticastGroup(QHostAddress("239.2.3.1"), face));
    CotLink link;
    CotLink::Config c;
    c.on = true;
    c.host = "239.2.3.1";
    c.port = listener.localPort();
    c.interfaceName = "no-such-interface";
    QString why;
    EXPECT_FALSE(link.configure(c, &why));
    EXPECT_EQ(why, "there is no network interface \"no-such-interface\"");
    c.interfaceName = face.name();
    c.multicastTtl = 0;  // this host only
    ASSERT_TRUE(link.configure(c, &why)) << why.toStdString();
    link.show(scene(50.3));
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        while (listener.hasPendingDatagrams()) {
            QByteArray d(static_cast<int>(listener.pendingDatagramSize()), 0);
            listener.readDatagram(d.data(), d.size());
            got += d;
        }
        return events(got).size() == 3;
    }, kWait));
}

TEST(Bridges, CotOverTlsWithAClientCertificate) {
    testing::TempDir dir;
    const std::string d = dir.path().string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(d + "/ip.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::string script = "cd " + d + " && openssl req -x509" + ec + " -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca &&" +
                               " openssl req" + ec + " -keyout server.key -out server.csr -subj /CN=127.0.0.1 &&" +
                               " openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2" +
                               " -extfile ip.ext -out server.pem &&" + " openssl req" + ec +
                               " -keyout client.key -out client.csr -subj /CN=bearfix-client &&" +
                               " openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2" +
                               " -out client.pem";
    ASSERT_EQ(std::system(("(" + script + ") >/dev/null 2>&1").c_str()), 0);
    Server tak(true, QString::fromStdString(d));
    CotLink link;
    CotLink::Config c;
    c.on = true;
    c.transport = CotTransport::Tls;
    c.host = "127.0.0.1";
    c.port = tak.serverPort();
    c.certificate = QString::fromStdString(d + "/client.pem");
    c.key = QString::fromStdString(d + "/client.key");
    c.caCertificates = QString::fromStdString(d + "/ca.pem");
    c.events.uidPrefix = "tls";
    ASSERT_TRUE(link.configure(c));
    link.show(scene(50.3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return events(tak.got).size() == 3; }, kWait));
    EXPECT_EQ(tak.clientName, "bearfix-client");
    c.key = QString::fromStdString(d + "/server.csr");
    QString why;
    EXPECT_FALSE(link.configure(c, &why));
    EXPECT_TRUE(why.startsWith("the client certificate or its key cannot be read"));
}

// In the window: a DF report heard on the air enters the log; the own
// bearing goes out only after its packet was shown, then at most every 30 s.
class BridgesWindowTest : public testing::WindowTest {};

TEST_F(BridgesWindowTest, HeardReportsEnterTheLogAndOwnOnesWaitTheirTurn) {
    Server tnc;
    writeIni("[APRS]\nKISS=1\nKISSServer=127.0.0.1:" + std::to_string(tnc.serverPort()) +
             "\nCallsign=N0CALL\nSend=1\nFrequency=146.52\n");
    auto w = start();
    QStringList asked;
    qint64 now = 1000000;
    w->bridges().confirmFirstSend = [&](const QString& packet, std::function<void(bool)> answer) {
        asked.append(packet);
        answer(true);
    };
    w->bridges().clock = [&] { return now; };
    w->form().Ed_Pos1->setText("N50 E8");
    const auto type = [&](const char* brg) {  // given as the user gives it
        w->form().Ed_Brg1X->selectAll();
        QTest::keyClicks(w->form().Ed_Brg1X, brg);
    };
    type("45");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tnc.peers.isEmpty() && w->bridges().aprs().kissOpen(); }, kWait));
    Tnc2Packet p;
    std::string why, ax25;
    ASSERT_TRUE(parseTnc2(kReport.toStdString(), p, why) && tnc2ToAx25(p, ax25, why));
    tnc.peers[0]->write(QByteArray::fromStdString(kissFrame(ax25)));
    const BearingRows& rows = w->bearingLog().model().rows();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        w->Timer1Timer();
        return rows.logSize() == 1;
    }, kWait));
    EXPECT_EQ(rows.log()[0].station, "N0CALL-9");
    EXPECT_EQ(rows.log()[0].source, BearingSource::Aprs);
    const auto sent = [&] {
        std::vector<std::string> lines;
        KissDeframer k;
        for (const KissFrame& f : k.feed(tnc.got.toStdString()))
            if (ax25ToTnc2(f.data, p, why)) lines.push_back(p.info);
        return lines;
    };
    const std::pair<const char*, int> typed[] = {{"45", 0}, {"46", 10000}, {"47", 10000}, {"47", 11000}};
    for (const auto& [brg, step] : typed) {
        now += step;
        type(brg);
        w->Timer1Timer();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent().size() == 2; }, kWait));
    const QRegularExpression report("^=5000\\.00N/00800\\.00E\\\\000/000/04([57])/9[0-9][0-9] 146\\.520MHz$");
    EXPECT_EQ(report.match(QString::fromStdString(sent()[0])).captured(1), "5") << sent()[0];
    EXPECT_EQ(report.match(QString::fromStdString(sent()[1])).captured(1), "7") << sent()[1];
    EXPECT_EQ(asked, QStringList{"N0CALL>APZBFX,WIDE1-1,WIDE2-1:" + QString::fromStdString(sent()[0])});
}

}  // namespace
}  // namespace bearfix
