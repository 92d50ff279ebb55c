#include "app/qt/studio_qtports.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QUrl>
#include <clocale>

namespace studio {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

void QtDialogs::information(const std::string& Text) {
  QMessageBox::information(FParent, cProgramCaption, Q(Text));
}

void QtDialogs::error(const std::string& Text) { QMessageBox::critical(FParent, cProgramCaption, Q(Text)); }

bool QtDialogs::question(const std::string& Text) {
  return QMessageBox::question(FParent, cProgramCaption, Q(Text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::openFileName(const std::string& Title, const std::string& Filters,
                                                   const std::string& Folder) {
  const QString name = QFileDialog::getOpenFileName(FParent, Q(Title), Q(Folder), Q(Filters));
  if (name.isEmpty()) return std::nullopt;
  return S(name);
}

std::vector<std::string> QtDialogs::openFileNames(const std::string& Title, const std::string& Filters,
                                                  const std::string& Folder) {
  std::vector<std::string> out;
  for (const QString& name : QFileDialog::getOpenFileNames(FParent, Q(Title), Q(Folder), Q(Filters)))
    out.push_back(S(name));
  return out;
}

std::optional<std::string> QtDialogs::existingFolder(const std::string& Title, const std::string& Folder) {
  const QString name = QFileDialog::getExistingDirectory(FParent, Q(Title), Q(Folder));
  if (name.isEmpty()) return std::nullopt;
  return S(name);
}

bool QtShell::openUrl(const std::string& Url) { return QDesktopServices::openUrl(QUrl(Q(Url), QUrl::TolerantMode)); }

NumberFormat NumberFormatOf(const QLocale& Locale) {
  return NumberFormat{S(Locale.decimalPoint()), S(Locale.groupSeparator())};
}

void InitLocale() {
  std::setlocale(LC_NUMERIC, "C");
  AppState().Regional = NumberFormatOf(QLocale::system());
}

}  // namespace studio
