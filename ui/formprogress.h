#pragma once
#include <QDialog>

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
  // False when showing `value` would leave the bar as drawn, the dialog being up: a read of
  // 100,000 records moves a bar a few hundred pixels wide a few hundred times, and each update
  // costs more than reading a record.
  bool WouldMove(int value) const;
  // Shows the dialog centred on `over` the first time it is shown after being hidden.
  void ShowOver(QWidget* over);

  QProgressBar* ProgressBar1;
};
