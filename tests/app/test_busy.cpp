// Long operations: progress keeps the window painted but takes no input, so
// nothing runs nested inside them.
#include <QCheckBox>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/qt/studio_busy.h"
#include "app/qt/studio_qtports.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;

namespace {

class BusyTest : public StudioTest {
protected:
  // A click on a check box and a close, posted as the window system would
  // deliver them while an operation runs.
  static void PostClickAndClose(TForm1& Form) {
    QWidget* box = Form.cbExportTurns;
    const QPoint at(box->height() / 2, box->height() / 2);
    const QPoint global = box->mapToGlobal(at);
    QCoreApplication::postEvent(
        box, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        box, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    QMetaObject::invokeMethod(&Form, &QWidget::close, Qt::QueuedConnection);
  }
};

}  // namespace

TEST_F(BusyTest, ProgressRunsPendingMessagesButNoCommand) {
  struct Case {
    std::string name;
    bool busy;  // the events run inside DoProgress, else in a plain loop
  };
  for (const Case& c : {Case{"plain loop: the click and the close act", false},
                        Case{"inside progress: both dropped, not replayed", true}}) {
    auto form = NewForm();
    const bool before = form->cbExportTurns->isChecked();
    PostClickAndClose(*form);
    bool cancel = false;
    if (c.busy) {
      form->DoProgress(nullptr, 40, cancel);
      form->DoProgress(nullptr, 70, cancel);
      EXPECT_EQ(form->ProgressBar1->value(), 70) << c.name;
      EXPECT_FALSE(cancel) << c.name;
      EXPECT_FALSE(BusyGuard::Active(*form)) << c.name;
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(form->cbExportTurns->isChecked(), c.busy ? before : !before) << c.name;
    EXPECT_EQ(form->isVisible(), c.busy) << c.name;
    EXPECT_TRUE(dialogs.Messages.empty()) << c.name;
  }
}

TEST_F(BusyTest, GuardsNestAndShowTheWaitCursor) {
  auto form = NewForm();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  {
    BusyGuard outer(*form);
    {
      BusyGuard inner(*form);
      bool cancel = false;
      form->DoProgress(nullptr, 10, cancel);
    }
    EXPECT_TRUE(BusyGuard::Active(*form));
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // A close of the window system while busy is refused.
    EXPECT_FALSE(form->close());
  }
  EXPECT_FALSE(BusyGuard::Active(*form));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(form->close());
}

// The operation's own questions still take their answers.
TEST_F(BusyTest, DialogsOfTheOperationStillWork) {
  auto form = NewForm();
  QtDialogs real(form.get());
  BusyGuard busy(*form);
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
  });
  EXPECT_FALSE(real.question("Go on?"));
}
