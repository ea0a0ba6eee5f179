#include "map/tile_image.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <cstring>

#include "map/qt_convert.h"

namespace bearfix {

bool decodeTile(const std::string& bytes, QImage& image, std::string* reason) {
    image = QImage();
    // Told by their signatures, so that no other decoder Qt knows sees the bytes.
    const char* format = nullptr;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0) format = "png";
    if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xFF\xD8\xFF", 3) == 0) format = "jpeg";
    if (!format) {
        *reason = "it is no PNG or JPEG picture";
        return false;
    }
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() < 1 || size.height() < 1) {
        *reason = "it cannot be decoded";
        return false;
    }
    if (size.width() > kMaxTilePicture || size.height() > kMaxTilePicture) {
        *reason = "its picture is larger than " + std::to_string(kMaxTilePicture) + " pixels";
        return false;
    }
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull()) {
        *reason = "it cannot be decoded: " + toCp1252(reader.errorString());
        return false;
    }
    if (decoded.size() != QSize(kTilePixels, kTilePixels))
        decoded = decoded.scaled(kTilePixels, kTilePixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        *reason = "out of memory";
        return false;
    }
    return true;
}

}  // namespace bearfix
