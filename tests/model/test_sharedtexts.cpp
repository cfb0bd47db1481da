// Texts shared between records and the path set of a command: sharing must never let one record's
// change reach another, nor hand out a text that is no longer what was asked for.
#include <gtest/gtest.h>

#include <QSet>

#include "model/mp3objects.h"
#include "model/pathset.h"
#include "model/textpool.h"

namespace {

TEST(TextPool, EqualShortTextsShareOneStringAndOthersComeBackAsGiven) {
  TTextPool pool;
  const QString a = pool.Shared(QString::number(3125));
  const QString b = pool.Shared(QStringLiteral("3125"));
  EXPECT_EQ(a, QStringLiteral("3125"));
  EXPECT_EQ(a.constData(), b.constData());
  EXPECT_NE(pool.Shared(QStringLiteral("3126")).constData(), a.constData());
  // A view is pooled too.
  EXPECT_EQ(pool.Shared(QStringView(u"x3125").sliced(1)).constData(), a.constData());

  EXPECT_TRUE(pool.Shared(QString()).isNull());
  EXPECT_FALSE(pool.Shared(QLatin1String("")).isNull());
  EXPECT_TRUE(pool.Shared(QLatin1String("")).isEmpty());
  const QString longText(TTextPool::kMaxChars + 1, u'7');
  EXPECT_EQ(pool.Shared(longText).constData(), longText.constData()) << "not copied, not pooled";
  EXPECT_EQ(pool.Shared(QString(longText)).constData(), longText.constData());
  EXPECT_EQ(pool.Size(), 2);
}

TEST(TextPool, KeepsItsOwnCopyNeverTheCallersMemory) {
  TTextPool pool;
  // A string over someone else's buffer, and one with room to spare.
  char16_t buffer[] = u"0:3:05";
  const QString raw = QString::fromRawData(reinterpret_cast<const QChar*>(buffer), 6);
  const QString first = pool.Shared(raw);
  EXPECT_NE(first.constData(), raw.constData());
  buffer[3] = u'9';
  EXPECT_EQ(first, QStringLiteral("0:3:05"));
  EXPECT_EQ(pool.Shared(QStringLiteral("0:3:05")), QStringLiteral("0:3:05"));
  EXPECT_EQ(pool.Shared(QStringLiteral("0:9:05")), QStringLiteral("0:9:05"));

  QString roomy;
  roomy.reserve(1000);
  roomy.append(QStringLiteral("12"));
  EXPECT_LT(pool.Shared(roomy).capacity(), 100);
  // Changing a string handed out detaches it; the pooled text stays.
  QString handed = pool.Shared(QStringLiteral("12"));
  handed[0] = u'9';
  EXPECT_EQ(pool.Shared(QStringLiteral("12")), QStringLiteral("12"));
}

TEST(TextPool, DropsOnlyTextsNothingElseHolds) {
  TTextPool pool;
  std::vector<QString> held;
  // Enough distinct texts to make the pool drop several times; every third is still held.
  const int count = 20000;
  for (int i = 0; i < count; ++i) {
    const QString text = pool.Shared(QString::number(i));
    if (i % 3 == 0) held.push_back(text);
  }
  EXPECT_LT(pool.Size(), count) << "nothing was dropped";
  for (int i = 0; i < count; i += 3) {
    const QString again = pool.Shared(QString::number(i));
    EXPECT_EQ(again, QString::number(i));
    ASSERT_EQ(again.constData(), held[i / 3].constData()) << "a held text was dropped: " << i;
  }
  // A dropped text comes back as a text equal to the one asked for.
  for (int i = 1; i < count; i += 3) ASSERT_EQ(pool.Shared(QString::number(i)), QString::number(i));
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
  // Empty stays empty, long stays whole.
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
