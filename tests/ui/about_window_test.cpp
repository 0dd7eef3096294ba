// The About window, its link label and the JPEG picture it shows.
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "components/link_label_qeb.h"
#include "program_info.h"
#include "windows/jpeg_picture.h"
#include "windows/veldrano_f4.h"

using veldrano::DecodeJpeg;
using veldrano::TForm4;
using veldrano::TLinkLabelQeb;

namespace {

QByteArray ResourcePicture() {
  QFile file(QStringLiteral(":/about_qr.jpg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

double LayoutScale() { return QGuiApplication::primaryScreen()->logicalDotsPerInch() / 96.0; }
int Px(int value) { return qRound(value * LayoutScale()); }

}  // namespace

class AboutWindowTest : public QObject {
  Q_OBJECT

 public slots:
  // Stands in for the browser: the desktop services hand us every web URL.
  void captureUrl(const QUrl& url) { opened_.append(url); }

 private slots:
  void initTestCase() {
    Q_INIT_RESOURCE(resources);
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "captureUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "captureUrl");
  }
  void cleanupTestCase() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  }
  void init() { opened_.clear(); }

  void pictureDecodesToAQrCode() {
    const QByteArray data = ResourcePicture();
    QVERIFY(!data.isEmpty());
    const QImage picture = DecodeJpeg(data);
    QCOMPARE(picture.format(), QImage::Format_RGB888);
    QCOMPARE(picture.size(), QSize(132, 132));

    int dark = 0, light = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) {
        const int grey = qGray(picture.pixel(x, y));
        dark += grey < 64;
        light += grey > 192;
      }
    const int total = picture.width() * picture.height();
    QVERIFY2(dark > total / 5 && light > total / 5, "not a mix of dark and light modules");
    QVERIFY2(dark + light > total * 9 / 10, "too many blurred grey pixels");
    // White quiet zone at the corner, black outer ring of the top-left finder.
    QVERIFY(qGray(picture.pixel(2, 2)) > 192);
    QVERIFY(qGray(picture.pixel(18, 18)) < 64);
  }

  void damagedPictureDecodesToNull_data() {
    QTest::addColumn<QByteArray>("data");
    const QByteArray good = ResourcePicture();
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a jpeg") << QByteArray("definitely not a picture, just text");
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8\xFF\xD9", 4);
    QTest::newRow("truncated in the scan") << good.left(good.size() / 2);
    QByteArray noFrame = good;
    const qsizetype sof = noFrame.indexOf(QByteArray("\xFF\xC0", 2));
    noFrame[sof + 1] = char(0xCF);  // an SOF kind libjpeg does not support
    QTest::newRow("unsupported frame") << noFrame;
  }
  void damagedPictureDecodesToNull() {
    QFETCH(QByteArray, data);
    QVERIFY(DecodeJpeg(data).isNull());
  }

  void linkLabelLooksLikeALink() {
    TLinkLabelQeb label;
    QCOMPARE(label.text(), QStringLiteral("https://veldrano.org"));
    QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(label.font().bold());
    QVERIFY(label.font().underline());
    QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(label.autoFillBackground());
    // Blue text stays readable: the background is light whatever the theme.
    QVERIFY(label.palette().color(QPalette::Window).lightness() >= 160);
  }

  void clicOpensTheCurrentCaption() {
    TLinkLabelQeb label;
    label.resize(200, 20);
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(opened_, QList<QUrl>{QUrl(QStringLiteral("https://veldrano.org"))});

    label.setText(QStringLiteral("example.org/docs"));
    label.Clic();
    QCOMPARE(opened_.size(), 2);
    QCOMPARE(opened_.last(), QUrl(QStringLiteral("http://example.org/docs")));

    // A press that is released off the label or with another button is no click.
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(300, 5));
    QTest::mouseClick(&label, Qt::RightButton);
    QCOMPARE(opened_.size(), 2);
  }

  void aboutWindowLayout() {
    TForm4 form;
    QCOMPARE(form.objectName(), QStringLiteral("Form4"));
    QCOMPARE(form.windowTitle(), QStringLiteral("VELDRANO"));
    const QSize client(Px(410), Px(210));
    QCOMPARE(form.minimumSize(), client);
    QCOMPARE(form.maximumSize(), client);
    const Qt::WindowFlags flags = form.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));

    QCOMPARE(form.Label2->text(), QStringLiteral("Quickly find the identical files comparing their contents..."));
    QVERIFY(form.Label2->font().bold());
    QCOMPARE(form.Label1->text(), QStringLiteral("VELDRANO"));
    QVERIFY(form.Label1->font().bold());
    QCOMPARE(form.Label3->text(), QStringLiteral("Version ") + QString::fromLatin1(veldrano::ProgramVersion));
    QCOMPARE(form.LinkLabelQeb1->text(), QStringLiteral("https://veldrano.org"));
    QCOMPARE(form.btnOK->text(), QStringLiteral("OK"));
    QVERIFY(!form.btnOK->icon().isNull());
    QVERIFY(form.btnOK->isDefault());

    // No text is clipped, no control overlaps another or leaves the window.
    const QList<QWidget*> controls{form.Label2, form.Image1, form.Label1, form.Label3, form.LinkLabelQeb1, form.btnOK};
    for (QLabel* label : {form.Label2, form.Label1, form.Label3, static_cast<QLabel*>(form.LinkLabelQeb1)}) {
      QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
      QVERIFY2(label->height() >= label->sizeHint().height(), qPrintable(label->objectName()));
    }
    for (int i = 0; i < controls.size(); ++i) {
      QVERIFY2(form.rect().contains(controls[i]->geometry()), qPrintable(controls[i]->objectName()));
      for (int j = i + 1; j < controls.size(); ++j)
        QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                 qPrintable(controls[i]->objectName() + " / " + controls[j]->objectName()));
    }

    // The picture at its own size in the top-left corner of a larger box.
    QCOMPARE(form.Image1->geometry(), QRect(Px(16), Px(44), Px(137), Px(137)));
    const QImage picture = DecodeJpeg(ResourcePicture());
    QCOMPARE(form.Image1->pixmap().size(), picture.size());
    QVERIFY(!form.Image1->hasScaledContents());
    form.Image1->setAutoFillBackground(true);
    QPalette palette = form.Image1->palette();
    palette.setColor(QPalette::Window, Qt::red);
    form.Image1->setPalette(palette);
    const QImage shown = form.Image1->grab().toImage().convertToFormat(QImage::Format_RGB888);
    QCOMPARE(shown.copy(0, 0, 132, 132), picture);
    QCOMPARE(shown.pixelColor(134, 134), QColor(Qt::red));
  }

  void aboutWindowCloses_data() {
    QTest::addColumn<int>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("Enter") << 0 << int(QDialog::Accepted);
    QTest::newRow("OK") << 1 << int(QDialog::Accepted);
    QTest::newRow("close box") << 2 << int(QDialog::Rejected);
  }
  void aboutWindowCloses() {
    QFETCH(int, how);
    QFETCH(int, result);
    TForm4 form;
    bool checked = false;
    QTimer::singleShot(0, &form, [&] {
      QVERIFY(form.isVisible() && form.isModal());
      const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
      QVERIFY((form.geometry().center() - centre).manhattanLength() <= 2);
      QCOMPARE(form.focusWidget(), form.btnOK);
      // The link opens our site and leaves the window open.
      QTest::mouseClick(form.LinkLabelQeb1, Qt::LeftButton);
      QCOMPARE(opened_, QList<QUrl>{QUrl(QStringLiteral("https://veldrano.org"))});
      QVERIFY(form.isVisible());
      checked = true;
    });
    QTimer::singleShot(10, &form, [&] {
      switch (how) {
        case 0: QTest::keyClick(form.focusWidget() ? form.focusWidget() : &form, Qt::Key_Return); break;
        case 1: QTest::mouseClick(form.btnOK, Qt::LeftButton); break;
        default: form.close();
      }
    });
    // Ends a showing that the key or click failed to close.
    QTimer guard;
    guard.setSingleShot(true);
    guard.setInterval(3000);
    connect(&guard, &QTimer::timeout, &form, [&] { form.done(-1); });
    guard.start();
    QCOMPARE(form.exec(), result);
    QVERIFY(checked);
    QVERIFY(!form.isVisible());

    // Nothing changes between showings: it opens and closes again.
    QTimer::singleShot(0, &form, [&] { QTest::keyClick(form.btnOK, Qt::Key_Return); });
    guard.start();
    QCOMPARE(form.exec(), int(QDialog::Accepted));
  }

 private:
  QList<QUrl> opened_;
};

QTEST_MAIN(AboutWindowTest)
#include "about_window_test.moc"
