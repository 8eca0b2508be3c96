#include "platform/Anchors.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

Anchors::Anchors(QWidget* parent, int designWidth)
    : QObject(parent), parent_(parent), designWidth_(designWidth)
{
    parent->installEventFilter(this);
}

void Anchors::Add(QWidget* control, int edges)
{
    items_.push_back({control, control->geometry(), edges});
}

void Anchors::SetDesign(QWidget* control, const QRect& design)
{
    for (Item& item : items_)
        if (item.control == control) item.design = design;
    Apply();
}

QRect Anchors::Design(QWidget* control) const
{
    for (const Item& item : items_)
        if (item.control == control) return item.design;
    return control->geometry();
}

void Anchors::Apply()
{
    const int grow = parent_->width() - designWidth_;
    for (const Item& item : items_) {
        QRect r = item.design;
        if ((item.edges & Right) && (item.edges & Left))
            r.setWidth(item.design.width() + grow);
        else if (item.edges & Right)
            r.moveLeft(item.design.left() + grow);
        item.control->setGeometry(r);
    }
}

bool Anchors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent_ && event->type() == QEvent::Resize) Apply();
    return QObject::eventFilter(watched, event);
}
