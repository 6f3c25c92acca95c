#pragma once
// "Rebuild Indexes": packs every table and makes its index tags afresh.

#include <QDialog>

class QLabel;

namespace qv::app {

class TFaxStore;

class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  TRebuildInd(TFaxStore& store, QWidget* parent = nullptr);
  bool Ran() const { return ran_; }
  // The label texts in the order they were shown.
  const QStringList& Steps() const { return steps_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Run();

  TFaxStore& store_;
  QLabel* whatAmIDoing_;
  bool started_ = false;
  bool ran_ = false;
  QStringList steps_;
};

}  // namespace qv::app
