// Lines and areas of the map in pixels. A geographic path is followed through
// the view closely enough that no drawn pixel strays from it: straight in
// longitude and latitude (map data, tracks, grid lines) or along great
// circles (bearing sectors, the line A-B). Pixel coordinates stay unrounded
// and unlimited until a piece is clipped to the picture. A cylindric map
// repeats every 360 degrees of longitude; a piece is drawn once for every
// copy of it that reaches the picture.
#pragma once

#include <functional>
#include <vector>

#include "geo/position.h"
#include "map/map_view.h"
#include "map/point_sink.h"

namespace bearfix {

struct PixelPoint {
    double x = 0;
    double y = 0;
};

// left <= x <= right, top <= y <= bottom.
struct PixelBox {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// The pixels of a width x height picture, grown by `margin` on every side.
PixelBox pictureBox(double width, double height, double margin);

// How far a line's pen reaches from its path: half the pen, its caps and
// joins and a pixel of antialiasing, with room to spare.
inline double penReach(double penWidth) { return penWidth + 3; }
// Lines are clipped this far outside the picture, where their pen no longer shows.
inline double clipMargin(double penWidth) { return penWidth + 4; }

// Pixels from one copy of the earth to the next on a cylindric map; 0 for an
// azimuthal one.
double copyPeriod(const MapView& view);

// The copies k (shifted right by k periods) of something spanning left..right
// that reach `box`: first..last, none when first > last. At most 17, round
// the middle of the box: a range typed far beyond the earth's would draw the
// map hundreds of times.
inline constexpr int kMaxCopies = 16;
void copiesOnBox(double left, double right, double period, const PixelBox& box, double* first, double* last);

enum class GeoEdge {
    kLonLat,       // straight in longitude and latitude, the short way round
    kGreatCircle,  // along the shorter great-circle arc
};

// Follows a path vertex by vertex into pieces of pixel polylines. Cylindric
// longitudes run on without a jump across the antimeridian (a step is taken
// the short way round), so a piece may reach beyond the map's own longitudes:
// its copies shifted by copyPeriod() are where the rest of it shows.
class PathTracer {
public:
    // Where a path passes the antipode of an azimuthal map's centre (the
    // disc's rim): a line is cut there, an area's outline follows the rim.
    enum Crossing { kCut, kRim };

    // Starts afresh; `box` is where the path is drawn (finer work is spent
    // only there).
    void start(const MapView& view, GeoEdge edge, const PixelBox& box, Crossing crossing);
    void moveTo(double lon, double lat);
    void lineTo(double lon, double lat);

    // The pieces so far: piece i runs from points()[starts()[i]] up to the
    // next start (or the end).
    const std::vector<PixelPoint>& points() const { return points_; }
    const std::vector<int>& starts() const { return starts_; }
    double period() const { return period_; }
    // Forgets the pieces so far; a piece under way goes on from its last point.
    void clearPieces();

    // lineTo for each point in turn (moveTo for the first one with `first`).
    // On an azimuthal map a stretch that cannot show (well beyond the
    // picture's corners, off the antipode) is passed over untraced: the
    // tracer ends in the state lineTo would leave, the stretch's last point
    // starting a new piece, which only shows when the path goes on. On the
    // cylindric map such a stretch is traced as its chord.
    void lineThrough(const MapPoint* points, int count, bool first);
    // Whether a stretch within latitudes south..north and longitudes
    // west..east (radians; east - west may exceed 2 pi) may show.
    bool mayReach(double south, double north, double west, double east) const;
    // Whether a line traced afresh may show, its points within latitudes
    // south..north and longitudes west..east (radians, as given: a line
    // across the antimeridian spans nearly all of them). False only when
    // tracing it would give no piece that reaches the box.
    bool lineMayShow(double south, double north, double west, double east) const;

private:
    struct Vertex {
        double lon = 0, lat = 0;
        double lonRun = 0;        // longitude continued along the path, without jumps
        double v[3] = {0, 0, 0};  // unit vector (great circles only)
        PixelPoint p;
    };
    PixelPoint cylindric(double lon, double lat, const double* previousRun, double* run) const;
    bool project(double lon, double lat, const Vertex* previous, Vertex& v) const;
    void follow(const Vertex& previous, Vertex& v) const;
    bool between(const Vertex& a, const Vertex& b, double t, Vertex& v) const;
    void join(const Vertex& a, const Vertex& b);
    Vertex refine(const Vertex& a, const Vertex& b, int depth);
    void unresolved(const Vertex& a, const Vertex& b);
    bool mayShow(const PixelPoint& a, const PixelPoint& b, const PixelPoint& m, double pad) const;
    void rimArc(const PixelPoint& from, const PixelPoint& to);
    // The box of the stretch from the last point through `points`, in the
    // longitude run lineTo keeps, and the run at its end.
    struct Stretch {
        double west, east, south, north, run;
        bool finite;
    };
    Stretch stretchTo(const MapPoint* points, int count) const;
    bool passUnseen(const MapPoint* points, int count);
    void cylindricThrough(const MapPoint* points, int count, bool first);
    bool chordSuffices(const MapPoint* points, int count) const;
    bool unseenOnCylinder(double south, double north, double west, double east, bool alongLongitude) const;
    void settle();

    MapView view_;
    GeoEdge edge_ = GeoEdge::kLonLat;
    PixelBox box_;
    Crossing crossing_ = kCut;
    double period_ = 0;
    double xPerRadian_ = 0, yPerRadian_ = 0;  // cylindric
    bool azimuthal_ = false;
    double cosReach_ = -2;  // azimuthal: cosine of the farthest distance from the centre that can show
    double reach_ = -1;     // that distance
    double reachLat_ = 0;   // the centre's latitude they were found for
    double lonReach_ = 0;   // and the largest difference in longitude within it
    bool open_ = false;  // last_ ends the piece under way
    bool pending_ = false;  // last_ is not projected yet, and a piece starts there when the path goes on
    Vertex last_;
    std::vector<PixelPoint> points_;
    std::vector<int> starts_;
};

// A line's points as they arrive in batches (a point sink's), traced and cut
// to a box: each stretch that lies in the box is handed on.
class LineTrace {
public:
    // After an item's begin or end: the next batch starts a new line.
    void breakLine() { goesOn_ = false; }
    // A long line arrives in several batches; one that goes on from the last
    // point of the one before continues it, so that the line has no gap.
    void batch(const MapView& view, const MapPoint* points, int count, const PixelBox& box,
               const std::function<void(const PixelPoint*, int, double period)>& stretch);

private:
    PathTracer lines_;
    bool goesOn_ = false;
    int32_t index_ = 0;  // of the last point of the last batch, where lines_ stands
};

// Liang-Barsky: cuts the segment a-b down to `box`. -1 when nothing of it is
// inside; else bit 1 set when a moved, bit 2 when b moved.
int clipSegment(PixelPoint& a, PixelPoint& b, const PixelBox& box);

// Calls `run` with each stretch of the polyline that lies in `box`, once for
// every copy (shifted by multiples of `period` when that is above 0). Points
// where a stretch leaves the box are put on its edge.
void clipPolyline(const PixelPoint* points, int count, double period, const PixelBox& box,
                  std::vector<PixelPoint>& scratch, const std::function<void(const PixelPoint*, int)>& run);

// The part of a closed polygon, shifted right by `shift`, that lies in `box`.
void clipPolygon(const std::vector<PixelPoint>& polygon, double shift, const PixelBox& box,
                 std::vector<PixelPoint>& out);

// An area in pixels: the polygons to fill (odd-even) and its outline.
struct PixelArea {
    std::vector<std::vector<PixelPoint>> fill;
    std::vector<PixelPoint> outline;
};

// The area bounded by great-circle arcs from vertex to vertex of `ring` (and
// back to the first). `contains` tells whether a position (lon, lat) lies
// inside; it decides the side of a cylindric map's pole or an azimuthal
// map's rim that an area around them covers.
void traceArea(const MapView& view, const std::vector<GeoPosition>& ring,
               const std::function<bool(double lon, double lat)>& contains, const PixelBox& box, PixelArea& area);

// Where a drawing may have coloured a picture's pixels, as one span of
// columns per row holding all of them: enough to put the picture back as it
// was, row by row, where the drawing went.
class RowSpans {
public:
    // All rows of a picture `width` x `height` empty.
    void reset(int width, int height);
    // The pixels within `reach` of the segment a-b (a line's pen, the edge
    // of an area); the segments of a polygon cover its inside too.
    void addSegment(PixelPoint a, PixelPoint b, double reach);
    void addBox(double left, double top, double right, double bottom);
    // Row y's span: columns left..right within the picture; none when right < left.
    int left(int y) const { return left_[static_cast<std::size_t>(y)]; }
    int right(int y) const { return right_[static_cast<std::size_t>(y)]; }
    int height() const { return static_cast<int>(left_.size()); }

private:
    void addToRow(int y, double from, double to);
    int width_ = 0;
    std::vector<int> left_, right_;
};

}  // namespace bearfix
