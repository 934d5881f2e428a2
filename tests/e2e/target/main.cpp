// The end-to-end tests' target application (see tests/e2e/support/TargetApp.h):
// each field's content goes to <dir>/<name>.txt on every change, each key
// chord a field receives to a line of <dir>/keys.txt; commands arrive one per
// line on stdin and are answered with "ok" or an error line.

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0)
        file.commit();
}

void answer(const QByteArray &line)
{
    std::fputs((line + '\n').constData(), stdout);
    std::fflush(stdout);
}

QString decoded(const QByteArray &token)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(token));
}

// Appends each chord that reaches the focused field, modifiers alone aside.
class KeyLog : public QObject {
public:
    explicit KeyLog(const QString &path) : m_path(path) { writeFile(path, QString()); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || watched != QApplication::focusWidget())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control || key->key() == Qt::Key_Alt
            || key->key() == Qt::Key_Meta)
            return false;
        QFile file(m_path);
        if (file.open(QIODevice::Append))
            file.write(QKeySequence(key->keyCombination()).toString(QKeySequence::PortableText).toUtf8() + '\n');
        return false;
    }

private:
    QString m_path;
};

class TargetWindow : public QWidget {
public:
    explicit TargetWindow(const QString &directory)
    {
        setWindowTitle(QStringLiteral("Tavrune test target"));
        auto *layout = new QVBoxLayout(this);
        m_line = new QLineEdit(this);
        m_line->setAccessibleName(QStringLiteral("line"));
        m_area = new QPlainTextEdit(this);
        m_area->setAccessibleName(QStringLiteral("area"));
        m_password = new QLineEdit(this);
        m_password->setAccessibleName(QStringLiteral("password"));
        m_password->setEchoMode(QLineEdit::Password);
        layout->addWidget(m_line);
        layout->addWidget(m_area);
        layout->addWidget(m_password);
        resize(480, 320);
        auto file = [directory](QWidget *w) { return directory + QLatin1Char('/') + w->accessibleName() + QStringLiteral(".txt"); };
        for (QLineEdit *edit : {m_line, m_password})
            connect(edit, &QLineEdit::textChanged, this, [path = file(edit)](const QString &text) { writeFile(path, text); });
        connect(m_area, &QPlainTextEdit::textChanged, this, [this, path = file(m_area)] { writeFile(path, m_area->toPlainText()); });
        for (QWidget *w : {static_cast<QWidget *>(m_line), static_cast<QWidget *>(m_area), static_cast<QWidget *>(m_password)})
            writeFile(file(w), QString());
    }

    QByteArray handle(const QList<QByteArray> &words)
    {
        const QByteArray verb = words.value(0);
        QLineEdit *line = words.value(1) == "line" ? m_line : words.value(1) == "password" ? m_password : nullptr;
        if (verb == "focus") {
            activateWindow();
            raise();
            line ? line->setFocus() : m_area->setFocus();
        } else if (verb == "set") {
            const QString text = decoded(words.value(2));
            line ? line->setText(text) : m_area->setPlainText(text);
            if (!line)
                m_area->moveCursor(QTextCursor::End);
        } else if (verb == "readonly") {
            const bool on = words.value(2) == "1";
            line ? line->setReadOnly(on) : m_area->setReadOnly(on);
        } else if (verb == "select") {
            const int start = words.value(2).toInt(), end = words.value(3).toInt();
            if (line) {
                line->setSelection(start, end - start);
            } else {
                QTextCursor cursor = m_area->textCursor();
                cursor.setPosition(start);
                cursor.setPosition(end, QTextCursor::KeepAnchor);
                m_area->setTextCursor(cursor);
            }
        } else if (verb == "copy") {
            auto *data = new QMimeData;
            data->setText(decoded(words.value(1)));
            data->setHtml(decoded(words.value(2)));
            QApplication::clipboard()->setMimeData(data);
        } else if (verb == "quit") {
            QApplication::quit();
        } else {
            return "error unknown command " + verb;
        }
        return "ok";
    }

private:
    QLineEdit *m_line;
    QPlainTextEdit *m_area;
    QLineEdit *m_password;
};

} // namespace

int main(int argc, char **argv)
{
    // arguments: --dir <directory> [--accessible]
    const QString directory = argc > 2 ? QFile::decodeName(argv[2]) : QString();
    const bool accessible = argc > 3 && QByteArray(argv[3]) == "--accessible";
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv(accessible ? "QT_LINUX_ACCESSIBILITY_ALWAYS_ON" : "NO_AT_BRIDGE", "1");
    QApplication app(argc, argv);
    TargetWindow window(directory);
    KeyLog keys(directory + QStringLiteral("/keys.txt"));
    app.installEventFilter(&keys);
    window.show();
    window.activateWindow();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &window, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            QApplication::quit();
            return;
        }
        pending.append(chunk, n);
        qsizetype newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(newline);
            pending.remove(0, newline + 1);
            const QByteArray reply = window.handle(line.split(' '));
            // let the change reach the screen and the accessibility bus first
            QApplication::processEvents();
            answer(reply);
        }
    });

    // ready once the window is active, so focus commands work; without a
    // window manager it may never be, so give up waiting after a while
    bool announced = false;
    auto announce = [&](bool force) {
        if (announced || (!force && !window.isActiveWindow()))
            return;
        announced = true;
        answer("ready " + QByteArray::number(quint64(window.winId())));
    };
    QObject::connect(&app, &QApplication::focusChanged, &window, [&] { announce(false); });
    QMetaObject::invokeMethod(&window, [&] { announce(false); }, Qt::QueuedConnection);
    QTimer::singleShot(3000, &window, [&] { announce(true); });
    return app.exec();
}
