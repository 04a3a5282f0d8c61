#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>

#include "TabListFixture.h"

namespace velm::test {
namespace {

class TabStrip : public TabListFixture {
 protected:
  TabStrip() {
    OpenTabs(3);
    Fake(0)->Complete(u"http://game.example/", u"Главная");
    Fake(1)->Complete(u"http://game.example/forum", u"Форум|Тема");
    Fake(2)->Complete(u"http://game.example/info", u"Инфо");
    Env.Window.show();
    QApplication::processEvents();
  }
  TTabStrip* Strip() const { return Env.PageControl->Strip(); }
  QRect Rect(int i) const { return Strip()->tabRect(i); }
  QPoint Middle(int i) const { return Rect(i).center(); }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton) {
    Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button)
                                                                : Qt::MouseButtons(Qt::NoButton);
    QMouseEvent event(type, QPointF(at), Strip()->mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(Strip(), &event);
  }
  void Move(QPoint at) { Mouse(QEvent::MouseMove, at); }
  void Click(QPoint at, Qt::MouseButton button) {
    Mouse(QEvent::MouseButtonPress, at, button);
    Mouse(QEvent::MouseButtonRelease, at, button);
  }
  QPoint CloseZone(int i) const {
    return QPoint(RectRight(Rect(i)) - 10, Rect(i).y() + Rect(i).height() / 2);
  }
};

TEST_F(TabStrip, CloseZoneEdges) {
  const QRect r = Rect(1);
  ASSERT_GT(r.height(), 8);
  const int y = r.y() + r.height() / 2;
  struct Case {
    int X;
    int Y;
    bool OnClose;
  };
  const Case cases[] = {
      {RectRight(r) - 19, y, false},
      {RectRight(r) - 18, y, true},
      {RectRight(r) - 3, y, true},
      {RectRight(r) - 2, y, false},
      {RectRight(r) - 10, r.y() + 2, false},
      {RectRight(r) - 10, r.y() + 3, true},
      {RectRight(r) - 10, RectBottom(r) - 5, true},
      {RectRight(r) - 10, RectBottom(r) - 4, false},
  };
  for (const Case& c : cases) {
    Move(QPoint(c.X, c.Y));
    EXPECT_EQ(List->HoverIndex, 1) << c.X - RectRight(r) << " " << c.Y - r.y();
    EXPECT_EQ(List->HoverOnClose, c.OnClose) << c.X - RectRight(r) << " " << c.Y - r.y();
  }
  // The first tab has a zone too, though no button is drawn there.
  Move(CloseZone(0));
  EXPECT_EQ(List->HoverIndex, 0);
  EXPECT_TRUE(List->HoverOnClose);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(Strip(), &leave);
  EXPECT_EQ(List->HoverIndex, -1);
  EXPECT_FALSE(List->HoverOnClose);
}

TEST_F(TabStrip, DrawsButtonFacesCaptionRoomAndTheLitCloseButton) {
  auto pixel = [&](QPoint at) { return Strip()->grab().toImage().pixelColor(at); };
  const QPalette& palette = Env.PageControl->palette();
  const QRect first = Rect(0);
  const QRect active = Rect(2);
  const QPoint button1 = ClosePicturePosition(Rect(1)) + QPoint(8, 8);
  // The active tab is lit; the others have the button face.
  EXPECT_EQ(pixel(QPoint(active.x() + 1, active.y() + 1)), palette.color(QPalette::Light));
  EXPECT_EQ(pixel(QPoint(first.x() + 1, first.y() + 1)), palette.color(QPalette::Button));
  // The first tab has no close picture; the others the dark one, lit under the mouse.
  EXPECT_EQ(pixel(ClosePicturePosition(first) + QPoint(8, 8)), palette.color(QPalette::Button));
  EXPECT_EQ(pixel(button1), QColor(Qt::blue));
  Move(CloseZone(1));
  EXPECT_EQ(pixel(button1), QColor(Qt::red));
  Move(Middle(1));
  EXPECT_EQ(pixel(button1), QColor(Qt::blue));
}

TEST_F(TabStrip, ReleasingAnyButtonOverTheCloseButtonClosesThatTab) {
  const int32_t third = List->TabAt(2)->Id;
  Click(CloseZone(1), Qt::RightButton);
  List->TabMenu->hide();
  Flush();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(List->TabAt(1)->Id, third);
  Click(CloseZone(1), Qt::LeftButton);
  Flush();
  EXPECT_EQ(List->Count(), 1);
  // The first tab's zone closes nothing.
  Click(CloseZone(0), Qt::LeftButton);
  EXPECT_EQ(List->Count(), 1);
  EXPECT_EQ(List->CurrentTab, List->TabAt(0));
}

TEST_F(TabStrip, HintShowsTheTitleWithSlashesAndMovesWithTheMouse) {
  Move(Middle(1));
  EXPECT_TRUE(Strip()->ShowingHints());
  EXPECT_EQ(Strip()->Hint(), QString::fromUtf8("Форум/Тема"));
  EXPECT_EQ(Env.PageControl->tabText(1), QString::fromUtf8("Форум|Тема     "));
  Move(Middle(2));
  EXPECT_EQ(Strip()->Hint(), QString::fromUtf8("Инфо"));
  Move(QPoint(RectRight(Rect(2)) + 40, Rect(2).center().y()));
  EXPECT_FALSE(Strip()->ShowingHints());
}

TEST_F(TabStrip, RightClickOnAHiddenTabShowsItAndTheMenuActsOnIt) {
  Env.PageControl->setCurrentIndex(0);
  Mouse(QEvent::MouseButtonPress, Middle(1), Qt::RightButton);
  EXPECT_EQ(Visible(), 1);
  EXPECT_EQ(List->CurrentTab, List->TabAt(1));
  EXPECT_TRUE(List->miClose->isVisible());
  List->miRefresh->trigger();
  EXPECT_EQ(Fake(1)->RefreshCount, 1);
  List->miCopyLink->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://game.example/forum"));
  List->miClose->trigger();
  Flush();
  EXPECT_EQ(List->Count(), 2);
  List->TabMenu->hide();

  // On the first tab the close item is hidden.
  Mouse(QEvent::MouseButtonPress, Middle(0), Qt::RightButton);
  EXPECT_FALSE(List->miClose->isVisible());
  EXPECT_EQ(List->miClose->text(), QString::fromUtf8("Закрыть страницу\tCtrl+F4"));
  List->TabMenu->hide();
}

}  // namespace
}  // namespace velm::test
