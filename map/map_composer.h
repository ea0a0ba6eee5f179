// The map picture in two stages: the slow base layers (background, borders,
// cities, lakes and rivers, islands, coastlines, grid) into a base bitmap,
// and the fast overlay (tracks, the line A-B, the bearing sectors, the ruler)
// on a copy of it. Reads a MapSettings record, never widgets, so it also runs
// headless.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <functional>
#include <string>
#include <vector>

#include "geo/fix_geometry.h"
#include "geo/position.h"
#include "map/label_placer.h"
#include "map/map_settings.h"
#include "map/map_view.h"
#include "map/point_sink.h"
#include "map/screen_path.h"
#include "map/tile_layer.h"
#include "map/vector_bands.h"

namespace bearfix {

// The extent of what shows of an item's lines, for placing its label.
struct LabelBox {
    int32_t left = -32768;  // -32768: empty
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    void reset() { left = -32768; }
    bool empty() const { return left == -32768; }
    void add(int x, int y);
};

// A grid line's label, Windows-1252: "8.75\xB0E", "179.5\xB0W", "50\xB0N", with
// as many decimals as the step needs. Longitudes are those of the earth,
// -180 (excluded) to 180, whichever copy of it a line is on.
std::string gridLabel(double degrees, double step, bool longitude);

// A grid label as drawn: the box its text takes, and the point of the line
// (or, for a locator, inside the field or square) that it names.
struct GridLabelSpot {
    QRect box;
    QPoint anchor;
    QString text;
};

class MapComposer {
public:
    // Hands the stored GPS tracks to a sink; true when a point was delivered.
    using TrackSource = std::function<bool(MapView& view, const PointSink& sink)>;
    // A number that changes whenever the tracks do.
    using TrackChanges = std::function<uint64_t()>;

    MapComposer();

    // With `changes`, the tracks drawn on the base map are kept and drawn
    // again only when the tracks, the base map, the view or the track style
    // change; without, on every overlay.
    void setTrackSource(TrackSource source, TrackChanges changes = {}) {
        trackSource_ = std::move(source);
        trackChanges_ = std::move(changes);
        trackLayer_ = QImage();
    }
    // The bearing log: drawn by drawOverlay over the bearing sectors and
    // under the fix markers, and again (`overMarkers`) over them. True when
    // it drew anything.
    using OverlayLayer = std::function<bool(QPainter& painter, const MapView& view, bool overMarkers)>;
    void setBearingLayer(OverlayLayer layer) { bearingLayer_ = std::move(layer); }
    // Where the six .pnt files are; "map_data" (relative to the current
    // directory) by default.
    void setMapDataDirectory(std::string directory) { dataDirectory_ = std::move(directory); }

    // Draws the base layers into `bitmap`. When the map follows observer A,
    // B or X, `mapCenter` becomes that position, unless its text is none.
    void drawBaseMap(QImage& bitmap, const MapSettings& settings, GeoPosition& mapCenter);

    // Copies `base` into `visible` and draws the overlay with the projection,
    // centre and range of the last base map: first the tracks, then the line
    // A-B, the bearing sectors, the bearing log, the markers and the ruler. An
    // observer that is not finite (no position) gets no sector, no line and no
    // marker. When `visible` is the picture drawn last, untouched since, only
    // what that overlay drew on is copied back.
    void drawOverlay(const QImage& base, QImage& visible, const MapSettings& settings, GeoPosition observerA,
                     GeoPosition observerB);
    // Where the last drawOverlay changed the picture it was given: the whole
    // of it, unless it only drew again over the overlay drawn last.
    const QRegion& lastChange() const { return lastChange_; }
    // The same overlay for a single picture: drawn into `picture`, the base
    // map, itself, without the copies and layers kept for the next overlay.
    void drawOverlayOnce(QImage& picture, const MapSettings& settings, GeoPosition observerA, GeoPosition observerB);

    // The display range after zooming by `steps` (each halves or doubles it,
    // within 0.01..20000 km, logging at the limits). False when the range
    // stays as it is and steps is not 0: then nothing needs redrawing.
    bool zoomedRange(int steps, double* range) const;

    double currentRange() const { return range_; }
    // The offline tiles under the lines.
    TileLayer& tiles() { return tiles_; }
    const TileLayer& tiles() const { return tiles_; }
    // The boxes of the place names of the last base map, when overlapping
    // ones were left out.
    const std::vector<QRect>& cityLabelBoxes() const { return cityLabels_.placed(); }
    // The grid labels of the last base map; none covers another.
    const std::vector<GridLabelSpot>& gridLabels() const { return gridLabels_; }
    // The view of the last drawing, for converting mouse positions.
    const MapView& view() const { return view_; }

    // The point sink: draws a batch as polylines into the current target,
    // straight in longitude and latitude from point to point, a step taken
    // the short way round the earth.
    void drawPointBatch(const MapView& view, const MapPoint* points, int count);

    // Pieces of the overlay, drawn with `painter`'s pen and brush. A sector
    // reaches past the picture's farthest point from its observer (at least
    // twice the range, at most 0.49 pi); a wedge's edges are great circles.
    void drawBearingSector(QPainter& painter, GeoPosition position, double bearing, double tolerance);
    void drawGreatCircleWedge(QPainter& painter, GeoPosition apex, GeoPosition end1, GeoPosition end2);

private:
    void drawCities(const MapSettings& s, bool topography);
    void drawGrid(int mode, bool keepRulerCorner);
    QRect drawRuler();
    void drawLabel(int x, int y, const QString& text, bool opaque);
    // A pixel polyline, clipped to `box` and repeated for each copy of the
    // earth; with `label`, what shows of it makes up the label's box.
    void drawClipped(QPainter& painter, const PixelPoint* points, int count, double period, const PixelBox& box,
                     bool label);
    void drawArea(QPainter& painter, const std::vector<GeoPosition>& ring,
                  const std::function<bool(double lon, double lat)>& contains);
    double sectorLength(GeoPosition observer) const;

    MapView view_;
    VectorLayers::Said saidAboutLines_;  // a map drawn again repeats nothing about its files
    double range_ = 20000.0;
    int projection_ = 0;
    LabelBox labelBox_;
    QPainter* painter_ = nullptr;  // the current drawing target
    QColor fontColour_;
    std::vector<QPointF> run_;
    std::vector<PixelPoint> clipped_;
    LineTrace trace_;
    PixelArea area_;
    void drawTracks(QImage base, const MapSettings& s);
    void composeOverlay(QImage base, QImage& visible, const MapSettings& s, GeoPosition observerA,
                        GeoPosition observerB, bool keepLayers);
    void drawLineAB(const MapSettings& s, GeoPosition observerA, GeoPosition observerB, bool keepLayers);
    // One observer's sector, and the one behind it when the bearing is ambiguous.
    struct Sectors {
        bool shown = true;        // false: the observer has no bearing
        double lon = 0, lat = 0;  // the observer
        double bearing = 0, tolerance = 0;
        bool ambiguous = false;
        uint32_t colour = 0;
        Qt::BrushStyle hatch = Qt::NoBrush;
        int width = 0;
        bool operator==(const Sectors&) const = default;
    };
    void drawSectors(QPainter& painter, const Sectors& sectors);
    // What an overlay draws of the sectors: A's, then B's; with `bOverA`,
    // B's (already on the picture) again only over the rows A's drew on.
    struct SectorPlan {
        bool a = true, b = true, bOverA = false;
    };
    void paintOverlay(QImage& visible, const MapSettings& s, GeoPosition observerA, GeoPosition observerB,
                      const Sectors& a, const Sectors& b, const SectorPlan& plan);
    SectorPlan keepSectors(const Sectors& a, const Sectors& b);

    TrackSource trackSource_;
    TrackChanges trackChanges_;
    // The base map with the tracks drawn on it, and what it was drawn from.
    QImage trackLayer_;
    struct TrackLayerKey {
        qint64 base = 0;
        uint64_t tracks = 0;
        int projection = 0;
        double lon = 0, lat = 0, range = 0;
        uint32_t colour = 0, labelColour = 0;
        int width = 0;
        bool operator==(const TrackLayerKey&) const = default;
    } trackKey_;
    // That with the line A-B on it, which a bearing typed leaves as it is.
    QImage lineLayer_;
    struct LineLayerKey {
        qint64 below = 0;
        bool line = false;
        double lonA = 0, latA = 0, lonB = 0, latB = 0;  // 0 without a line
        int width = 0;
        bool operator==(const LineLayerKey&) const = default;
    } lineKey_;
    OverlayLayer bearingLayer_;
    // Where the last overlay drew on the picture it left, and over what.
    struct {
        RowSpans rows;
        bool everywhere = true;
        qint64 picture = 0;
        qint64 below = 0;
    } painted_;
    RowSpans* touched_ = nullptr;  // while the overlay is drawn: where it draws
    RowSpans paintedBefore_;         // the rows of the overlay before, once copied back
    QRegion lastChange_;
    bool restoreLineLayer(QImage& visible, const QImage& from);
    // The sectors of the last overlay; and the line layer with one observer's
    // sectors on it, kept while the other's change (a bearing typed), with
    // the rows they drew on.
    Sectors lastA_, lastB_;
    QImage sectorLayer_;
    struct {
        qint64 below = 0;
        bool ofA = false;
        Sectors sectors;
    } sectorKey_;
    RowSpans sectorRows_, rowsA_;
    bool measuring_ = false;  // areas only say where they would draw
    QSize stripPicture_;      // while drawing on a strip of the picture: the picture's size
    // The fix of the last overlay, and the texts it is of.
    FixTexts fixTexts_;
    Fix fix_;
    bool fixKnown_ = false;
    std::string dataDirectory_ = "map_data";
    TileLayer tiles_;
    LabelPlacer cityLabels_;
    std::vector<GridLabelSpot> gridLabels_;
};

}  // namespace bearfix
