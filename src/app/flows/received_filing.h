#pragma once
// How receive mode files faxes: a record in the received table for each fax in the "receive"
// folder, the journal ("Receiving.tmp") that names the file of the call in progress until that
// file has its record, and the settling of a file that a call or a run left without one.

#include <QString>

namespace qv::app {

class TFaxStore;

class TReceivedFiling {
 public:
  // dataDir ends in "/".
  TReceivedFiling(TFaxStore& store, const QString& dataDir);

  // The file the journal names: a call that has not ended with a record. Empty when none.
  QString JournalName() const;
  // The call in progress receives into this file (its name is kept, not the folder).
  void JournalBegin(const QString& path);
  void JournalEnd();

  // Appends the record of a received fax (now as its date and time). A page count the field
  // cannot hold is kept in the notes. Ends the journal; false when the record cannot be written.
  bool AppendRecord(const QString& fileName, const QString& from, int pages, const QString& notes);
  // Settles a received file that may lack its record: its complete pages get a record (with the
  // note and the page count in its notes), a file without one is removed, and the journal ends
  // once the file has its record or is gone.
  void Settle(const QString& fileName, const QString& note);
  // Puts a note on the received fax of that file, unless the user has notes there.
  void NoteOnRecord(const QString& fileName, const QString& note);
  // The pages of a QVF file by its header; -1 when it cannot be read.
  static int PageCount(const QString& path);

 private:
  QString JournalPath() const;

  TFaxStore& store_;
  QString dataDir_;
};

}  // namespace qv::app
