#ifndef LOGDOCKWIDGET_H
#define LOGDOCKWIDGET_H

#include <QDockWidget>

#include <memory>

class LogDockWidgetPrivate;

// A dockable, read-only text log. Each message gets a time stamp; messages
// are collected and appended to the view at most every 100 ms, so a burst of
// messages costs one redraw. Text is shown literally (never as markup).
class LogDockWidget : public QDockWidget
{
    Q_OBJECT
public:
    explicit LogDockWidget(const QString& title, QWidget* parent = nullptr);
    ~LogDockWidget() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Adds one message; GUI thread only (other threads connect queued).
    void onPrintMessage(const QString& message);
    void onPrintBufferTimerTimeout();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Q_DISABLE_COPY(LogDockWidget)
    std::unique_ptr<LogDockWidgetPrivate> d;
};

#endif // LOGDOCKWIDGET_H
