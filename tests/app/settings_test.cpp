#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <system_error>

#include "app/ini_file.h"
#include "app/settings.h"
#include "app_test_main.h"
#include "test_files.h"

using mirava::app::IniDocument;
using mirava::testing::ReadBytes;
using mirava::testing::WriteBytes;

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void ReadsIntegers_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << QByteArray("[Settings]\r\nThreads=12\r\n") << 12;
    QTest::newRow("blanks around") << QByteArray("[Settings]\r\nThreads =  7 \r\n") << 7;
    QTest::newRow("names ignore case") << QByteArray("[settings]\nTHREADS=3\n") << 3;
    QTest::newRow("signs") << QByteArray("[Settings]\nThreads=-4\n") << -4;
    QTest::newRow("absent key") << QByteArray("[Settings]\nInterval=4\n") << 99;
    QTest::newRow("other section") << QByteArray("[Other]\nThreads=4\n") << 99;
    QTest::newRow("not a number") << QByteArray("[Settings]\nThreads=abc\n") << 99;
    QTest::newRow("trailing letters") << QByteArray("[Settings]\nThreads=12abc\n") << 99;
    QTest::newRow("empty") << QByteArray("[Settings]\nThreads=\n") << 99;
    QTest::newRow("too large") << QByteArray("[Settings]\nThreads=99999999999\n") << 99;
    QTest::newRow("first section wins")
        << QByteArray("[Settings]\nThreads=1\n[Settings]\nThreads=2\n") << 1;
    QTest::newRow("after a byte-order mark")
        << QByteArray("\xEF\xBB\xBF[Settings]\nThreads=5\n") << 5;
    QTest::newRow("comment is no key") << QByteArray("[Settings]\n;Threads=5\n") << 99;
  }
  void ReadsIntegers() {
    QFETCH(QByteArray, file);
    QFETCH(int, expected);
    const IniDocument ini(file.toStdString());
    QCOMPARE(ini.ReadInteger("Settings", "Threads", 99), expected);
  }

  void DefaultsWithoutFile() {
    QTemporaryDir folder;
    const auto stored = mirava::app::ReadSettings((folder.path() + "/settings.ini").toStdString());
    QCOMPARE(stored.UseProxy, false);
    QCOMPARE(stored.Threads, 1);
    QVERIFY(!stored.Interval.has_value());
  }

  void AnyNonZeroUseProxyMeansTicked() {
    QTemporaryDir folder;
    const QString path = folder.path() + "/settings.ini";
    WriteBytes(path, "[Settings]\r\nUseProxy=2\r\nInterval=x\r\n");
    const auto stored = mirava::app::ReadSettings(path.toStdString());
    QCOMPARE(stored.UseProxy, true);
    QVERIFY(!stored.Interval.has_value());
  }

  // Everything but the three keys survives byte for byte: other sections, comments, other keys,
  // LF line ends and an unterminated last line.
  void WritingKeepsTheRestOfTheFile() {
    QTemporaryDir folder;
    const QString path = folder.path() + "/settings.ini";
    WriteBytes(path, "; kept\n[Window]\nLeft=5\n\n[settings]\nthreads=5\nOther=x\n\n[Tail]\nKey=v");
    for (const auto& [key, value] :
         {std::pair{"UseProxy", 1}, std::pair{"Threads", 40}, std::pair{"Interval", 0}}) {
      mirava::app::WriteSetting(path.toStdString(), key, value);
    }
    QCOMPARE(ReadBytes(path),
             QByteArray("; kept\n[Window]\nLeft=5\n\n[settings]\nThreads=40\nOther=x\n"
                        "UseProxy=1\r\nInterval=0\r\n\n[Tail]\nKey=v"));
  }

  void WritingCreatesAMissingFile() {
    QTemporaryDir folder;
    const QString path = folder.path() + "/settings.ini";
    mirava::app::WriteSetting(path.toStdString(), "UseProxy", 0);
    mirava::app::WriteSetting(path.toStdString(), "Threads", 3);
    QCOMPARE(ReadBytes(path), QByteArray("[Settings]\r\nUseProxy=0\r\nThreads=3\r\n"));

    WriteBytes(path, "[Other]\r\nA=1");
    mirava::app::WriteSetting(path.toStdString(), "Interval", 10);
    QCOMPARE(ReadBytes(path), QByteArray("[Other]\r\nA=1\r\n\r\n[Settings]\r\nInterval=10\r\n"));
  }

  // A settings.ini that cannot be replaced (here a folder of that name) is reported with its
  // name, and no temporary file is left behind.
  void UnwritableFileThrowsWithItsName() {
    QTemporaryDir folder;
    const QString path = folder.path() + "/settings.ini";
    QVERIFY(QDir().mkdir(path));
    try {
      mirava::app::WriteSetting(path.toStdString(), "Threads", 2);
      QFAIL("no error");
    } catch (const std::system_error& error) {
      QVERIFY(QString::fromUtf8(error.what()).contains("settings.ini"));
    }
    QVERIFY(!QFile::exists(path + ".tmp"));
  }
};

MIRAVA_APP_TEST(SettingsTest)
#include "settings_test.moc"
