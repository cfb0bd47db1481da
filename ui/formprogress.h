#pragma once
#include <QDialog>
#include <QElapsedTimer>

class QProgressBar;
class TMp3Session;

// "Please wait ...": a small bar that follows the records of a long read or save.
class TFormProgress : public QDialog {
  Q_OBJECT

 public:
  explicit TFormProgress(QWidget* parent = nullptr);

  // For a track record: the bar's maximum becomes _DefineMax and its position the record's ID.
  // Any other sender (or none) changes nothing.
  void Execute(TMp3Session* Sender, int _DefineMax);
  // False when showing `value` now is not worth a repaint, the dialog being up: when the bar
  // would stay as drawn, or when it was drawn less than a frame ago. Each update repaints at
  // once and costs more than reading a record; a read of 100,000 records would otherwise repaint
  // a bar a few hundred pixels wide a few hundred times.
  // A bar without a range (maximum 0) shows only that work goes on, and a value past the maximum
  // cannot be shown: neither moves it.
  bool WouldMove(int value, int maximum) const;
  // Shows the dialog centred on `over` the first time it is shown after being hidden.
  void ShowOver(QWidget* over);

  QProgressBar* ProgressBar1;

 private:
  QElapsedTimer FDrawn;  // since the bar last moved
  int FMaximum = -1;     // the bar's range and value as Execute left them
  int FShown = 0;
  int FNextStep = 0;  // the first value a pixel on
};
