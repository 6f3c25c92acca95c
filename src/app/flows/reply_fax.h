#pragma once
// Reply and Forward: a received fax, with its marks and its pages turned as the user left them,
// becomes an ordinary outgoing fax (edited, sent, queued, deleted like any other).
//
// Attached pages, the contract between this flow, the editor, sending and deleting:
//  - The pages are a QVF file "QVAnnnnn.QVF" in the data directory, written when the reply is
//    made (WriteMarkedCopy): each received page turned and marked as the viewer shows it, at its
//    own resolution, pixel for pixel. It is never rewritten afterwards; the received fax and its
//    marks file stay as they were.
//  - The outgoing record names the file in its document memo (RTFDOC), as a field of kind
//    kFieldAttachment whose text is what the editor shows: "Attached: 2 pages of the fax from
//    <FROM> <QVA00001.QVF>". The name in angle brackets at the end is the reference. The editor
//    keeps a field whole (the caret never stands inside it, deleting takes it all), and the memo
//    goes wherever the record goes, through pack and reindex, so the table layouts stay as they
//    are: no field is added to QRV.DBF.
//  - Sending and viewing (RenderFaxRecord) render the cover sheet and any other text of the
//    document, then append the attached pages as they are; the transmitter adds its header line
//    on top of them as on any page. A reference whose file is gone or unreadable stops the
//    rendering with a message that names the file: never a fax sent without its pages.
//  - Deleting the record deletes the file, unless another record of the table still names it
//    (a clone, or a fax made for several recipients at once, shares the document). Rebuild
//    Indexes, once it has packed the table, removes the files no record names any more.

#include "app/flows/flow_observer.h"
#include "rtf/rtf_document.h"

#include <QString>

namespace qv::app {

class TFaxStore;
class TablePair;

// The attachment's name in a document ("QVA00001.QVF"); empty when it has none.
QString AttachmentName(const rtf::Document& doc);
// Takes the attachment field out of the document (a paragraph left empty by it goes too);
// returns its name, empty when there was none.
QString TakeAttachment(rtf::Document& doc);
// The text the document shows for attached pages.
QString AttachmentText(int pages, const QString& from, const QString& name);
// The attachment's file in the data directory (ending in "/"); empty for a name that is not one
// of ours (a memo is outside input: it must not lead anywhere else).
QString AttachmentPath(const QString& dataDir, const QString& name);
// Removes the attachment of the outgoing table's current record, unless another record still
// names it. Call before the record is deleted. True when there was nothing to remove or it went.
bool RemoveRecordAttachment(TFaxStore& store, const QString& dataDir);

// Removes the attachment files of the data directory that no record of the outgoing table names
// (records deleted by Fax Log Cleanup, a note taken out in the editor). Run after the table was
// packed, when a deleted record can no longer be recalled. Returns the files removed.
int RemoveUnnamedAttachments(TFaxStore& store, const QString& dataDir);

enum class ReplyKind { kReply, kForward };

// The outgoing fax a reply or forward of the received table's current record becomes: its
// fields and document, and its pages file, removed again unless Keep() was called (the record
// that names it was stored).
class TReplyFax {
 public:
  TReplyFax(TFaxStore& store, const QString& dataDir, ReplyKind kind);
  ~TReplyFax();
  TReplyFax(const TReplyFax&) = delete;
  TReplyFax& operator=(const TReplyFax&) = delete;

  // Writes the pages file from the received fax and its marks. False when the fax file is missing
  // or cannot be read, or the pages file cannot be written; the observer is told why.
  bool Prepare(TFlowObserver& observer);

  // Reply: the sender's station ID as recipient, and as number when it is one; Forward: empty.
  QString Recipient() const { return recipient_; }
  QString Number() const { return number_; }
  // "Re: " or "Fwd: " and the sender (or the time of receipt, when the sender gave no ID).
  QString Subject() const { return subject_; }
  // The document: the attachment field alone.
  const rtf::Document& Document() const { return document_; }
  QString PagesFile() const { return pagesFile_; }
  int Pages() const { return pages_; }
  void Keep() { kept_ = true; }

 private:
  TFaxStore& store_;
  QString dataDir_;
  ReplyKind kind_;
  QString recipient_, number_, subject_;
  rtf::Document document_;
  QString pagesFile_;
  int pages_ = 0;
  bool kept_ = false;
};

}  // namespace qv::app
