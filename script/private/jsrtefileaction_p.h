#ifndef JSRTEFILEACTION_P_H
#define JSRTEFILEACTION_P_H

#include <QByteArray>
#include <QObject>
#include <QScriptValue>
#include <QString>

// One file operation a script asked for. Made on the GUI thread with no
// parent; the worker fills in what it found and signals the outcome once.
// The worker never touches the script values.
class JsRteFileAction : public QObject
{
    Q_OBJECT
public:
    enum Kind { Open = 0, Read = 1, Write = 2, Close = 3, Flush = 4 };

    explicit JsRteFileAction(Kind kind, int id = -1);
    ~JsRteFileAction() override;

    // Forgets the script values; for an action another thread frees.
    void dropScriptValues();

    // The handle's id; for an open -1 until the file is open.
    int m_id = -1;
    QString m_path;
    // Qt's open-mode flags, as the script gave them.
    int m_mode = 0;
    Kind m_kind;
    // A byte count, or -1 for everything, -2 for one line.
    int m_size = 0;
    // The bytes to write, or the bytes read.
    QByteArray m_data;

    QScriptValue m_thisObject;
    QScriptValue m_okFunction;
    QScriptValue m_errorFunction;
    QScriptValue m_alwaysFunction;

signals:
    void doneSignal();
    void errorSignal(QString message);

private:
    Q_DISABLE_COPY(JsRteFileAction)
};

#endif // JSRTEFILEACTION_P_H
