// bearfix-cli and bearfix on positions, help and version: output and exit status.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

namespace bearfix {
namespace {

struct Finished {
    QString out, err;
    int status = -1;
};

Finished run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) return {};
    return {QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()),
            process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1};
}

// The expected places and positions: the default observer A is 5 km W of
// Enger; 52°08'26" is 52.140555..., 28'57" past 8 is 8.4825; JO40hf's centre
// is 50°13.75' N 8°37.5' E.
TEST(CommandLine, PositionsHelpAndVersion) {
    const QString cli = BEARFIX_CLI, program = BEARFIX_PROGRAM;
    const QString dms = QString::fromUtf8("N52°08′26″ E008°28′57″");  // primes, as pasted from a web page
    const struct { QString program; QStringList arguments; int status; const char* out; const char* err; } cases[] = {
        {cli, {"describe", dms}, 0, "^5 km W of Enger\n$", "^$"},
        {cli, {"describe", "JO40hf"}, 0, "^Bad Homburg\n$", "^$"},  // 0.4 km from its 50.23 N 8.62 E
        {cli, {"describe", "N52"}, 2, "^$", "^not a position\n$"},
        {cli, {"describe", "50.3375N 8.7553E"}, 0, " of Bad Homburg\n$", "^$"},
        {cli, {"fix", dms, "260", "JO40hf", "288", "--json"}, 0,
         "\"a\":\\{\"lat\":52\\.1405555555[0-9]*,\"lon\":(8\\.48249999[0-9]*|8\\.4825[0-9]*)\\},"
         "\"b\":\\{\"lat\":50\\.22916666[0-9]*,\"lon\":8\\.625[0-9]*\\}", "^$"},
        {cli, {"fix", "N52", "260", "50.3375, 8.7553", "288", "--json"}, 0,
         "\"infoA\":\"not a position\".*\"a\":null,\"b\":\\{\"lat\":50\\.3375[0-9]*,\"lon\":8\\.7553[0-9]*\\}.*"
         "\"status\":1,\"x\":null", "^$"},
        {cli, {"fix", "N52", "260", "N49 E11", "288"}, 0, "Location X: no intersection found\nInfo A: not a position\n",
         "^$"},
        {program, {"--version"}, 0, "^Bearfix " BEARFIX_VERSION "\n$", "^$"},
        {program, {"--help"}, 0, "^usage: bearfix .*--version", "^$"},
    };
    // Help and version need no display.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    for (const auto& c : cases) {
        SCOPED_TRACE((c.program + " " + c.arguments.join(' ')).toStdString());
        const Finished r = run(c.program, c.arguments, environment);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(QRegularExpression(c.out, QRegularExpression::DotMatchesEverythingOption).match(r.out).hasMatch())
            << r.out.toStdString();
        EXPECT_TRUE(QRegularExpression(c.err).match(r.err).hasMatch()) << r.err.toStdString();
    }
}

}  // namespace
}  // namespace bearfix
