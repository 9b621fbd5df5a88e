#include "AppTestSupport.h"

#include "FileAdder.h"
#include "PropertyList.h"

#include <QApplication>
#include <QDataStream>
#include <QFile>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

int gArgc = 1;
char gArg0[] = "test_app";
char* gArgv[] = {gArg0, nullptr};

void put16(QByteArray& out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void put32(QByteArray& out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}

} // namespace

// The leak checker's suppressions (the same as lsan.supp, which the smoke
// test hands to the program): what the desktop's system libraries keep.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libxcb\nleak:libX11.so\nleak:libglib-2.0.so\n";
}

void EnsureApplication()
{
    if (!QApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(gArgc, gArgv);
        // As the application names itself: title bars show the name.
        QApplication::setApplicationDisplayName(QStringLiteral("Quillmarch"));
    }
}

int TitleBarNeeds(const QWidget* window)
{
    const QString bar = window->windowTitle() + QString::fromUtf8(" \u2014 ") + QGuiApplication::applicationDisplayName();
    return QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(bar) + 96;
}

int QuitWithCtrlQ(QWidget* window)
{
    QTimer press;
    press.setSingleShot(true);
    QObject::connect(&press, &QTimer::timeout, window, [window] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); });
    QTimer guard;  // the application stayed
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    press.start(0);
    guard.start(10000);
    return QCoreApplication::exec();
}

void WriteWave(const QString& path, int frames, int rate, int channels, int bits)
{
    const int bytesPerSample = bits / 8;
    const quint32 dataSize = quint32(frames) * quint32(channels * bytesPerSample);
    QByteArray out("RIFF");
    put32(out, 36 + dataSize);
    out.append("WAVEfmt ");
    put32(out, 16);
    put16(out, 1);
    put16(out, quint16(channels));
    put32(out, quint32(rate));
    put32(out, quint32(rate * channels * bytesPerSample));
    put16(out, quint16(channels * bytesPerSample));
    put16(out, quint16(bits));
    out.append("data");
    put32(out, dataSize);
    for (int i = 0; i < frames * channels; ++i) {
        const int value = (i % 200) * 16 - 1600;
        if (bytesPerSample == 1)
            out.append(char(quint8(128 + value / 256)));
        else if (bytesPerSample == 2)
            put16(out, quint16(qint16(value)));
        else {
            out.append(char(0));
            put16(out, quint16(qint16(value)));
        }
    }
    WriteText(path, out);
}

void WriteText(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

void AppTest::SetUp()
{
    EnsureApplication();
    m_defaults = std::make_unique<UserDefaults>(path(QStringLiteral("defaults.plist")));
    AppPresenter::setAlertAnswerer([this](const Alert& alert) {
        m_alerts.append(alert);
        return 1;
    });
    AppPresenter::setUrlOpener([](const QUrl&) { return true; });
}

void AppTest::TearDown()
{
    m_controller.reset();
    AppPresenter::setAlertAnswerer({});
    AppPresenter::setUrlOpener({});
}

void AppTest::storeDefaults(const QVariantMap& values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_defaults->setObject(it.key(), it.value());
    ASSERT_TRUE(m_defaults->synchronize());
    m_defaults = std::make_unique<UserDefaults>(path(QStringLiteral("defaults.plist")));
}

MainController& AppTest::startController()
{
    m_controller = std::make_unique<MainController>(*m_defaults);
    m_controller->fileAdder()->setPollInterval(10);
    m_controller->start();
    return *m_controller;
}

MainController& AppTest::startWithConversions(const QStringList& names,
                                             const std::function<void(ConvSpec&, int)>& setUp)
{
    QVariantList list;
    for (int i = 0; i < names.size(); ++i) {
        ConvSpecRef spec = ConvSpec::create();
        spec->setConversionName(names.at(i));
        if (setUp)
            setUp(*spec, i);
        list.append(spec->dictionary());
    }
    storeDefaults({{QStringLiteral("Conversions"), list}});
    return startController();
}

int AppTest::addAndWait(const QStringList& paths)
{
    QSignalSpy spy(m_controller.get(), &MainController::addingFinished);
    m_controller->setFilesToAdd(paths);
    if (!spy.wait(10000))
        return -1;
    return spy.takeFirst().at(0).toInt();
}

QStringList AppTest::listedNames() const
{
    QStringList names;
    for (const auto& file : m_controller->inputModel()->files())
        names.append(InputFileModel::lastComponent(*file));
    return names;
}
