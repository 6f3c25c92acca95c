#include "app/flows/call_settings.h"

#include "app/store/settings.h"

namespace qv::app {

namespace {

// The one table of the fax-class setting's codes.
struct FaxClassSetting {
  fax::TFaxClass faxClass;
  const char* name;
  const char* summaryName;
};
constexpr FaxClassSetting kFaxClasses[kFaxClassSettings] = {
    {fax::fcDetect, "AutoDetect", "Autodetect"},
    {fax::fcClass1, "Class 1", "Class 1"},
    {fax::fcClass2, "Class 2", "Class 2"},
    {fax::fcClass2_0, "Class 2.0", "Class 2.0"},
};

const FaxClassSetting* Find(int code) {
  return code >= 0 && code < kFaxClassSettings ? &kFaxClasses[code] : nullptr;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

fax::TFaxClass FaxClassOfSetting(int code) {
  const FaxClassSetting* c = Find(code);
  return c ? c->faxClass : fax::fcDetect;
}

std::string FaxClassName(int code) {
  const FaxClassSetting* c = Find(code);
  return c ? c->name : "unknown";
}

QString FaxClassSummaryName(int code) {
  const FaxClassSetting* c = Find(code);
  return c ? QString::fromLatin1(c->summaryName) : QString();
}

std::string WithAtPrefix(const std::string& text) {
  return Q(text).toUpper().contains(QLatin1String("AT")) ? text : "AT" + text;
}

int SendComNumber(const TSettings& s) { return s.PracticeLine ? kPracticeSendCom : s.ComPort + 1; }
int ReceiveComNumber(const TSettings& s) { return s.PracticeLine ? kPracticeReceiveCom : s.ComPort + 1; }
bool SendSharesReceivePort(const TSettings& s) { return SendComNumber(s) == ReceiveComNumber(s); }

TCallSettings SendCallSettings(const TSettings& s, const QString& number, const std::optional<QString>& prefix,
                               const std::optional<QString>& suffix) {
  TCallSettings call;
  call.comNumber = SendComNumber(s);
  call.resetString = s.ResetString;
  call.bps = s.MaximumBPS;
  call.ecm = s.ECM;
  call.pulse = s.ToneOrPulse != 0;
  call.faxClass = s.FaxClass;
  call.initString = s.InitString;
  TCallSettings::Dialing d;
  d.blindDial = s.BlindDial;
  d.ignoreBusy = s.IgnoreBusy;
  d.renegotiate = s.RenegotiateBetween;
  d.number = number;
  d.prefix = prefix;
  d.suffix = suffix;
  d.stationId = s.Fax;
  call.dialing = d;
  return call;
}

TCallSettings ReceiveCallSettings(const TSettings& s) {
  TCallSettings call;
  call.comNumber = ReceiveComNumber(s);
  call.resetString = s.ResetString;
  call.bps = s.MaximumBPSReceive;
  call.ecm = s.ECMReceive;
  call.pulse = s.ToneOrPulse == 1;  // the receive log names pulse dialling only for the wizard's "Pulse"
  call.faxClass = s.FaxClassReceive;
  call.initString = s.InitStringReceive;
  return call;
}

QStringList SettingsLogLines(const TCallSettings& call) {
  QStringList out;
  out << QStringLiteral("Desired BPS: ") + QString::number(call.bps);
  if (call.ecm) out << QStringLiteral("Desired ECM: ON");
  const auto& d = call.dialing;
  if (d) {
    if (d->blindDial) out << QStringLiteral("Blind Dial: ON");
    if (d->ignoreBusy) out << QStringLiteral("Ignore Busy: ON");
    out << (d->renegotiate ? QStringLiteral("Negotiate between pages: ON")
                           : QStringLiteral("Negotiate between pages: OFF"));
    out << QStringLiteral("Fax#: ") + d->number;
    if (d->prefix) out << QStringLiteral("Dial Prefix: ") + *d->prefix;
    if (d->suffix) out << QStringLiteral("Dial Suffix: ") + *d->suffix;
  }
  if (call.pulse) out << QStringLiteral("Using Pulse Dialing ***");
  out << QStringLiteral("Fax Class: ") + Q(FaxClassName(call.faxClass));
  if (d) out << QStringLiteral("StationID: ") + Q(d->stationId);
  out << QStringLiteral("User INIT String: ") + Q(call.initString);
  return out;
}

}  // namespace qv::app
