#pragma once
// Print jobs become outgoing faxes. The fax printer's backend leaves each job in the user's spool
// folder (printer/print_job.h); while the program runs this flow watches that folder (and looks
// once when it starts) and turns every complete job into a new outgoing record: the printed
// pages as the document (at the resolution they are sent at), recipient and number from the
// job's options, the subject from its title, and the cover sheet of the first template. What
// the user does with the record (check it in the editor, send it) is the window's business.
//
// A job is never lost and never doubled. Before it stores the record the flow writes a claim
// into the job naming the record number the record will get; the job's folder goes only after
// the record is stored. A job found with a claim whose record exists (with the claim's number
// and subject) was stored before a crash and is only removed; otherwise it is taken again.

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <set>
#include <string>

class QFileSystemWatcher;

namespace qv::printer {
struct TPrintJob;
}

namespace qv::app {

class TFaxStore;

// What became of a job, for the window to show.
struct TTakenJob {
  int recNo = 0;          // the outgoing record that holds it
  QString title;
  QString recipient;
  QString phone;
  int pages = 0;
};

class TPrintJobs : public QObject {
  Q_OBJECT
 public:
  // userFolder: the user's spool folder (it may not exist yet; the backend makes it).
  TPrintJobs(TFaxStore& store, const QString& userFolder, QObject* parent = nullptr);
  ~TPrintJobs() override;

  // Whether jobs may be taken now (the window says no while a form works on the tables); a job
  // that waits is taken at the next look after it says yes again.
  void SetReady(std::function<bool()> ready) { ready_ = std::move(ready); }
  // Watches the folder and looks at once.
  void Start();
  // Looks at the folder now: takes every complete job. The number taken.
  int Scan();
  QString UserFolder() const { return userFolder_; }

 signals:
  void JobTaken(const qv::app::TTakenJob& job);
  // A job that cannot be read or made into a fax; it stays in the spool untouched, and is
  // reported once per run.
  void JobRefused(const QString& folder, const QString& why);

 private:
  bool Take(const std::string& folder);
  bool StoredBefore(const std::string& folder);
  void Watch();

  TFaxStore& store_;
  QString userFolder_;
  std::function<bool()> ready_;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer retry_;
  QTimer lookAgain_;
  std::set<std::string> refused_;
};

}  // namespace qv::app

Q_DECLARE_METATYPE(qv::app::TTakenJob)
