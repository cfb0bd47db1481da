// The interface language: the language box applies the chosen language file to the window, or,
// for a program started with a file argument, appends that file to the main list instead.
#include <QComboBox>

#include "platform/pathcodec.h"
#include "platform/textcodec.h"
#include "ui/dialogs.h"
#include "ui/languageapply.h"
#include "ui/mainform.h"

void TMainForm::ConnectLanguageBox() {
  // Only the user's choice: selecting an item from code (the settings do) runs nothing.
  connect(cboxLng, &QComboBox::activated, this, [this] { cboxLngChange(); });
}

void TMainForm::cboxLngChange() {
  const int index = cboxLng->currentIndex();
  // Text in an 8-bit encoding is read in the code page of the chosen language, the language
  // files themselves included.
  if (index == 0) platform::setAnsiCodePage(platform::AnsiCodePage::Windows1252);
  if (index == 1) platform::setAnsiCodePage(platform::AnsiCodePage::Windows1251);
  // Runs inside the settings load at start-up, which must go on whatever fails here.
  RunGuarded(this, [&] {
    if (!ExFileName.isEmpty()) {
      AddCommandLineFile(ExFileName);
      return;
    }
    if (index == 0) SetLanguage(this, QStringLiteral("english.lng"));
    if (index == 1) SetLanguage(this, QStringLiteral("bulgarian.lng"));
  });
}

void TMainForm::AddCommandLineFile(const QString& FileName) {
  AppendFileRecord(FileName);
  StartTimeThread();
}

void TMainForm::AppendFileRecord(const QString& FileName) {
  // No test for a duplicate or for the file's existence: a missing file is listed with size -1.
  const QString name = FileName.mid(FileName.lastIndexOf(QLatin1Char('/')) + 1);
  AddScannedRecord(std::make_shared<TMp3Player>(0, FileName, platform::displayName(name),
                                                GetFileSizeKB(FileName), QString(), 0, 0));
}
