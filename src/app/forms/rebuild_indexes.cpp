#include "app/forms/rebuild_indexes.h"

#include "app/store/fax_store.h"
#include "app/flows/message_pump.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace qv::app {

TRebuildInd::TRebuildInd(TFaxStore& store, QWidget* parent) : QDialog(parent), store_(store) {
  setObjectName(QStringLiteral("RebuildInd"));
  setWindowTitle(QStringLiteral("Rebuild Indexes"));
  auto* wait = new QLabel(QStringLiteral("Please wait..."), this);
  QFont bold = wait->font();
  bold.setBold(true);
  wait->setFont(bold);
  whatAmIDoing_ = new QLabel(this);
  whatAmIDoing_->setObjectName(QStringLiteral("WhatAmIDoing"));
  whatAmIDoing_->setMinimumWidth(whatAmIDoing_->fontMetrics().averageCharWidth() * 50);
  whatAmIDoing_->setVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(wait);
  layout->addWidget(whatAmIDoing_);
  layout->setContentsMargins(24, 18, 24, 18);
}

void TRebuildInd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The work starts once the dialog is up, and the dialog closes itself when it is done.
  if (!started_) {
    started_ = true;
    QTimer::singleShot(0, this, &TRebuildInd::Run);
  }
}

void TRebuildInd::Run() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  whatAmIDoing_->setVisible(true);
  store_.RebuildIndexes([this](const char* step) {
    steps_ << QString::fromLatin1(step);
    whatAmIDoing_->setText(QString::fromLatin1(step));
    PumpMessages();
  });
  ran_ = true;
  QApplication::restoreOverrideCursor();
  QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
}

}  // namespace qv::app
