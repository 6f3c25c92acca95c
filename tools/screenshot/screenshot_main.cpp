// Renders the main window over a small sample data directory into PNG files, for the docs:
//   quorvane_screenshot <data dir> <output dir>
// The data directory is filled with sample faxes when it holds no tables yet.

#include "app/forms/check_fax_class_form.h"
#include "app/forms/configuration_info.h"
#include "app/contacts/contact_import.h"
#include "app/contacts/contact_import_dialog.h"
#include "app/contacts/cover_browse.h"
#include "app/contacts/cover_editor.h"
#include "app/contacts/phone_book.h"
#include "app/contacts/phone_book_editor.h"
#include "app/editor/rich_edit_memo.h"
#include "app/forms/dialog_service.h"
#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/forms/fax_log_cleanup.h"
#include "app/forms/find_modem_form.h"
#include "app/forms/help_browser.h"
#include "app/forms/init_string_helper_form.h"
#include "app/flows/modem_routines.h"
#include "app/forms/internet_line_panel.h"
#include "app/forms/preferences.h"
#include "app/forms/print_job_notice.h"
#include "app/flows/print_jobs.h"
#include "app/flows/reply_fax.h"
#include "app/forms/send_fax_form.h"
#include "app/forms/show_error_form.h"
#include "comm/com_port.h"
#include "comm/port_names.h"
#include "fax/send_fax.h"
#include "app/store/fax_store.h"
#include "app/flows/outbox.h"
#include "app/forms/main_screen.h"
#include "app/forms/quick_setup.h"
#include "app/forms/splash_form.h"
#include "app/forms/starting_fax_form.h"
#include "app/flows/message_pump.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"
#include "core/message_loop.h"
#include "rtf/rtf_reader.h"
#include "ui/document_fax.h"
#include "ui/fax_status_window.h"
#include "app/forms/fax_viewer_form.h"
#include "app/forms/pre_print_form.h"
#include "ui/fax_printer.h"
#include "ui/fax_printer_status.h"
#include "ui/fax_viewer.h"
#include "ui/signature_picture.h"
#include "faximage/signature_store.h"
#include <QMouseEvent>
#include "ui/rich_edit.h"
#include <QCheckBox>
#include <QSpinBox>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>

#include <cstdio>

namespace {

using qv::app::TableId;
using qv::app::TablePair;

// Answers nothing: the sample directory is set up so that no question comes.
class SilentDialogs : public qv::app::DialogService {
 public:
  void Information(QWidget*, const QString& text, const QString&) override {
    std::fprintf(stderr, "information: %s\n", qPrintable(text));
  }
  bool Question(QWidget*, const QString&, const QString& text, bool) override {
    std::fprintf(stderr, "question: %s\n", qPrintable(text));
    return false;
  }
  Choice YesNoCancel(QWidget*, const QString&, const QString& text) override {
    std::fprintf(stderr, "question: %s\n", qPrintable(text));
    return Choice::Cancel;
  }
  void Error(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  int Exec(QDialog* dialog) override {
    return dialog->objectName() == QStringLiteral("RebuildInd") ? dialog->exec() : QDialog::Rejected;
  }
  void Beep() override {}
};

struct Outgoing {
  const char* subject;
  bool sent;
  const char* date;
  const char* time;
  const char* recipient;
  const char* phone;
  int pages;
  const char* result;
};

struct Incoming {
  const char* date;
  const char* time;
  const char* from;
  int pages;
  const char* file;
  const char* notes;
};

bool FillSample(const std::string& dataDir) {
  qv::app::TFaxStore store(dataDir);
  if (!store.OpenFaxDBF() || !store.OpenRecFaxDBF()) return false;
  const Outgoing outgoing[] = {
      {"Quarterly figures", true, "20261204", "09:12", "Harbour Supplies Ltd", "+44 20 7946 0321", 3,
       "Fax sent successfully"},
      {"Meeting agenda for Monday", true, "20261203", "16:40", "Dr. Lena Ortiz", "555-0147", 1,
       "Fax sent successfully"},
      {"Signed order form", false, "", "", "Northwind Traders", "1-800-555-0199", 0,
       "Line busy - will retry"},
      {"Price list 2027", false, "", "", "Blue Lake Bakery", "555-0110", 0, ""},
  };
  TablePair& fax = store.Pair(TableId::Fax);
  for (const Outgoing& o : outgoing) {
    fax.Append();
    fax.SetFieldString("SUBJECT", o.subject);
    fax.SetFieldBool("SENT", o.sent);
    if (*o.date) fax.SetFieldDate("DATESENT", o.date);
    fax.SetFieldString("TIMESENT", o.time);
    fax.SetFieldString("RECIPIENT", o.recipient);
    fax.SetFieldString("PHONE", o.phone);
    fax.SetFieldInt("PAGES", o.pages);
    fax.SetFieldString("LASTRESULT", o.result);
    if (!fax.Post()) return false;
  }
  const Incoming incoming[] = {
      {"20261205", "08:03", "+1 212 555 0187", 2, "FAX00003.QVF", "Invoice 4471"},
      {"20261202", "14:27", "ACME CORP", 1, "FAX00002.QVF", ""},
      {"20261128", "11:55", "555 0123", 4, "FAX00001.QVF", "Contract draft - reply by Friday"},
  };
  TablePair& rec = store.Pair(TableId::Rec);
  QDir().mkpath(QString::fromStdString(dataDir) + QStringLiteral("receive"));
  for (const Incoming& i : incoming) {
    rec.Append();
    rec.SetFieldDate("DATEREC", i.date);
    rec.SetFieldString("TIMEREC", i.time);
    rec.SetFieldString("FROM", i.from);
    rec.SetFieldInt("PAGES", i.pages);
    rec.SetFieldString("FAXFILE", i.file);
    rec.SetFieldString("NOTES", i.notes);
    if (!rec.Post()) return false;
  }
  store.RebuildIndexes(nullptr);
  qv::core::TIniFile ini(qv::app::SettingsFileName(dataDir));
  ini.WriteInteger("Modem", "ComPort", 0);
  return true;
}

// The fax editor with a sample fax, one shot per page.
bool ShootEditor(QWidget* window, const QString& dataDir, const QString& outDir) {
  qv::app::TFaxEditor editor(dataDir, window);
  editor.ApplyDefaultFont(qv::app::Settings());
  editor.Recipient()->setText(QStringLiteral("Harbour Supplies Ltd"));
  editor.FaxNumber()->setText(QStringLiteral("+44 20 7946 0321"));
  editor.Subject()->setText(QStringLiteral("Quarterly figures"));

  qv::ui::TQvRichEdit* cover = editor.RTCover();
  QTextCursor c = cover->TextEdit()->textCursor();
  QTextCharFormat title;
  title.setFontPointSize(28);
  title.setFontWeight(QFont::Bold);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  c.setBlockFormat(centred);
  c.insertText(QStringLiteral("FAX"), title);
  QTextCharFormat body;
  body.setFontPointSize(12);
  QTextBlockFormat left;
  left.setTopMargin(18);
  const std::pair<const char*, int> lines[] = {{"To: ", qv::app::kFieldRecipient},
                                               {"Fax: ", qv::app::kFieldFaxNumber},
                                               {"Subject: ", qv::app::kFieldSubject},
                                               {"Date: ", qv::app::kFieldDate}};
  const char* placeholders[] = {"", "[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"};
  for (const auto& [label, kind] : lines) {
    c.insertBlock(left, body);
    c.insertText(QString::fromLatin1(label), body);
    cover->TextEdit()->setTextCursor(c);
    cover->InsertMergeField(kind, QString::fromLatin1(placeholders[kind]));
    c = cover->TextEdit()->textCursor();
    left.setTopMargin(0);
  }
  c.insertBlock(left, body);
  c.insertBlock(left, body);
  c.insertText(QStringLiteral("From: Quorvane demo office, fax 555 0100. Pages to follow: 2."), body);

  qv::ui::TQvRichEdit* doc = editor.RTDoc();
  QTextCursor d = doc->TextEdit()->textCursor();
  QTextCharFormat heading;
  heading.setFontPointSize(16);
  heading.setFontWeight(QFont::Bold);
  d.insertText(QStringLiteral("Quarterly figures"), heading);
  d.insertBlock(QTextBlockFormat(), body);
  d.insertText(QStringLiteral("Dear colleagues,"), body);
  d.insertBlock(QTextBlockFormat(), body);
  d.insertText(QStringLiteral("please find below the figures of the last quarter. Orders rose by "
                              "twelve per cent against the same quarter last year, and deliveries "
                              "left on time in all but three cases. The full tables follow on the "
                              "next page."),
               body);
  d.insertBlock(QTextBlockFormat(), body);
  QTextCharFormat italic = body;
  italic.setFontItalic(true);
  d.insertText(QStringLiteral("With kind regards, the accounts team"), italic);
  doc->SetCaretToStart();

  editor.show();
  editor.setGeometry(80, 40, 860, 640);
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  bool ok = editor.grab().save(outDir + QStringLiteral("editor-recipient.png"));
  editor.findChild<QToolButton*>(QStringLiteral("CoverButton"))->click();
  cover->SetZoom(80);
  editor.CoverButtonClick();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  ok = editor.grab().save(outDir + QStringLiteral("editor-cover.png")) && ok;
  editor.findChild<QToolButton*>(QStringLiteral("DocumentButton"))->click();
  doc->SetZoom(80);
  editor.DocumentButtonClick();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  ok = editor.grab().save(outDir + QStringLiteral("editor-document.png")) && ok;
  editor.hide();
  return ok;
}

// A virtual modem (qvmodem beside this program) for the modem dialogs; COM2 leads to it and the
// other ports to nothing. False when there is no qvmodem.
bool StartModem(QProcess& modem, const QString& dataDir) {
  const QString link = dataDir + QStringLiteral("modem");
  QFile::remove(link);
  modem.start(QCoreApplication::applicationDirPath() + QStringLiteral("/qvmodem"),
              {QStringLiteral("single"), QStringLiteral("--link"), link});
  if (!modem.waitForReadyRead(10000)) return false;
  qv::core::TIniFile ini(qv::app::SettingsFileName(dataDir.toStdString()));
  for (int n = 1; n <= 6; ++n)
    ini.WriteString("Ports", "COM" + std::to_string(n),
                    n == 2 ? link.toStdString() : (dataDir + QStringLiteral("none%1").arg(n)).toStdString());
  return true;
}

// The receive notice in its two looks, side by side: starting, then ready.
bool ShootStartingNotice(QWidget* window, const QString& file) {
  qv::app::TStartingFaxForm notice(window);
  notice.SetStartingLook();
  notice.show();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  const QPixmap starting = notice.grab();
  notice.SetReadyLook();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  const QPixmap ready = notice.grab();
  notice.hide();
  constexpr int kGap = 16;
  QPixmap both(starting.width() + kGap + ready.width(), std::max(starting.height(), ready.height()));
  both.fill(Qt::white);
  QPainter painter(&both);
  painter.drawPixmap(0, 0, starting);
  painter.drawPixmap(starting.width() + kGap, 0, ready);
  painter.end();
  return both.save(file);
}

// The main window in receive mode on the virtual modem of COM2, waiting for calls.
bool ShootReceiveMode(qv::app::TMainScreen& window, const QString& file) {
  qv::app::Settings().ComPort = 1;
  qv::app::Settings().DisableReceivingFaxesNotification = true;
  window.ReceiveButtonClick();
  if (!window.ReceiveMode()) return false;
  QElapsedTimer clock;
  clock.start();
  while (window.StatusText() != QStringLiteral("Waiting for incoming call") && clock.elapsed() < 10000)
    qv::app::PumpMessages();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  const bool ok = window.grab().save(file);
  window.ReceiveButtonClick();
  return ok;
}

// Shows a form, lets it settle and saves its picture.
bool Shoot(QWidget& form, const QString& file) {
  form.show();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  const bool ok = form.grab().save(file);
  form.hide();
  return ok;
}

// Waits, letting messages run, until done() or the time is up.
template <class F>
bool PumpUntil(F done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    qv::core::MessageLoop::instance().pumpPending();
  }
  return true;
}

// The Send Fax dialog, then a real send through a virtual modem pair to `qvfax receive`: the
// status window is taken in the middle of the second page, and the call is cancelled from it.
bool ShootSend(QWidget* window, const QString& dataDir, const QString& outDir) {
  const QString bin = QCoreApplication::applicationDirPath();
  const QString a = dataDir + QStringLiteral("faxA"), b = dataDir + QStringLiteral("faxB");
  QFile::remove(a);
  QFile::remove(b);
  QProcess pair;
  pair.start(bin + QStringLiteral("/qvmodem"), {QStringLiteral("pair"), QStringLiteral("--a"), a, QStringLiteral("--b"), b});
  QByteArray ready;  // one line per modem once both are up
  if (!PumpUntil([&] { ready += pair.readAll(); return ready.count('\n') >= 2; }, 10000)) return false;
  QDir().mkpath(dataDir + QStringLiteral("in"));
  QProcess receiver;
  receiver.setProcessChannelMode(QProcess::MergedChannels);
  receiver.start(bin + QStringLiteral("/qvfax"), {QStringLiteral("receive"), QStringLiteral("--device"), b, QStringLiteral("--dir"),
                                                 dataDir + QStringLiteral("in"), QStringLiteral("--once"), QStringLiteral("--class"),
                                                 QStringLiteral("1"), QStringLiteral("--station"), QStringLiteral("HARBOUR SUPPLIES")});
  QByteArray said;
  if (!PumpUntil([&] { said += receiver.readAll(); return said.contains("status 20"); }, 15000)) return false;

  qv::core::TIniFile(qv::app::SettingsFileName(dataDir.toStdString())).WriteString("Ports", "COM3", a.toStdString());
  qv::app::TSettings& s = qv::app::Settings();
  const qv::app::TSettings saved = s;
  s.ComPort = 2;
  s.FaxClass = 1;
  s.MaximumBPS = 14400;
  s.InitString = "ATX4S7=90";
  s.Name = "Ann Example";
  s.Fax = "+1 555 0199";
  s.DialPrefix = "9,";
  // Two pages of text to send.
  qv::rtf::Document doc;
  qv::rtf::ReadRtf("{\\rtf1\\ansi\\fs28 Quarterly figures\\par Please find the figures attached.\\page "
                   "Second page\\par}", doc);
  const QString file = dataDir + QStringLiteral("SAMPLE.QVF");
  qv::ui::WriteDocumentFax(doc, file.toStdString());

  bool ok = true;
  {
    qv::app::TSendSession session(dataDir);
    session.SetFaxFile(file);
    qv::app::TSendFaxForm form(session, window);
    form.SetRecipient(QStringLiteral("Harbour Supplies Ltd"));
    form.SetSubject(QStringLiteral("Quarterly figures"));
    form.SetPhoneNumber(QStringLiteral("+44 20 7946 0321"));
    form.LoadDialing();
    if (!Shoot(form, outDir + QStringLiteral("send-fax.png"))) ok = false;
    form.show();
    bool ended = false;
    QObject::connect(&form, &qv::app::TSendFaxForm::attemptEnded, &form, [&] { ended = true; });
    form.SendFaxButtonClick();
    qv::fax::TQvSendFax& fax = form.SendFax();
    auto display = [&] { return form.FaxStatus().Display(); };
    const bool mid = PumpUntil([&] {
      return ended || (display() && display()->isVisible() && fax.CurrentPageShown() == 2 &&
                       fax.PageLength() > 0 && fax.BytesTransferred() * 3 > fax.PageLength());
    }, 90000);
    if (mid && !ended) {
      // The window's own clock has brought the values up to date.
      QElapsedTimer settle;
      settle.start();
      PumpUntil([&] { return settle.elapsed() > 1500; }, 3000);
      if (!display()->grab().save(outDir + QStringLiteral("fax-status.png"))) ok = false;
      display()->CancelButton()->click();
    } else {
      std::fprintf(stderr, "the send did not reach its second page: fax status not rendered\n");
      ok = false;
    }
    PumpUntil([&] { return ended; }, 30000);
    form.hide();
  }
  s = saved;
  QFile::remove(file);
  receiver.terminate();
  receiver.waitForFinished(5000);
  pair.terminate();
  pair.waitForFinished(5000);
  return ok;
}

// A received fax of two pages of a letter, for the viewer's pictures.
bool WriteSampleFax(const QString& file) {
  qv::rtf::Document doc;
  auto para = [&](const std::string& text, int halfPoints, bool bold, bool breakBefore = false) {
    qv::rtf::Paragraph p;
    p.format.spaceAfter = 160;
    p.format.pageBreakBefore = breakBefore;
    qv::rtf::Run r;
    r.text = text;
    r.format.halfPoints = halfPoints;
    r.format.bold = bold;
    p.runs.push_back(r);
    doc.paragraphs.push_back(p);
  };
  para("Harbour Supplies Ltd", 40, true);
  para("Invoice 4471", 28, true);
  for (int i = 0; i < 6; ++i)
    para("Please find attached the signed purchase order for the spring delivery. Our accounts "
         "department will settle the invoice within thirty days of receipt. The warehouse closes "
         "early on Friday, so plan the pickup before noon.", 22, false);
  para("Page two: terms of delivery", 28, true, true);
  for (int i = 0; i < 4; ++i)
    para("Goods remain our property until paid in full. Kindly return the enclosed form with "
         "your bank details and a contact number.", 22, false);
  qv::ui::DocumentFaxOptions options;
  options.stationId = "+1 212 555 0187";
  return qv::ui::WriteDocumentFax(doc, file.toStdString(), options) == 0;
}

// The fax viewer at two zoom levels and turned, the print options and the print status window.
bool ShootViewer(QWidget* window, const QString& dataDir, const QString& outDir) {
  const QString fax = dataDir + QStringLiteral("receive/FAX00003.QVF");
  if (!QFileInfo::exists(fax) && !WriteSampleFax(fax)) return false;
  qv::app::TFaxViewer viewer(qv::app::SettingsFileName(dataDir.toStdString()), window);
  viewer.FaxFileName = fax;
  viewer.PrintHeaderText = QStringLiteral("From: +1 212 555 0187             Received: 12/05/2026 at 08:03");
  viewer.setGeometry(80, 40, 820, 900);
  bool ok = Shoot(viewer, outDir + QStringLiteral("viewer.png"));
  viewer.ApplyZoom(100);
  ok = Shoot(viewer, outDir + QStringLiteral("viewer-200.png")) && ok;
  viewer.ApplyZoom(25);
  viewer.SetRotationItem(1);
  ok = Shoot(viewer, outDir + QStringLiteral("viewer-rotated.png")) && ok;
  qv::app::TPrePrintForm form(window);
  form.ToPage()->setMaximum(2);
  form.ToPage()->setValue(2);
  form.PrintFooter()->setChecked(true);
  form.StretchToFit()->setChecked(true);
  ok = Shoot(form, outDir + QStringLiteral("pre-print.png")) && ok;
  qv::ui::TQvFaxPrinter printer;
  qv::ui::TQvFaxPrinterStatus status;
  printer.SetStatusDisplay(&status);
  printer.SetFileName(fax);
  status.Refresh();
  ok = Shoot(status, outDir + QStringLiteral("print-status.png")) && ok;
  return ok;
}

// A mouse stroke on the viewer's page, through the points given (viewport pixels).
void Stroke(QWidget* viewport, const std::vector<QPoint>& path) {
  auto send = [viewport](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), viewport->mapToGlobal(QPointF(at)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &e);
  };
  send(QEvent::MouseButtonPress, path.front(), Qt::LeftButton);
  for (size_t i = 1; i < path.size(); ++i) send(QEvent::MouseMove, path[i], Qt::LeftButton);
  send(QEvent::MouseButtonRelease, path.back(), Qt::NoButton);
}

// The sample fax signed and marked with the viewer's tools, the signature frame selected.
bool ShootMarks(QWidget* window, const QString& dataDir, const QString& outDir) {
  const QString fax = dataDir + QStringLiteral("receive/FAX00003.QVF");
  qv::faximage::SaveSignature(dataDir.toStdString(), "Signature",
                              qv::ui::SignatureFromTypedName(QStringLiteral("Dana Whitfield")));
  qv::app::TFaxViewer viewer(qv::app::SettingsFileName(dataDir.toStdString()), window);
  viewer.FaxFileName = fax;
  viewer.ReceivedStamp = QStringLiteral("Received 05.12.2026 08:03");
  viewer.setGeometry(80, 40, 820, 900);
  viewer.show();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  QWidget* vp = viewer.Viewer()->viewport();
  viewer.Action("MarkHighlight")->trigger();
  Stroke(vp, {{70, 103}, {200, 103}, {210, 103}});
  viewer.Action("MarkCheck")->trigger();
  Stroke(vp, {{40, 60}});
  viewer.Action("MarkReceived")->trigger();
  Stroke(vp, {{390, 30}});
  viewer.Action("MarkPen")->trigger();
  Stroke(vp, {{60, 600}, {200, 606}, {340, 598}});
  viewer.Action("MarkSignature")->trigger();
  Stroke(vp, {{90, 560}});
  viewer.Action("MarkSelect")->trigger();
  Stroke(vp, {{120, 575}});
  bool ok = Shoot(viewer, outDir + QStringLiteral("viewer-marks.png"));
  viewer.SaveMarksFile();
  return ok;
}

// A reply to the marked sample fax as the fax editor shows it before it is stored: the sender's
// number, "Re:", and the document naming the received pages it sends.
bool ShootReply(qv::app::TMainScreen& window, const QString& dataDir, const QString& outDir) {
  qv::app::TablePair& rec = window.Store().Pair(qv::app::TableId::Rec);
  for (rec.First(); !rec.Eof() && QString::fromStdString(rec.FieldString("FAXFILE")).trimmed() !=
                                      QStringLiteral("FAX00003.QVF");
       rec.Next()) {
  }
  if (rec.Eof()) return false;
  qv::app::TFlowObserver quiet;
  qv::app::TReplyFax reply(window.Store(), dataDir, qv::app::ReplyKind::kReply);
  if (!reply.Prepare(quiet)) return false;
  qv::app::TFaxEditor editor(dataDir, &window);
  editor.ApplyDefaultFont(qv::app::Settings());
  editor.RTDoc()->SetDocument(reply.Document());
  editor.Recipient()->setText(reply.Recipient());
  editor.FaxNumber()->setText(reply.Number());
  editor.Subject()->setText(reply.Subject());
  editor.show();
  editor.setGeometry(80, 40, 860, 520);
  editor.findChild<QToolButton*>(QStringLiteral("DocumentButton"))->click();
  editor.RTDoc()->SetZoom(80);
  editor.DocumentButtonClick();
  for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
  const bool ok = editor.grab().save(outDir + QStringLiteral("reply-editor.png"));
  editor.hide();
  return ok;
}

// The phone book with an incremental search under way, its entry editor, the preview of a vCard
// import, the cover sheet browser with the starter templates and one template in its editor.
bool ShootBooks(qv::app::TMainScreen& window, const QString& dataDir, const QString& outDir) {
  qv::app::TFaxStore& store = window.Store();
  struct Entry {
    const char* name;
    const char* phone;
  };
  const Entry entries[] = {{"Blue Lake Bakery", "555-0110"},       {"Dr. Lena Ortiz", "555-0147"},
                           {"Harbour Supplies Ltd", "+44 20 7946 0321"}, {"Northwind Traders", "1-800-555-0199"},
                           {"Norbert Keller GmbH", "+49 89 555 0123"}, {"Nordic Freight AB", "+46 31 555 0190"},
                           {"Oakridge Dental Clinic", "555-0182"},   {"Pinecrest Legal", "555-0166"}};
  std::vector<std::string> keys;
  {
    TablePair phone("PhoneTable");
    if (!store.OpenPhoneDBF(phone)) return false;
    if (phone.RecCount() == 0) {
      for (const Entry& e : entries) {
        if (!phone.Append() || !phone.SetFieldString("NAME", e.name) || !phone.SetFieldString("PHONE", e.phone) ||
            !phone.Post())
          return false;
      }
    }
    for (const Entry& e : entries) keys.push_back(qv::app::EntryKey(e.name, e.phone));
  }
  bool ok = true;
  {
    qv::app::TPhoneBook book(store, &window);
    if (!book.OpenTable()) return false;
    book.resize(620, 400);
    book.show();
    for (int i = 0; i < 3; ++i) qv::app::PumpMessages();
    book.SearchEdit()->setText(QStringLiteral("Nor"));
    book.Search(book.SearchEdit()->text());
    ok = Shoot(book, outDir + QStringLiteral("phone-book.png")) && ok;
  }
  {
    qv::app::TPhoneBookEditor editor(&window);
    editor.Name()->setText(QStringLiteral("Nordic Freight AB"));
    editor.Number()->setText(QStringLiteral("+46 31 555 0190"));
    editor.resize(380, editor.sizeHint().height());
    ok = Shoot(editor, outDir + QStringLiteral("phone-book-editor.png")) && ok;
  }
  {
    // An address book export as phones and mail programs write it.
    const QString path = dataDir + QStringLiteral("contacts.vcf");
    const QByteArray vcf =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:J\xC3\xBCrgen M\xC3\xBCller\r\nORG:M\xC3\xBCller Druck GmbH\r\n"
        "TEL;TYPE=CELL,PREF:+49 171 555 0101\r\nTEL;TYPE=WORK,FAX:+49 30 555 0102\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ana L\xC3\xB3pez\r\nTEL;VALUE=uri;TYPE=work:tel:+34-91-555-0177\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ren\xC3\xA9 Fran\xC3\xA7ois\r\nTEL;TYPE=FAX:+33 1 55 50 01 44\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Priya Raman\r\nEMAIL:priya@example.com\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Harbour Supplies Ltd\r\nTEL;TYPE=FAX:+44 20 7946 0321\r\nEND:VCARD\r\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(vcf) != vcf.size()) return false;
    file.close();
    const qv::app::ContactList parsed = qv::app::ParseContacts(std::string_view(vcf.constData(), size_t(vcf.size())));
    const qv::app::ImportPlan plan = qv::app::PlanImport(parsed, keys);
    qv::app::TImportPreview preview(path, parsed, plan, &window);
    ok = Shoot(preview, outDir + QStringLiteral("import-preview.png")) && ok;
  }
  if (!store.OpenCoverDBF()) return false;  // created with the starter templates
  {
    qv::app::TCoverBrowse browser(store, &window);
    browser.resize(560, 320);
    ok = Shoot(browser, outDir + QStringLiteral("cover-browse.png")) && ok;
  }
  {
    TablePair& cover = store.Pair(TableId::Cover);
    cover.Go(2);  // the business letterhead
    qv::app::TCoverEditor editor(dataDir, &window);
    editor.CoverDescription()->setText(QString::fromStdString(cover.FieldString("DESCRIPT")));
    qv::app::TRichEditMemo memo(*editor.RTCover());
    store.LoadRichText(memo, "COVER", cover);
    editor.RTCover()->SetZoom(80);  // the whole width of the page in view
    editor.resize(760, 760);
    editor.show();
    for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
    // The caret at the start of the right-aligned letterhead scrolls the view; show the left edge.
    editor.RTCover()->TextEdit()->horizontalScrollBar()->setValue(0);
    ok = Shoot(editor, outDir + QStringLiteral("cover-editor.png")) && ok;
  }
  store.Close(TableId::Cover);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <data dir> <output dir>\n", argv[0]);
    return 2;
  }
  qv::app::ConnectMessageLoop();
  SilentDialogs dialogs;
  qv::app::SetDialogs(&dialogs);
  QDir().mkpath(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(QString::fromLocal8Bit(argv[2]));
  const QString dataDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + QLatin1Char('/');
  const QString outDir = QDir(QString::fromLocal8Bit(argv[2])).absolutePath() + QLatin1Char('/');
  if (!QFileInfo::exists(dataDir + QStringLiteral("QRV.DBF")) && !FillSample(dataDir.toStdString())) {
    std::fprintf(stderr, "could not write the sample tables in %s\n", qPrintable(dataDir));
    return 1;
  }

  int rc = 0;
  QProcess modem;
  const bool haveModem = StartModem(modem, dataDir);
  {
    qv::app::TMainScreen window(dataDir);
    window.show();
    while (!window.FirstActivationDone()) qv::app::PumpMessages();
    window.setGeometry(60, 60, 940, 460);
    for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
    if (!window.grab().save(outDir + QStringLiteral("main-outgoing.png"))) rc = 1;
    window.findChild<QTabBar*>(QStringLiteral("TabSet1"))->setCurrentIndex(1);
    for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
    if (!window.grab().save(outDir + QStringLiteral("main-incoming.png"))) rc = 1;
    // Two unsent faxes in the outbox, as Send Later leaves them: the grid's Outbox column.
    {
      window.findChild<QTabBar*>(QStringLiteral("TabSet1"))->setCurrentIndex(0);
      const QDateTime now = QDateTime::currentDateTimeUtc();
      window.Outbox().Enqueue(3, now.addSecs(20 * 60));
      window.Outbox().Enqueue(4, QDateTime(QDate::currentDate().addDays(1), QTime(8, 0)).toUTC());
      window.setGeometry(60, 60, 1180, 460);
      for (int i = 0; i < 5; ++i) qv::app::PumpMessages();
      if (!window.grab().save(outDir + QStringLiteral("main-outbox.png"))) rc = 1;
      window.Outbox().Remove(3);
      window.Outbox().Remove(4);
      window.setGeometry(60, 60, 940, 460);
    }
    // The first-run quick setup (its three ways, the last one taken) and the About box, as they
    // show over the window.
    qv::app::TQuickSetupForm setup(&window, dataDir);
    setup.ChooseWay(qv::app::TQuickSetupForm::kPracticeWay);
    setup.show();
    for (int i = 0; i < 3; ++i) qv::app::PumpMessages();
    if (!setup.grab().save(outDir + QStringLiteral("quick-setup.png"))) rc = 1;
    setup.hide();
    qv::app::TSplashform about(&window, QStringLiteral("/home/ann/.local/share/Quorvane/"),
                               QStringLiteral("Fax modem on COM2 (/dev/ttyUSB0)"));
    about.show();
    for (int i = 0; i < 3; ++i) qv::app::PumpMessages();
    if (!about.grab().save(outDir + QStringLiteral("about.png"))) rc = 1;
    about.hide();
    if (!ShootEditor(&window, dataDir, outDir)) rc = 1;
    if (!ShootViewer(&window, dataDir, outDir)) rc = 1;
    if (!ShootMarks(&window, dataDir, outDir)) rc = 1;
    if (!ShootReply(window, dataDir, outDir)) rc = 1;
    if (!ShootBooks(window, dataDir, outDir)) rc = 1;
    if (!ShootStartingNotice(&window, outDir + QStringLiteral("starting-receive.png"))) rc = 1;

    // The preferences wizard, page by page (as on a first run).
    {
      qv::app::TPreferences wizard(dataDir, &window);
      wizard.SetFirstTime(true);
      // The usual device names, and the virtual modem on COM2.
      qv::app::TPortDevices devices;
      for (int n = 1; n <= qv::app::kComPorts; ++n) devices[n - 1] = QString::fromStdString(qv::comm::DefaultDevicePath(n));
      devices[1] = dataDir + QStringLiteral("modem");
      wizard.LoadControls(qv::app::Settings(), devices);
      wizard.resize(wizard.sizeHint().expandedTo(QSize(640, 520)));
      for (int page = 0; page < qv::app::kPreferencePages; ++page) {
        wizard.SetCurrentPage(page);
        if (!Shoot(wizard, outDir + QStringLiteral("preferences-%1.png").arg(page + 1))) rc = 1;
      }
      // The Internet fax line's part of the modem page, filled in as for a SIP account.
      qv::app::TLineSettings line;
      line.enabled = true;
      line.server = QStringLiteral("sip.example.net");
      line.user = QStringLiteral("1001");
      line.callerId = QStringLiteral("Quorvane office");
      wizard.SetCurrentPage(1);
      wizard.InternetLine()->Load(line, true);
      if (!wizard.InternetLine()->grab().save(outDir + QStringLiteral("internet-line.png"))) rc = 1;
    }
    // The modem dialogs against the virtual modem on COM2.
    if (haveModem) {
      qv::comm::TQvComPort port;
      qv::app::ConfigureFormPort(port);
      qv::app::TFindModemForm find(port, &window);
      find.Search();
      if (!Shoot(find, outDir + QStringLiteral("find-modem.png"))) rc = 1;
      qv::fax::TQvSendFax fax;
      qv::app::TCheckFaxClassForm check(port, fax, 2, &window);
      check.Check();
      if (!Shoot(check, outDir + QStringLiteral("check-fax-class.png"))) rc = 1;
      if (!ShootReceiveMode(window, outDir + QStringLiteral("main-receive-mode.png"))) rc = 1;
    } else {
      std::fprintf(stderr, "no qvmodem beside this program: modem dialogs not rendered\n");
    }
    // The notice of a job printed to the fax printer.
    {
      qv::app::TTakenJob job;
      job.title = QStringLiteral("Order confirmation 4471");
      job.recipient = QStringLiteral("Harbour Supplies Ltd");
      job.phone = QStringLiteral("+44 20 7946 0321");
      job.pages = 2;
      qv::app::TPrintJobNotice notice(job, true, &window);
      if (!Shoot(notice, outDir + QStringLiteral("print-job.png"))) rc = 1;
    }
    qv::app::TModemInitStringHelperForm helper(QStringLiteral("AT&H3&I2&R2S7=90S36=0"), true, &window);
    if (!Shoot(helper, outDir + QStringLiteral("init-string-helper.png"))) rc = 1;
    qv::app::TShowErrorForm error(QStringLiteral("Fax Not Sent"),
                                  QStringLiteral("The fax to 555-0147 was not sent.\rNo Response From Modem\r\r"
                                                 "Check the modem port in the Preferences."),
                                  true, true, 0, &window);
    if (!Shoot(error, outDir + QStringLiteral("error-dialog.png"))) rc = 1;
    qv::app::TConfigurationInfo info(dataDir, &window);
    info.AddLines(qv::app::ConfigurationReport(dataDir, window.IniFile()));
    if (!Shoot(info, outDir + QStringLiteral("configuration-info.png"))) rc = 1;
    qv::app::THelpBrowser help;
    help.ShowTopic(qv::app::kHelpModemPage);
    if (!Shoot(help, outDir + QStringLiteral("help-browser.png"))) rc = 1;
    {
      qv::app::TDMForm cleanup(window.Store().Pair(TableId::Fax), window.Store().Pair(TableId::Rec),
                               dataDir, &window, &window);
      cleanup.resize(880, 360);
      if (!Shoot(cleanup, outDir + QStringLiteral("fax-log-cleanup.png"))) rc = 1;
    }
    if (!ShootSend(&window, dataDir, outDir)) rc = 1;
    window.close();
  }
  qv::app::SetDialogs(nullptr);
  if (haveModem) {
    modem.terminate();
    modem.waitForFinished(5000);
  }
  return rc;
}
