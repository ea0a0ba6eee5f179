#include "map/terrain_notice.h"

#include <QFontMetrics>
#include <algorithm>
#include <numbers>

#include "map/qt_convert.h"
#include "support/cp1252.h"
#include "support/message_log.h"

namespace bearfix {

bool terrainInView(const ElevationCache& cache, const MapView& view) {
    // Pixels a few apart: an SRTM file covers many of them at any range that
    // loads SRTM files.
    constexpr int kAcross = 96, kDown = 64;
    constexpr double deg = 180 / std::numbers::pi;
    for (int j = 0; j < kDown; ++j) {
        for (int i = 0; i < kAcross; ++i) {
            const int x = static_cast<int>((i + 0.5) * view.width / kAcross);
            const int y = static_cast<int>((j + 0.5) * view.height / kDown);
            double lon, lat;
            int metres;
            if (screen_to_geo(view, x, y, &lon, &lat) && std::fabs(lat) <= std::numbers::pi / 2 &&
                cache.elevationAt(lat * deg, lon * deg, &metres) && metres != kElevationNotLoaded)
                return true;
        }
    }
    return false;
}

void sayNoTerrain(QPainter& painter, const ElevationCache& cache) {
    const std::string& directory = cache.source() == kSrtm ? cache.srtmDirectory() : cache.gtopoDirectory();
    logMessage(MessageLevel::Warning, "Warning: No terrain data in %s \x97 Help -> Terrain data",
               fileNameText(directory).c_str());

    painter.save();
    const QFontMetrics metrics = painter.fontMetrics();
    const int room = std::max(40, painter.device()->width() - 40);
    const QString tail = QString(" \u2014 Help \u2192 Terrain data");
    const QString head = "No terrain data in ";
    const QString name = metrics.elidedText(toQString(fileNameText(directory)), Qt::ElideMiddle,
                                            std::max(20, room - metrics.horizontalAdvance(head + tail)));
    const QString text = head + name + tail;
    const QRect box(8, 8, metrics.horizontalAdvance(text) + 12, metrics.height() + 8);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(96, 96, 96));
    painter.setBrush(QColor(255, 255, 225));
    painter.drawRect(box);
    painter.setPen(Qt::black);
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

}  // namespace bearfix
