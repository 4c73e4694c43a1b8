#ifndef CUSTOMUILOADER_P_H
#define CUSTOMUILOADER_P_H

#include <QUiLoader>

class JsRtePrivate;

// Builds script forms: widgets of a class that a registered factory serves
// are made by that factory, the rest by the standard loader.
class CustomUiLoader : public QUiLoader
{
    Q_OBJECT
public:
    explicit CustomUiLoader(JsRtePrivate* engine, QObject* parent = nullptr);
    ~CustomUiLoader() override;

    QWidget* createWidget(const QString& className, QWidget* parent = nullptr,
                          const QString& name = QString()) override;

private:
    JsRtePrivate* m_engine;
};

#endif // CUSTOMUILOADER_P_H
