#include "app/qt/studio_validators.h"

#include <QRegularExpressionValidator>

namespace studio {

TRegionalFloatValidator::TRegionalFloatValidator(const NumberFormat& Fmt, QObject* Parent)
    : QValidator(Parent), FFormat(Fmt) {
  const QString mark = "(?:\\.|" + QRegularExpression::escape(QString::fromStdString(Fmt.decimal)) + ")";
  FPrefix.setPattern("^\\s*[+-]?[0-9]*(?:" + mark + "[0-9]*)?(?:[eE][+-]?[0-9]*)?\\s*$");
}

QValidator::State TRegionalFloatValidator::validate(QString& Input, int& /*Pos*/) const {
  double v = 0;
  if (TryParseFloatRegional(Input.toStdString(), FFormat, v)) return Acceptable;
  return FPrefix.match(Input).hasMatch() ? Intermediate : Invalid;
}

QValidator* NewSignedDigitsValidator(QObject* Parent) {
  return new QRegularExpressionValidator(QRegularExpression("-?[0-9]*"), Parent);
}

}  // namespace studio
