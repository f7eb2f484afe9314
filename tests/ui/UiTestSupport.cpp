#include "UiTestSupport.h"

#include "ui/Icons.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdlib>

namespace vm::ui::test {

CScriptedPrompter::CScriptedPrompter() { SetPrompter(this); }
CScriptedPrompter::~CScriptedPrompter() { SetPrompter(nullptr); }

Answer CScriptedPrompter::Ask(QWidget*, const QString& text, const QString& caption, Buttons buttons, PromptIcon) {
    Asked << caption + ": " + text;
    if (!Answers.isEmpty()) return Answers.takeFirst();
    switch (buttons) {
        case Buttons::Ok: return Answer::Ok;
        case Buttons::YesNo: return Answer::No;
        default: return Answer::Cancel;
    }
}

QString CScriptedPrompter::ChooseFolder(QWidget*, const QString& title, const QString&) {
    Choosers << title;
    return Paths.isEmpty() ? QString() : Paths.takeFirst();
}

QString CScriptedPrompter::ChooseOpenFile(QWidget*, const QString& title, const QString&, const QString&) {
    Choosers << title;
    return Paths.isEmpty() ? QString() : Paths.takeFirst();
}

QStringList CScriptedPrompter::ChooseOpenFiles(QWidget*, const QString& title, const QString&, const QString&) {
    Choosers << title;
    QStringList all = Paths;
    Paths.clear();
    return all;
}

QString CScriptedPrompter::ChooseSaveFile(QWidget*, const QString& title, const QString&, const QString&) {
    Choosers << title;
    return Paths.isEmpty() ? QString() : Paths.takeFirst();
}

QImage Screenshot(QWidget* widget, const QString& name, QSize size) {
    if (size.isValid()) widget->resize(size);
    widget->show();
    QApplication::processEvents();
    const QImage image = widget->grab().toImage();
    const QByteArray dir = qgetenv("VELLUMARK_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(QString::fromLocal8Bit(dir));
        image.save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
    }
    return image;
}

bool IsOneColour(const QImage& image) {
    if (image.isNull()) return true;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first) return false;
    return true;
}

void CheckScreenshot(QWidget* widget, const QString& name, QSize size) {
    const QImage image = Screenshot(widget, name, size);
    QVERIFY2(!image.isNull(), qPrintable(name));
    QCOMPARE(image.size(), size * widget->devicePixelRatioF());
    QVERIFY2(!IsOneColour(image), qPrintable(name + " is one colour"));
    const QByteArray dir = qgetenv("VELLUMARK_SCREENSHOT_DIR");
    if (!dir.isEmpty()) QVERIFY(QFileInfo::exists(QString::fromLocal8Bit(dir) + "/" + name + ".png"));
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return done();
        QTest::qWait(20);
    }
    return true;
}

QString FixturePath(const QString& name) {
    const QString path = QStringLiteral(VM_FIXTURE_DIR) + "/" + name;
    if (!QFileInfo::exists(path)) qWarning("fixture %s missing", qPrintable(path));
    return path;
}

int RunUiTest(int argc, char** argv, QObject* test) {
    static QTemporaryDir home;  // lives until the program ends
    for (const char* sub : {"config", "data", "tmp"}) QDir(home.path()).mkpath(sub);
    qputenv("VELLUMARK_CONFIG_DIR", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    qputenv("TMPDIR", (home.path() + "/tmp").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    LoadResources();
    QApplication::setFont(QFont("DejaVu Sans", 9));
    return QTest::qExec(test, argc, argv);
}

}  // namespace vm::ui::test
