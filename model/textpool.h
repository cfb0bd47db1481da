#pragma once
// Equal short texts as one string. The size and time texts of a library repeat across thousands
// of records (a few hundred distinct durations for 100,000 tracks), and a string of their own
// would cost each record more than its name.
//
// Threading: one pool per thread, so a pool is never shared; records belong to the main thread
// and use its pool.
#include <QHash>
#include <QString>
#include <QStringView>

class TTextPool {
 public:
  // Longer texts are not pooled: they are rarely equal, and a pool must not keep large strings.
  static constexpr qsizetype kMaxChars = 24;

  // A string equal to `text`: the pooled one when `text` is short, else `text` itself. An empty
  // text comes back as given (null stays null).
  QString Shared(const QString& text);
  QString Shared(QStringView text);

  // Texts held, those that nothing but the pool refers to included (until they are dropped).
  qsizetype Size() const { return FTexts.size(); }

  // The calling thread's pool.
  static TTextPool& ForThisThread();

 private:
  void DropUnused();

  // Each key views the text of its own value. A miss stores a copy of exactly the text's size:
  // the caller's string may have spare room, or view memory it does not own.
  QHash<QStringView, QString> FTexts;
  // Texts that only the pool refers to are dropped when it reaches this size.
  qsizetype FDropAt = kFirstDrop;
  static constexpr qsizetype kFirstDrop = 4096;
};
