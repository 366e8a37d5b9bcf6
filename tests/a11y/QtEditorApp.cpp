// A tiny Qt editor for the desktop tests: a one-line field and a multi-line field.
//   corvane_test_qt_editor [--line TEXT] [--plain TEXT] [--focus line|plain] [--dump FILE]
//                          [--offer MIME=FILE]...
// With --dump, both texts are written to FILE (line, a NUL byte, plain) after every change, so a
// test can check the field without going through the accessibility bus. Each --offer puts the
// file's bytes on the clipboard under that MIME type (all of them in one clipboard content).
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QCommandLineParser>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption line(QStringLiteral("line"), QStringLiteral("line text"), QStringLiteral("text"));
    QCommandLineOption plain(QStringLiteral("plain"), QStringLiteral("plain text"), QStringLiteral("text"));
    QCommandLineOption focus(QStringLiteral("focus"), QStringLiteral("focused field"), QStringLiteral("field"),
                             QStringLiteral("line"));
    QCommandLineOption dump(QStringLiteral("dump"), QStringLiteral("dump file"), QStringLiteral("file"));
    QCommandLineOption offer(QStringLiteral("offer"), QStringLiteral("clipboard format"), QStringLiteral("mime=file"));
    parser.addOptions({line, plain, focus, dump, offer});
    parser.process(app);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Corvane test editor"));
    auto* layout = new QVBoxLayout(&window);
    auto* lineEdit = new QLineEdit(parser.value(line));
    lineEdit->setObjectName(QStringLiteral("line"));
    auto* plainEdit = new QPlainTextEdit(parser.value(plain));
    plainEdit->setObjectName(QStringLiteral("plain"));
    layout->addWidget(lineEdit);
    layout->addWidget(plainEdit);

    const QString dumpPath = parser.value(dump);
    auto writeDump = [=] {
        if (dumpPath.isEmpty())
            return;
        QSaveFile file(dumpPath);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(lineEdit->text().toUtf8() + '\0' + plainEdit->toPlainText().toUtf8());
        file.commit();
    };
    QObject::connect(lineEdit, &QLineEdit::textChanged, writeDump);
    QObject::connect(plainEdit, &QPlainTextEdit::textChanged, writeDump);
    writeDump();

    if (parser.isSet(offer)) {
        auto* data = new QMimeData;
        for (const QString& item : parser.values(offer)) {
            QFile file(item.section(QLatin1Char('='), 1));
            if (file.open(QIODevice::ReadOnly))
                data->setData(item.section(QLatin1Char('='), 0, 0), file.readAll());
        }
        QGuiApplication::clipboard()->setMimeData(data);
    }

    window.resize(480, 320);
    window.show();
    if (parser.value(focus) == QLatin1String("plain"))
        plainEdit->setFocus();
    else
        lineEdit->setFocus();
    window.activateWindow();
    return app.exec();
}
