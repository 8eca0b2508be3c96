#pragma once
// Anchoring of absolutely placed controls: a control anchored to the right keeps its distance to
// its parent's right edge; anchored left and right it stretches with the parent.

#include <QObject>
#include <QRect>
#include <vector>

class QWidget;

class Anchors : public QObject {
public:
    enum Edge { Left = 1, Right = 2 };

    // designWidth is the parent's width for which the controls' geometries were laid out.
    Anchors(QWidget* parent, int designWidth);
    // Records the control's current geometry as its design geometry.
    void Add(QWidget* control, int edges);
    // Replaces a control's design geometry (for a label that sized itself to a new text).
    void SetDesign(QWidget* control, const QRect& design);
    QRect Design(QWidget* control) const;
    void Apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item {
        QWidget* control;
        QRect design;
        int edges;
    };
    QWidget* parent_;
    int designWidth_;
    std::vector<Item> items_;
};
