#include "ui/formprogress.h"

#include <QProgressBar>

#include <algorithm>

#include "model/mp3objects.h"

TFormProgress::TFormProgress(QWidget* parent) : QDialog(parent, Qt::Dialog) {
  setObjectName(QStringLiteral("FormProgress"));
  setWindowTitle(QStringLiteral("Please wait ..."));
  // A progress window must never keep the program alive once the main window has closed.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(292, 38);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(8, 8, 273, 17);
  ProgressBar1->setMinimum(0);
  ProgressBar1->setTextVisible(false);
}

void TFormProgress::Execute(TMp3Session* Sender, int _DefineMax) {
  const auto* mp3 = dynamic_cast<TMp3Player*>(Sender);
  if (!mp3) return;
  ProgressBar1->setMaximum(_DefineMax);
  ProgressBar1->setValue(mp3->Mp3ID());
  FDrawn.start();
  // Asked for every record of a load: the answer needs no call into the bar.
  FMaximum = ProgressBar1->maximum();
  FShown = ProgressBar1->value();
  FNextStep = FShown + std::max(1, FMaximum / std::max(1, ProgressBar1->width()));
}

bool TFormProgress::WouldMove(int value, int maximum) const {
  if (!isVisible() || maximum != FMaximum) return true;
  if (maximum <= 0 || value > maximum) return false;
  if (value <= FShown || value >= maximum - 1) return true;
  // About sixty frames a second: more is not seen.
  constexpr qint64 kFrameMs = 16;
  return value >= FNextStep && (!FDrawn.isValid() || FDrawn.elapsed() >= kFrameMs);
}

void TFormProgress::ShowOver(QWidget* over) {
  if (isVisible()) return;
  if (over) {
    const QRect area = over->frameGeometry();
    move(area.center() - rect().center());
  }
  show();
}
