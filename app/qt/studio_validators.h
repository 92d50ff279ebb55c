// What the window's number edits let a user type. They check keystrokes
// only: a pasted or programmatic text is judged where it is converted.
#pragma once

#include <QRegularExpression>
#include <QValidator>

#include "app/core/studio_common.h"

namespace studio {

// A floating-point number in the regional format (or with '.', as stored
// values may have): acceptable when it converts, intermediate while it can
// still become one ("", "-", "5,", "1e").
class TRegionalFloatValidator : public QValidator {
public:
  // The format is copied: a later change of the user's format needs a new
  // validator.
  explicit TRegionalFloatValidator(const NumberFormat& Fmt, QObject* Parent = nullptr);
  State validate(QString& Input, int& Pos) const override;

private:
  NumberFormat FFormat;
  QRegularExpression FPrefix;
};

// An optional '-' and decimal digits (an encryption key, a file number).
QValidator* NewSignedDigitsValidator(QObject* Parent);

}  // namespace studio
