#include "app/forms/date_selector.h"

#include <QCalendarWidget>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::app {

QString LongDateText(const QDate& date) {
  return QLocale().toString(date, QStringLiteral("dddd, MMMM d, yyyy"));
}

TDateSelector::TDateSelector(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DateSelector"));
  setWindowTitle(QStringLiteral("Select Date"));

  Calendar_ = new QCalendarWidget(this);
  Calendar_->setObjectName(QStringLiteral("Calendar1"));
  Calendar_->setAccessibleName(QStringLiteral("Calendar"));
  Calendar_->setGridVisible(true);
  Calendar_->setSelectedDate(QDate::currentDate());

  Panel1_ = new QLabel(this);
  Panel1_->setObjectName(QStringLiteral("Panel1"));
  Panel1_->setAlignment(Qt::AlignCenter);
  Panel1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1_->setAccessibleName(QStringLiteral("Selected date"));
  QFont bold = Panel1_->font();
  bold.setBold(true);
  Panel1_->setFont(bold);

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* yearBack = button("YearMinus", QStringLiteral("Year-"));
  QPushButton* monthBack = button("MonthMinus", QStringLiteral("Month-"));
  QPushButton* today = button("TodayButton", QStringLiteral("Today"));
  QPushButton* monthOn = button("MonthPlus", QStringLiteral("Month +"));
  QPushButton* yearOn = button("YearPlus", QStringLiteral("Year+"));
  QPushButton* ok = button("OkButton", QStringLiteral("Ok"));
  QPushButton* cancel = button("CancelButton", QStringLiteral("Cancel"));
  ok->setDefault(true);
  connect(yearBack, &QPushButton::clicked, this, [this] { Move(-1, 0); });
  connect(monthBack, &QPushButton::clicked, this, [this] { Move(0, -1); });
  connect(today, &QPushButton::clicked, this, [this] { SetDate(QDate::currentDate()); });
  connect(monthOn, &QPushButton::clicked, this, [this] { Move(0, 1); });
  connect(yearOn, &QPushButton::clicked, this, [this] { Move(1, 0); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // A double click (or Enter) on a day chooses it.
  connect(Calendar_, &QCalendarWidget::activated, this, &QDialog::accept);
  connect(Calendar_, &QCalendarWidget::selectionChanged, this, &TDateSelector::UpdatePanel);

  auto* moves = new QHBoxLayout;
  for (QPushButton* b : {yearBack, monthBack, today, monthOn, yearOn}) moves->addWidget(b);
  auto* answers = new QHBoxLayout;
  answers->addStretch();
  answers->addWidget(ok);
  answers->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Panel1_);
  layout->addWidget(Calendar_, 1);
  layout->addLayout(moves);
  layout->addLayout(answers);
  UpdatePanel();
}

QDate TDateSelector::Date() const { return Calendar_->selectedDate(); }

void TDateSelector::SetDate(const QDate& date) {
  Calendar_->setSelectedDate(date);
  Calendar_->setCurrentPage(date.year(), date.month());
  UpdatePanel();
}

QString TDateSelector::PanelText() const { return Panel1_->text(); }

void TDateSelector::Move(int years, int months) {
  SetDate(Date().addYears(years).addMonths(months));
}

void TDateSelector::UpdatePanel() { Panel1_->setText(LongDateText(Date())); }

}  // namespace qv::app
