#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

// A flat panel with a one-pixel bevel and a centred caption: the cells of the
// register grid and of the bit-setting window. Carries an integer tag.
class CellPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(int tag READ tag WRITE setTag)

public:
    enum class Bevel { Lowered, Raised };

    explicit CellPanel(QWidget* parent = nullptr, Bevel bevel = Bevel::Lowered);

    const QString& caption() const { return m_caption; }
    // Assigns the caption only when it differs, so an unchanged cell is not repainted.
    void setCaption(const QString& caption);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // Background and text colour (the grid's navy headers).
    void setColors(const QColor& background, const QColor& text);

signals:
    void clicked(CellPanel* cell);
    void contextMenuRequested(CellPanel* cell, const QPoint& globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QString m_caption;
    int m_tag = 0;
    bool m_leftPressed = false;
};
