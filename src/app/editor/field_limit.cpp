#include "app/editor/field_limit.h"

#include "app/store/field_fit.h"

#include <QLineEdit>
#include <QValidator>

namespace qv::app {

namespace {

// Cuts the text to the field instead of refusing it, so a long paste keeps what fits.
class FieldBytesValidator : public QValidator {
 public:
  FieldBytesValidator(size_t bytes, QObject* parent) : QValidator(parent), bytes_(bytes) {}

  State validate(QString& input, int& pos) const override {
    const QByteArray utf8 = input.toUtf8();
    if (static_cast<size_t>(utf8.size()) <= bytes_) return Acceptable;
    const std::string fitted = FitField(std::string_view(utf8.constData(), utf8.size()), bytes_);
    input = QString::fromUtf8(fitted.data(), static_cast<qsizetype>(fitted.size()));
    if (pos > input.size()) pos = static_cast<int>(input.size());
    return Acceptable;
  }

 private:
  size_t bytes_;
};

}  // namespace

void LimitToField(QLineEdit* edit, size_t bytes) {
  // A character takes at least as many UTF-8 bytes as UTF-16 units, so the byte width also
  // bounds the edit's own length.
  edit->setMaxLength(static_cast<int>(bytes));
  edit->setValidator(new FieldBytesValidator(bytes, edit));
}

}  // namespace qv::app
