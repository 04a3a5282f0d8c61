#include "browser/TabStrip.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace velm {

bool InCloseZone(const QRect& r, int x, int y) {
  return RectRight(r) - 19 < x && x < RectRight(r) - 2 && r.y() + 2 < y && y < RectBottom(r) - 4;
}

QPoint ClosePicturePosition(const QRect& r) {
  return QPoint(RectRight(r) - 17, r.y() + (r.height() - 17) / 2);
}

TTabStrip::TTabStrip(QWidget* parent) : QTabBar(parent) {
  setMouseTracking(true);
  setExpanding(false);
  setDrawBase(false);
}

void TTabStrip::SetHint(const QString& text) {
  fHint = text;
  fShowHints = true;
}

void TTabStrip::HideHint() {
  fShowHints = false;
  fHint.clear();
  QToolTip::hideText();
}

bool TTabStrip::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    if (fShowHints && !fHint.isEmpty())
      QToolTip::showText(help->globalPos(), fHint, this);
    else
      QToolTip::hideText();
    return true;
  }
  return QTabBar::event(event);
}

void TTabStrip::paintEvent(QPaintEvent* event) {
  if (!OnDrawTab) {
    QTabBar::paintEvent(event);
    return;
  }
  QPainter painter(this);
  for (int i = 0; i < count(); ++i) {
    if (!isTabVisible(i)) continue;
    OnDrawTab(painter, i, tabRect(i), i == currentIndex());
  }
}

void TTabStrip::mouseMoveEvent(QMouseEvent* event) {
  QTabBar::mouseMoveEvent(event);
  QPoint p = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(p.x(), p.y());
}

void TTabStrip::mousePressEvent(QMouseEvent* event) {
  QTabBar::mousePressEvent(event);
  QPoint p = event->position().toPoint();
  event->accept();
  if (OnMouseDown) OnMouseDown(event->button(), p.x(), p.y());
}

void TTabStrip::mouseReleaseEvent(QMouseEvent* event) {
  QTabBar::mouseReleaseEvent(event);
  QPoint p = event->position().toPoint();
  event->accept();
  if (OnMouseUp) OnMouseUp(event->button(), p.x(), p.y());
}

void TTabStrip::leaveEvent(QEvent* event) {
  QTabBar::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave();
}

}  // namespace velm
