#pragma once

#include "annotation_index.h"
#include "change_ring.h"
#include "trigger.h"

#include <QColor>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class PortCapture;

// The 17 lines of a capture drawn over time, one row per line in pin order
// and a bus row of the data register, with a time axis, two cursors and the
// trigger's conditions and marks. Wheel and +/- zoom, dragging pans, a click
// places a cursor; hovering tells the time and the levels there.
class TimelineView : public QWidget {
    Q_OBJECT

public:
    static constexpr int HeaderWidth = 104;
    static constexpr int AxisHeight = 24;
    static constexpr int RowHeight = 20;
    static constexpr int BusRow = 17; // the row after the 17 lines
    // The lines in pin order: their places in the register model.
    static const std::array<std::size_t, 17>& rowLines();

    explicit TimelineView(QWidget* parent = nullptr);

    void setCapture(const PortCapture* capture) { m_capture = capture; }
    void setColors(const QColor& high, const QColor& low);

    // The visible span: its end and its scale. Nothing is ever drawn past now.
    std::int64_t viewEnd() const { return m_viewEnd; }
    double nanosecondsPerPixel() const { return m_nanosecondsPerPixel; }
    std::int64_t viewStart() const;
    void setView(std::int64_t end, double nanosecondsPerPixel);
    void setNow(std::int64_t now);
    std::int64_t now() const { return m_now; }
    // Zooms by the factor (above 1: closer) keeping the time under x in place.
    void zoomBy(double factor, int x);
    void zoomToFit();

    int tracesWidth() const { return std::max(1, width() - HeaderWidth); }
    std::int64_t timeAt(int x) const;
    int xAt(std::int64_t time) const;
    // The row under y (0-16 lines in pin order, 17 the bus, then the decoder tracks), or -1.
    int rowAt(int y) const;

    std::optional<std::int64_t> cursor(int which) const { return m_cursors[static_cast<std::size_t>(which)]; }
    void setCursor(int which, std::optional<std::int64_t> time);
    int activeCursor() const { return m_activeCursor; }
    void setActiveCursor(int which);
    // The line whose edges the cursor keys jump to: its place in the register model.
    std::size_t selectedLine() const { return m_selectedLine; }
    void selectLine(std::size_t line);
    // Moves the active cursor to the next (direction 1) or previous (-1) edge of the selected line.
    void jumpToEdge(int direction);

    const Trigger& trigger() const { return m_trigger; }
    void setTrigger(const Trigger& trigger);
    void setTriggerMarks(std::vector<std::int64_t> marks);

    // What the tooltip at a time says: the time and every line's level then.
    QString levelsText(std::int64_t time) const;

    // A decoder's annotation row, drawn under the bus: its title and its
    // annotations, which its owner keeps while they are shown.
    struct DecoderTrack {
        QString title;
        const AnnotationIndex::Row* row;
        const AnnotationIndex* index = nullptr; // its stack's, for where the decoders started again
    };
    void setDecoderTracks(std::vector<DecoderTrack> tracks);
    const std::vector<DecoderTrack>& decoderTracks() const { return m_tracks; }
    // The track whose annotations the cursor keys jump to instead of a line's edges; -1 none.
    int selectedTrack() const { return m_selectedTrack; }
    void selectTrack(int track);
    // Moves the active cursor to the start of the next (1) or previous (-1) annotation of the selected track.
    void jumpToAnnotation(int direction);
    // What the tooltip says over a track: the whole text of the annotation there, and its span.
    QString annotationText(int track, std::int64_t time) const;

signals:
    // The user panned: the view left the newest changes.
    void viewMoved();
    // The user zoomed; a view that follows the newest changes goes on following.
    void viewScaled();
    void cursorsChanged();
    void triggerChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Tab switches the cursors here, not the focus.
    bool focusNextPrevChild(bool) override { return false; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    int rowTop(int row) const { return AxisHeight + row * RowHeight; }
    int rowCount() const { return BusRow + 1 + static_cast<int>(m_tracks.size()); }
    // Over a line: the levels there; over a decoder track: its annotation there.
    QString tooltipAt(QPoint at) const;
    // Puts the active cursor there and brings it into view, keeping the scale.
    void placeActiveCursor(std::int64_t time);
    void paintTracks(QPainter& painter);
    void paintTrack(QPainter& painter, const DecoderTrack& track, int top);
    // The tick lines across the rows, or the axis with its labels.
    void paintAxis(QPainter& painter, bool grid);
    void paintHeaders(QPainter& painter);
    void paintTraces(QPainter& painter);
    void paintBus(QPainter& painter, const struct ColumnLevels& columns);
    std::vector<ChangeRing::Blind> blindInView() const;
    void paintBlindBehind(QPainter& painter, const std::vector<ChangeRing::Blind>& blind);
    void paintBlindOver(QPainter& painter, const std::vector<ChangeRing::Blind>& blind);
    void fillBlind(QPainter& painter, int left, int right, bool blackedOut);
    void paintMarks(QPainter& painter);
    void cycleCondition(std::size_t line, int step);

    const PortCapture* m_capture = nullptr;
    QColor m_high{255, 0, 0};
    QColor m_low{0, 255, 0};
    std::int64_t m_viewEnd = 0;
    double m_nanosecondsPerPixel = 1000;
    std::int64_t m_now = 0;
    std::array<std::optional<std::int64_t>, 2> m_cursors;
    int m_activeCursor = 0;
    std::size_t m_selectedLine = 0;
    Trigger m_trigger;
    std::vector<std::int64_t> m_triggerMarks;
    std::vector<DecoderTrack> m_tracks;
    int m_selectedTrack = -1;
    // A press on the traces: a click places a cursor, a drag pans.
    std::optional<QPoint> m_pressedAt;
    std::int64_t m_pressedViewEnd = 0;
    bool m_dragging = false;
};
