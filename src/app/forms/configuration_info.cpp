#include "app/forms/configuration_info.h"

#include "app/forms/dialog_service.h"
#include "app/flows/call_settings.h"
#include "app/flows/modem_routines.h"
#include "app/forms/placement.h"
#include "app/forms/preferences.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "comm/port_names.h"
#include "comm/serial_devices.h"
#include "core/file_util.h"

#include <sys/utsname.h>

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <set>

namespace qv::app {

namespace {

constexpr int kSmallFontsDpi = 96;
constexpr int kLargeFontsDpi = 120;
constexpr qint64 kKiB = 1024;
constexpr int kTabColumns = 8;

QString Grouped(qint64 n) { return QLocale().toString(n); }

QString ReadFileText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// "key=value" files (os-release, locale.conf): the value of one key, quotes removed.
QString KeyValue(const QString& text, const QString& key) {
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (!line.startsWith(key + QLatin1Char('='))) continue;
    QString v = line.mid(key.size() + 1).trimmed();
    if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\''))) v = v.mid(1, v.size() - 2);
    return v;
  }
  return QString();
}

// /proc/meminfo in bytes.
std::map<QString, qint64> MemInfo() {
  std::map<QString, qint64> out;
  for (const QString& line : ReadFileText(QStringLiteral("/proc/meminfo")).split(QLatin1Char('\n'))) {
    const int colon = line.indexOf(QLatin1Char(':'));
    if (colon < 0) continue;
    const QString value = line.mid(colon + 1).trimmed().section(QLatin1Char(' '), 0, 0);
    out[line.left(colon)] = value.toLongLong() * kKiB;
  }
  return out;
}

QString CpuModel() {
  for (const QString& line : ReadFileText(QStringLiteral("/proc/cpuinfo")).split(QLatin1Char('\n'))) {
    if (line.startsWith(QLatin1String("model name")) || line.startsWith(QLatin1String("Model")))
      return line.section(QLatin1Char(':'), 1).trimmed();
  }
  return QString();
}

// The machine's own language setting, as a new login gets it.
QLocale SystemLocale() {
  for (const char* file : {"/etc/default/locale", "/etc/locale.conf"}) {
    const QString lang = KeyValue(ReadFileText(QString::fromLatin1(file)), QStringLiteral("LANG"));
    if (!lang.isEmpty()) return QLocale(lang.section(QLatin1Char('.'), 0, 0));
  }
  return QLocale::c();
}

qint64 ColourCount(int depth) {
  switch (depth) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    case 15: return 32768;
    case 16: return 65536;
    case 24:
    case 32: return 16777216;
    default: return depth;
  }
}

QString YesNo(bool b) { return b ? QStringLiteral("Yes") : QStringLiteral("No"); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsSerialName(const std::string& path, const std::set<std::string>& devices) {
  if (devices.count(path)) return true;
  const std::string name = std::filesystem::path(path).filename().string();
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"})
    if (name.rfind(prefix, 0) == 0 && path.rfind("/dev/", 0) == 0) return true;
  return false;
}

// Programs that hold a serial device open: the usual reason a port reads as in use. Only the
// processes this user may look into are seen.
QStringList SerialDeviceHolders(const std::set<std::string>& devices) {
  namespace fs = std::filesystem;
  QStringList out;
  const std::string self = std::to_string(QCoreApplication::applicationPid());
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator("/proc", ec)) {
    const std::string pid = proc.path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == self) continue;
    std::set<std::string> held;
    std::error_code ec2;
    for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec2)) {
      std::error_code ec3;
      const fs::path target = fs::read_symlink(fd.path(), ec3);
      if (!ec3 && IsSerialName(target.string(), devices)) held.insert(target.string());
    }
    if (held.empty()) continue;
    const QString name = ReadFileText(Q((proc.path() / "comm").string())).trimmed();
    for (const std::string& device : held)
      out << name + QStringLiteral("  (") + Q(device) + QStringLiteral(", process ") + Q(pid) + QLatin1Char(')');
  }
  out.sort();
  return out;
}

}  // namespace

QStringList SystemInformationLines() {
  QStringList lines;
  const QString osText = ReadFileText(QStringLiteral("/etc/os-release"));
  QString os = KeyValue(osText, QStringLiteral("PRETTY_NAME"));
  if (os.isEmpty()) os = QStringLiteral("Linux");
  lines << QStringLiteral("System:      \t") + os;
  utsname u{};
  if (::uname(&u) == 0)
    lines << QStringLiteral("Kernel:      \t") + QString::fromLocal8Bit(u.sysname) + QLatin1Char(' ') +
                 QString::fromLocal8Bit(u.release) + QStringLiteral(" (") + QString::fromLocal8Bit(u.version) +
                 QLatin1Char(')');
  lines << QStringLiteral("CPU:         \tProcessor:  ") + QString::fromLocal8Bit(u.machine) + QLatin1Char(' ') +
               CpuModel() + QStringLiteral(" (%1 threads)").arg(std::max(1, QThread::idealThreadCount()));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize size = screen->size();
    lines << QStringLiteral("Video:       \t") + QString::number(size.width()) + QStringLiteral(" x ") +
                 QString::number(size.height()) + QStringLiteral(" x ") + Grouped(ColourCount(screen->depth())) +
                 QStringLiteral(" colors");
    const int dpi = qRound(screen->logicalDotsPerInch());
    lines << QStringLiteral("Font:        \t") +
                 (dpi == kSmallFontsDpi   ? QStringLiteral("Small Fonts in use")
                  : dpi == kLargeFontsDpi ? QStringLiteral("Large Fonts in use")
                                          : QStringLiteral("Custom font size in use"));
  }
  const auto mem = MemInfo();
  auto at = [&mem](const char* key) {
    auto it = mem.find(QString::fromLatin1(key));
    return it == mem.end() ? qint64(0) : it->second;
  };
  const qint64 total = at("MemTotal"), available = at("MemAvailable");
  const int load = total > 0 ? int((total - available) * 100 / total) : 0;
  lines << QStringLiteral("Memory Load: \t") + QString::number(load) + QLatin1Char('%');
  lines << QStringLiteral("Phys Memory: \tTotal: ") + Grouped(total) + QStringLiteral(";    Available: ") + Grouped(available);
  lines << QStringLiteral("Page File:   \tTotal: ") + Grouped(at("SwapTotal")) + QStringLiteral(";    Available: ") +
               Grouped(at("SwapFree"));
  const qint64 commit = at("CommitLimit");
  lines << QStringLiteral("Virt Memory: \tTotal: ") + Grouped(commit) + QStringLiteral(";    Available: ") +
               Grouped(std::max<qint64>(0, commit - at("Committed_AS")));
  const QLocale user = QLocale::system();
  const QLocale system = SystemLocale();
  lines << QStringLiteral("Language:    \tUser: ") + QLocale::languageToString(user.language()) +
               QStringLiteral(";    System: ") + QLocale::languageToString(system.language());
  lines << QStringLiteral("Country:     \tUser: ") + QLocale::territoryToCode(user.territory()) +
               QStringLiteral(";    System: ") + QLocale::territoryToCode(system.territory());
  lines << QStringLiteral("Date Format: \tShort: ") + user.dateFormat(QLocale::ShortFormat) + QStringLiteral(";    Long: ") +
               user.dateFormat(QLocale::LongFormat);
  lines << QStringLiteral("Time Format: \tShort: ") + user.timeFormat(QLocale::ShortFormat) + QStringLiteral(";    Long: ") +
               user.timeFormat(QLocale::LongFormat);
  return lines;
}

QStringList SerialDeviceLines(const std::string& iniFile) {
  QStringList lines;
  TPortDevices ports;
  try {
    ports = LoadPortDevices(iniFile);
  } catch (...) {
  }
  // Every device found, and every device a COM number names even if it is not there.
  std::vector<std::pair<std::string, std::vector<std::string>>> devices;
  for (const comm::SerialDevice& d : comm::ListSerialDevices()) devices.push_back({d.Path, d.StableNames});
  for (int i = 0; i < kComPorts; ++i) {
    const std::string path = ports[i].toStdString();
    if (path.empty()) continue;
    bool known = false;
    for (auto& d : devices) {
      if (d.first == path || std::find(d.second.begin(), d.second.end(), path) != d.second.end() ||
          comm::SameSerialDevice(d.first, path))
        known = true;
    }
    if (!known) devices.push_back({path, {}});
  }
  comm::TQvComPort port;
  ConfigureFormPort(port);
  for (const auto& [path, stable] : devices) {
    lines << QStringLiteral("Device:               \t") + Q(path);
    for (const std::string& s : stable) lines << QStringLiteral("Stable Name:          \t") + Q(s);
    QStringList coms;
    for (int i = 0; i < kComPorts; ++i) {
      const std::string p = ports[i].toStdString();
      if (p == path || std::find(stable.begin(), stable.end(), p) != stable.end() || comm::SameSerialDevice(p, path))
        coms << QStringLiteral("COM%1").arg(i + 1);
    }
    if (!coms.isEmpty()) lines << QStringLiteral("Port:                 \t") + coms.join(QStringLiteral(", "));
    QString answer;
    try {
      port.SetDeviceName(path);
      std::string message;
      if (!OpenPortWithMessage(port, message)) {
        // The message speaks of a COM number; here the device is what counts.
        const QString text = QString::fromStdString(message);
        const int detail = text.indexOf(QStringLiteral("Error message: "));
        answer = text.startsWith(QStringLiteral("The communications port is in use"))
                     ? QStringLiteral("in use by another program")
                 : detail >= 0 ? text.mid(detail + 15).section(QLatin1Char('\r'), 0, 0)
                               : QStringLiteral("does not exist");
      } else {
        answer = ModemResponds(port) ? QStringLiteral("a modem answers") : QStringLiteral("no answer to AT");
      }
      port.SetOpen(false);
    } catch (const std::exception& e) {
      answer = QString::fromStdString(e.what());
    }
    lines << QStringLiteral("Answer:               \t") + answer;
    lines << QString();
  }
  if (devices.empty()) lines << QStringLiteral("No serial devices found") << QString();
  return lines;
}

QStringList ConfigurationReport(const QString& dataDir, const std::string& iniFile) {
  const TSettings& s = Settings();
  QStringList r;
  r << QLocale().toString(QDate::currentDate(), QLocale::LongFormat) << QString();
  r << QStringLiteral("[Product]") << QStringLiteral("Program:     \tQuorvane")
    << QStringLiteral("Version:     \t") + QString::fromLatin1(kProgramVersion) << QString();
  r << QStringLiteral("[Environment]") << SystemInformationLines() << QString();
  // In place of the modem entries of a system registry: the serial devices and what answers.
  r << QStringLiteral("[Serial Devices and Modems]") << QString() << SerialDeviceLines(iniFile) << QString() << QString();

  r << QStringLiteral("[") + QFileInfo(Q(iniFile)).absoluteFilePath() + QStringLiteral("]") << QString();
  const QString tone = s.ToneOrPulse == 0 ? QStringLiteral("Tone") : s.ToneOrPulse == 1 ? QStringLiteral("Pulse")
                                                                                       : QStringLiteral("unknown");
  r << QStringLiteral("{general}") << QStringLiteral("COM Port:             \t") + QString::number(s.ComPort + 1)
    << QStringLiteral("Tone/Pulse:           \t") + tone << QStringLiteral("Reset String          \t") + Q(s.ResetString)
    << QStringLiteral("Post Reset String:    \t") + Q(s.ResetAfterString);
  r << QStringLiteral("{sending}") << QStringLiteral("Fax Class:            \t") + Q(FaxClassName(s.FaxClass))
    << QStringLiteral("Max BPS:              \t") + QString::number(s.MaximumBPS)
    << QStringLiteral("Modem Init:           \t") + Q(s.InitString) << QStringLiteral("ECM:                  \t") + YesNo(s.ECM)
    << QStringLiteral("Dial Prefix:          \t") + Q(s.DialPrefix) << QStringLiteral("Dial Suffix:          \t") + Q(s.DialSuffix)
    << QStringLiteral("Dial Attempts:        \t") + QString::number(s.DialAttempts)
    << QStringLiteral("Retry Wait:           \t") + QString::number(s.RetryWait)
    << QStringLiteral("Blind Dial:           \t") + YesNo(s.BlindDial)
    << QStringLiteral("Ignore Busy:          \t") + YesNo(s.IgnoreBusy)
    << QStringLiteral("Renegotiate Between:  \t") + YesNo(s.RenegotiateBetween);
  r << QStringLiteral("{receiving}") << QStringLiteral("Receive Fax Class:    \t") + Q(FaxClassName(s.FaxClassReceive))
    << QStringLiteral("Receive Max BPS:      \t") + QString::number(s.MaximumBPSReceive)
    << QStringLiteral("Receive Init String:  \t") + Q(s.InitStringReceive)
    << QStringLiteral("Answer On Ring:       \t") + QString::number(s.AnswerOnRing)
    << QStringLiteral("Receive Startup:      \t") + YesNo(s.AtStartup)
    << QStringLiteral("ECM Receive:          \t") + YesNo(s.ECMReceive) << QStringLiteral("WAV File:             \t") + Q(s.Wav)
    << QStringLiteral("Print On Receipt:     \t") + YesNo(s.PrintOnReceipt)
    << QStringLiteral("Printer (POR):        \t") + Q(s.PrintOnReceiptPrinter);
  r << QStringLiteral("{misc}") << QStringLiteral("SM56 Fix              \t") + YesNo(s.UseMotorolaSM56Fix)
    << QStringLiteral("RAGE MOBILITY FIX     \t") + YesNo(s.ImposeWaitBeforePrinting)
    << QStringLiteral("ShowHint:             \t") + YesNo(s.HintsOn)
    << QStringLiteral("Disable Prefix:       \t") + YesNo(s.PrefixDisable)
    << QStringLiteral("Program Path          \t") + dataDir;
  r << QString();

  // In place of the list of top-level windows: the programs that hold a serial device, the usual
  // reason a port is "in use".
  std::set<std::string> mapped;
  for (int n = 1; n <= kComPorts; ++n) mapped.insert(comm::PortDevicePath(n));
  r << QStringLiteral("[Other Running Applications (Program, Serial Device)]") << QString() << SerialDeviceHolders(mapped);
  for (auto [file, heading] : {std::pair{"Lastsend.log", "[Last Send Session]"}, std::pair{"Lastrec.log", "[Last Receive Session]"}}) {
    const QString path = dataDir + QString::fromLatin1(file);
    if (!QFileInfo(path).isFile()) continue;
    QString text = ReadFileText(path);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    r << QString() << QString::fromLatin1(heading) << QString() << text.split(QLatin1Char('\n')) << QString();
  }
  return r;
}

TConfigurationInfo::TConfigurationInfo(const QString& dataDir, QWidget* parent) : QDialog(parent), dataDir_(dataDir) {
  setObjectName(QStringLiteral("ConfigurationInfo"));
  setWindowTitle(QStringLiteral("Configuration Information"));
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo1"));
  memo_->setAccessibleName(QStringLiteral("Configuration Information"));
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The labels are padded with blanks before their tab: they line up in a fixed-pitch font.
  memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  memo_->setTabStopDistance(memo_->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * kTabColumns);
  auto* copy = new QPushButton(QStringLiteral("Copy to Clipboard"), this);
  copy->setObjectName(QStringLiteral("CopyButton"));
  auto* save = new QPushButton(QStringLiteral("Save As..."), this);
  save->setObjectName(QStringLiteral("SaveAsButton"));
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
  for (QPushButton* b : {copy, save, ok}) b->setAccessibleName(b->text());
  ok->setDefault(true);
  connect(copy, &QPushButton::clicked, this, &TConfigurationInfo::CopyToClipboardClick);
  connect(save, &QPushButton::clicked, this, &TConfigurationInfo::SaveAsClick);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(copy);
  buttons->addWidget(save);
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo_);
  layout->addLayout(buttons);
  resize(760, 560);
}

void TConfigurationInfo::AddLines(const QStringList& lines) {
  for (const QString& line : lines) memo_->appendPlainText(line);
}

QStringList TConfigurationInfo::Lines() const { return memo_->toPlainText().split(QLatin1Char('\n')); }

void TConfigurationInfo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  memo_->moveCursor(QTextCursor::Start);
  memo_->ensureCursorVisible();
}

void TConfigurationInfo::CopyToClipboardClick() {
  QApplication::clipboard()->setText(memo_->toPlainText());
  Dialogs().Information(this, QStringLiteral("Information copied to Windows clipboard"),
                        QStringLiteral("Configuration Information"));
}

void TConfigurationInfo::SaveAsClick() {
  const QString file = Dialogs().SaveFileName(this, QStringLiteral("Save As"), dataDir_,
                                              QStringLiteral("Text files (*.TXT)"));
  if (file.isEmpty()) return;
  QString text = Lines().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
  if (!core::AtomicWriteFile(file.toStdString(), text.toStdString())) {
    Dialogs().Error(this, QStringLiteral("Unable to write to ") + file);
    return;
  }
  Dialogs().Information(this, QStringLiteral("Information was saved as: ") + file,
                        QStringLiteral("Configuration Information"));
}

void ShowConfigurationInfo(QWidget* mainWindow, const QString& dataDir, const std::string& iniFile) {
  TConfigurationInfo form(dataDir, mainWindow);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    form.AddLines(ConfigurationReport(dataDir, iniFile));
  } catch (...) {
    QApplication::restoreOverrideCursor();
    throw;
  }
  CenterOver(&form, mainWindow);
  QApplication::restoreOverrideCursor();
  Dialogs().Exec(&form);
}

}  // namespace qv::app
