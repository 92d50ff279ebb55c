// The "Statistics" tab: the report of the open network, one text area.
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/qt/studio_main.h"

namespace studio {

QWidget* TForm1::BuildStatisticsPage() {
  auto* page = new QWidget;
  page->setObjectName("TabStatistics");
  auto* column = new QVBoxLayout(page);
  StatisticsMemo = new QPlainTextEdit(page);
  StatisticsMemo->setObjectName("StatisticsMemo");
  StatisticsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  column->addWidget(StatisticsMemo);
  return page;
}

}  // namespace studio
