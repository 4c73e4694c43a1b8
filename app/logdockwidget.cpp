#include "logdockwidget.h"

#include "appresources.h"
#include "expandtabs.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QFontInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

namespace {

constexpr int FlushIntervalMs = 100;
constexpr int TabWidth = 8;

} // namespace

class LogDockWidgetPrivate
{
public:
    QTextEdit* m_textEdit = nullptr;
    QPushButton* m_clearButton = nullptr;
    // Formatted entries not yet shown; each ends with a line feed.
    QString m_pending;
    QTimer m_flushTimer;

    void scrollToBottom()
    {
        QScrollBar* bar = m_textEdit->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
};

LogDockWidget::LogDockWidget(const QString& title, QWidget* parent)
    : QDockWidget(title, parent)
    , d(new LogDockWidgetPrivate)
{
    initAppResources();

    d->m_textEdit = new QTextEdit(this);
    d->m_textEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    d->m_textEdit->setAcceptRichText(false);
    d->m_textEdit->setReadOnly(true);
    // Nothing is ever undone in a read-only view: an undo history would only
    // keep a second copy of every line appended.
    d->m_textEdit->setUndoRedoEnabled(false);
    // Tab stops only line up in a fixed-width font; some platforms (or no
    // desktop theme) answer the fixed-font question with a proportional one.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
        font.setFamily(QStringLiteral("monospace"));
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    }
    font.setPointSize(8);
    d->m_textEdit->setFont(font);

    d->m_clearButton = new QPushButton(d->m_textEdit);
    d->m_clearButton->setIcon(QIcon(QStringLiteral(":/img/resource/delete.png")));
    // The corner is as small as the scroll bar is wide.
    d->m_clearButton->setIconSize(QSize(12, 12));
    d->m_clearButton->setToolTip(tr("Clear"));
    d->m_clearButton->setFlat(true);
    d->m_clearButton->setFocusPolicy(Qt::NoFocus);
    d->m_textEdit->setCornerWidget(d->m_clearButton);
    // Clears what is shown; messages still pending appear at the next flush.
    connect(d->m_clearButton, &QPushButton::clicked, d->m_textEdit, &QTextEdit::clear);

    setWidget(d->m_textEdit);

    d->m_flushTimer.setInterval(FlushIntervalMs);
    d->m_flushTimer.setSingleShot(true);
    connect(&d->m_flushTimer, &QTimer::timeout, this, &LogDockWidget::onPrintBufferTimerTimeout);

    d->m_textEdit->installEventFilter(this);
}

LogDockWidget::~LogDockWidget() = default;

void LogDockWidget::onPrintMessage(const QString& message)
{
    QString text = QLatin1Char('[')
                   + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
                   + QLatin1String("] ") + message;
    text.remove(QLatin1Char('\r'));
    text = expandTabs(text, TabWidth);
    if (!text.endsWith(QLatin1Char('\n')))
        text.append(QLatin1Char('\n'));

    d->m_pending.append(text);
    if (!d->m_flushTimer.isActive())
        d->m_flushTimer.start();
}

void LogDockWidget::onPrintBufferTimerTimeout()
{
    const int end = d->m_pending.lastIndexOf(QLatin1Char('\n'));
    if (end < 0)
        return;
    const QString text = d->m_pending.left(end);
    d->m_pending.remove(0, end + 1);

    // The text goes in as plain text, one paragraph per line: markup in a
    // message is shown as typed. A view scrolled to the bottom follows the
    // new lines, as QTextEdit::append would.
    QScrollBar* bar = d->m_textEdit->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();

    QTextDocument* document = d->m_textEdit->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    cursor.endEditBlock();

    if (atBottom)
        d->scrollToBottom();
}

bool LogDockWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == d->m_textEdit && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_End) {
        d->scrollToBottom();
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}

void LogDockWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_End) {
        d->scrollToBottom();
        event->accept();
        return;
    }
    QDockWidget::keyPressEvent(event);
}
