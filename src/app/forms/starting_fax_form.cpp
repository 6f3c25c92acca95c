#include "app/forms/starting_fax_form.h"

#include "app/store/settings.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qv::app {

namespace {
QFrame* Panel(const char* name, const QStringList& lines, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setAccessibleName(lines.join(QLatin1Char(' ')));
  auto* layout = new QVBoxLayout(panel);
  for (const QString& line : lines) {
    auto* label = new QLabel(line, panel);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
  }
  return panel;
}
}  // namespace

TStartingFaxForm::TStartingFaxForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("StartingFaxForm"));
  setWindowTitle(QStringLiteral("Starting Receive mode..."));
  ReadyPanel_ = Panel("ReadyPanel",
                      {QStringLiteral("Quorvane is in receive mode now"),
                       QStringLiteral("To end receive mode, press the STOP button"),
                       QStringLiteral("While in receive mode, sending faxes is not possible")},
                      this);
  StartingPanel_ = Panel("StartingPanel",
                         {QStringLiteral("Please wait while fax receive mode is started.....")}, this);
  okbutton_ = new QPushButton(QStringLiteral("Ok"), this);
  okbutton_->setObjectName(QStringLiteral("okbutton"));
  okbutton_->setAccessibleName(QStringLiteral("Ok"));
  DoNotShow_ = new QCheckBox(QStringLiteral("Do not show this again"), this);
  DoNotShow_->setObjectName(QStringLiteral("DoNotShow"));
  DoNotShow_->setAccessibleName(DoNotShow_->text());
  Timer1_ = new QTimer(this);
  Timer1_->setObjectName(QStringLiteral("Timer1"));
  Timer1_->setInterval(kStartingFaxFormMs);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(DoNotShow_);
  bottom->addStretch();
  bottom->addWidget(okbutton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ReadyPanel_);
  layout->addWidget(StartingPanel_);
  layout->addLayout(bottom);

  connect(okbutton_, &QPushButton::clicked, this, &QWidget::close);
  // Takes effect at once; stored when the settings are next saved.
  connect(DoNotShow_, &QCheckBox::toggled, this,
          [](bool on) { Settings().DisableReceivingFaxesNotification = on; });
  connect(Timer1_, &QTimer::timeout, this, &QWidget::hide);
  // A click anywhere on the text sends the notice away.
  for (QFrame* panel : {ReadyPanel_, StartingPanel_}) {
    panel->installEventFilter(this);
    for (QLabel* label : panel->findChildren<QLabel*>()) label->installEventFilter(this);
  }
  SetStartingLook();
}

void TStartingFaxForm::SetStartingLook() {
  StartingPanel_->show();
  ReadyPanel_->hide();
  okbutton_->hide();
  DoNotShow_->hide();
  adjustSize();
}

void TStartingFaxForm::SetReadyLook() {
  okbutton_->show();
  DoNotShow_->show();
  ReadyPanel_->show();
  StartingPanel_->hide();
  adjustSize();
}

bool TStartingFaxForm::ReadyLook() const { return !ReadyPanel_->isHidden(); }

void TStartingFaxForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Timer1_->start();
}

void TStartingFaxForm::hideEvent(QHideEvent* event) {
  Timer1_->stop();  // however it is hidden
  QWidget::hideEvent(event);
}

bool TStartingFaxForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    hide();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qv::app
