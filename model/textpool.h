#pragma once
// Equal texts as one string. The size and time texts of a library repeat across thousands of
// records (a few hundred distinct durations for 100,000 tracks): a record holds a reference to
// the one shared text, 8 bytes where a string of its own costs 24 plus its data.
//
// Threading: any thread. The table of texts is under a mutex; a text's count of holders is
// atomic, so handles are copied and dropped without the lock.
#include <QString>
#include <QStringView>

#include <atomic>
#include <utility>

class TSharedText {
 public:
  // The null text.
  TSharedText() = default;
  // The shared text equal to `text`; a null text gives the null text.
  explicit TSharedText(const QString& text);
  TSharedText(const TSharedText& other) noexcept;
  TSharedText(TSharedText&& other) noexcept : FEntry(std::exchange(other.FEntry, nullptr)) {}
  TSharedText& operator=(TSharedText other) noexcept {
    std::swap(FEntry, other.FEntry);
    return *this;
  }
  ~TSharedText();

  // Valid while this handle holds the text.
  const QString& Text() const;

  // Texts in the table; those nothing holds stay until the table next grows past its limit.
  static qsizetype TableSize();

 private:
  struct Entry {
    QString text;
    std::atomic<int> holders{0};
  };
  friend class TSharedTextTable;

  Entry* FEntry = nullptr;
};
