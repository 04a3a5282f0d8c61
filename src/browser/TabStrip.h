// The strip of tabs above the pages. It draws nothing and decides nothing itself: painting and
// the mouse are handed to the installed handlers (the tab list's), with coordinates of the strip.
#pragma once

#include <QRect>
#include <QString>
#include <QTabBar>
#include <functional>

namespace velm {

// Right and bottom edges as the drawing rules count them: one past the last pixel.
inline int RectRight(const QRect& r) {
  return r.x() + r.width();
}
inline int RectBottom(const QRect& r) {
  return r.y() + r.height();
}

// The close zone of a tab: R.right - 19 < x < R.right - 2 and R.top + 2 < y < R.bottom - 4.
bool InCloseZone(const QRect& tabRect, int x, int y);
// Where the close picture's top left corner goes.
QPoint ClosePicturePosition(const QRect& tabRect);

class TTabStrip : public QTabBar {
  Q_OBJECT
 public:
  explicit TTabStrip(QWidget* parent = nullptr);

  std::function<void(QPainter&, int index, const QRect& rect, bool active)> OnDrawTab;
  std::function<void(int x, int y)> OnMouseMove;
  std::function<void()> OnMouseLeave;
  std::function<void(int button, int x, int y)> OnMouseDown;
  std::function<void(int button, int x, int y)> OnMouseUp;

  // The hint shown when the mouse rests on the strip.
  bool ShowingHints() const { return fShowHints; }
  QString Hint() const { return fHint; }
  void SetHint(const QString& text);
  void HideHint();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  bool fShowHints = false;
  QString fHint;
};

}  // namespace velm
