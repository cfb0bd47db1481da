// Texts shared between records and the path set of a command: sharing must never let one record's
// change reach another, nor hand out a text that is no longer what was asked for.
#include <gtest/gtest.h>

#include <QSet>

#include <atomic>
#include <thread>
#include <vector>

#include "model/mp3objects.h"
#include "model/pathset.h"
#include "model/textpool.h"

namespace {

TEST(SharedText, EqualTextsShareOneStringNullAndEmptyStayApart) {
  const TSharedText a(QString::number(3125));
  const TSharedText b(QStringLiteral("3125"));
  EXPECT_EQ(a.Text(), QStringLiteral("3125"));
  EXPECT_EQ(a.Text().constData(), b.Text().constData());
  const TSharedText c(QStringLiteral("3126"));
  EXPECT_NE(c.Text().constData(), a.Text().constData());
  EXPECT_EQ(c.Text(), QStringLiteral("3126"));

  EXPECT_TRUE(TSharedText().Text().isNull());
  EXPECT_TRUE(TSharedText(QString()).Text().isNull());
  const TSharedText empty(QLatin1String(""));
  EXPECT_TRUE(empty.Text().isEmpty());
  EXPECT_FALSE(empty.Text().isNull());
  const QString longText(300, u'7');
  EXPECT_EQ(TSharedText(longText).Text(), longText);

  // Copies, moves and assignments keep the text each handle was given.
  TSharedText copy = a;
  TSharedText moved = std::move(copy);
  copy = c;
  EXPECT_EQ(moved.Text(), QStringLiteral("3125"));
  EXPECT_EQ(copy.Text(), QStringLiteral("3126"));
  const TSharedText& same = copy;
  copy = same;
  EXPECT_EQ(copy.Text(), QStringLiteral("3126"));
}

TEST(SharedText, KeepsItsOwnCopyNeverTheCallersMemory) {
  // A string over someone else's buffer, and one with room to spare.
  char16_t buffer[] = u"0:3:05 raw";
  const QString raw = QString::fromRawData(reinterpret_cast<const QChar*>(buffer), 10);
  const TSharedText first(raw);
  EXPECT_NE(first.Text().constData(), raw.constData());
  buffer[3] = u'9';
  EXPECT_EQ(first.Text(), QStringLiteral("0:3:05 raw"));
  EXPECT_EQ(TSharedText(QStringLiteral("0:3:05 raw")).Text().constData(), first.Text().constData());

  QString roomy;
  roomy.reserve(1000);
  roomy.append(QStringLiteral("12 roomy"));
  EXPECT_LT(TSharedText(roomy).Text().capacity(), 100);
  // Changing a copy of the text detaches it; the shared text stays.
  const TSharedText held(QStringLiteral("12 roomy"));
  QString changed = held.Text();
  changed[0] = u'9';
  EXPECT_EQ(held.Text(), QStringLiteral("12 roomy"));
}

TEST(SharedText, DropsOnlyTextsNothingHolds) {
  std::vector<TSharedText> held;
  // Enough distinct texts to make the table drop several times; every third is still held.
  const int count = 30000;
  for (int i = 0; i < count; ++i) {
    TSharedText text(QStringLiteral("drop %1").arg(i));
    if (i % 3 == 0) held.push_back(std::move(text));
  }
  EXPECT_LT(TSharedText::TableSize(), count) << "nothing was dropped";
  for (int i = 0; i < count; i += 3) {
    const QString expected = QStringLiteral("drop %1").arg(i);
    ASSERT_EQ(held[i / 3].Text(), expected);
    ASSERT_EQ(TSharedText(expected).Text().constData(), held[i / 3].Text().constData())
        << "a held text was dropped: " << i;
  }
  // A dropped text comes back equal to the one asked for.
  for (int i = 1; i < count; i += 3) {
    const QString expected = QStringLiteral("drop %1").arg(i);
    ASSERT_EQ(TSharedText(expected).Text(), expected);
  }
}

TEST(SharedText, HandlesMadeCopiedAndDroppedOnSeveralThreadsKeepTheirTexts) {
  // Few distinct texts, so threads keep meeting the same entries while the table drops others.
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &wrong] {
      std::vector<TSharedText> mine;
      for (int i = 0; i < 20000; ++i) {
        const QString text = QStringLiteral("%1 s").arg((i * 7 + t) % 50);
        TSharedText made(text);
        if (made.Text() != text) ++wrong;
        mine.push_back(made);
        // Distinct texts no one keeps, so that the table drops while others hold theirs.
        TSharedText passing(QStringLiteral("thread %1 text %2").arg(t).arg(i));
        if (mine.size() > 64) mine.erase(mine.begin(), mine.begin() + 32);
      }
      for (const TSharedText& text : mine)
        if (!text.Text().endsWith(QLatin1String(" s"))) ++wrong;
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(TrackRecord, EqualSizesAndTimesShareATextButChangesStayWithTheirRecord) {
  const auto make = [](int id, const QString& size, const QString& time) {
    return std::make_shared<TMp3Player>(id, QStringLiteral("/m/%1.mp3").arg(id),
                                        QStringLiteral("%1.mp3").arg(id), size, time, 0, 0);
  };
  const auto a = make(1, QString::number(4096), QStringLiteral("0:4:10"));
  const auto b = make(2, QStringLiteral("4096"), QString::number(0) + QStringLiteral(":4:10"));
  EXPECT_EQ(a->Mp3Size().constData(), b->Mp3Size().constData());
  EXPECT_EQ(a->Mp3Time().constData(), b->Mp3Time().constData());

  b->SetMp3Time(QStringLiteral("0:0:01"));
  b->SetMp3Size(QStringLiteral("1"));
  EXPECT_EQ(a->Mp3Time(), QStringLiteral("0:4:10"));
  EXPECT_EQ(a->Mp3Size(), QStringLiteral("4096"));
  EXPECT_EQ(b->Mp3Time(), QStringLiteral("0:0:01"));
  EXPECT_EQ(b->Mp3Size(), QStringLiteral("1"));
  b->SetMp3Time(QStringLiteral("0:4:10"));
  EXPECT_EQ(a->Mp3Time().constData(), b->Mp3Time().constData());

  // A text a record was given keeps its value when the caller changes its own copy.
  QString time = QStringLiteral("0:5:55");
  a->SetMp3Time(time);
  time[2] = u'6';
  EXPECT_EQ(a->Mp3Time(), QStringLiteral("0:5:55"));
  // Null stays null, long stays whole.
  a->SetMp3Time(QString());
  EXPECT_TRUE(a->Mp3Time().isEmpty());
  const QString longSize = QStringLiteral("a size text far longer than any size of a file");
  a->SetMp3Size(longSize);
  EXPECT_EQ(a->Mp3Size(), longSize);
}

TEST(PathSet, AnswersAsASetOfStringsWould) {
  // Paths that differ only at the end, in case, in length by one, and the empty path.
  QStringList paths;
  for (int folder = 0; folder < 300; ++folder)
    for (const char* name : {"a.mp3", "A.mp3", "a.mp", "a.mp3 ", "ä.mp3"})
      paths.append(QStringLiteral("/music/%1/").arg(folder) + QString::fromUtf8(name));
  paths.append(QString());
  for (const bool reserved : {false, true}) {
    TPathSet set;
    QSet<QString> reference;
    if (reserved) set.reserve(paths.size() / 2);
    // Every other path in, then each path asked for and added again.
    for (qsizetype i = 0; i < paths.size(); i += 2) {
      EXPECT_TRUE(set.insert(paths[i]));
      reference.insert(paths[i]);
    }
    for (const QString& path : paths)
      ASSERT_EQ(set.contains(path), reference.contains(path)) << path.toStdString();
    for (const QString& path : paths) {
      const bool added = !reference.contains(path);
      reference.insert(path);
      ASSERT_EQ(set.insert(path), added) << path.toStdString();
      ASSERT_TRUE(set.contains(path)) << path.toStdString();
    }
    EXPECT_EQ(set.size(), reference.size());
    EXPECT_FALSE(set.contains(u"/music/0/b.mp3"));
  }
  EXPECT_FALSE(TPathSet().contains(u""));
}

}  // namespace
