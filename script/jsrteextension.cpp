#include "jsrteextension.h"

class JsRteExtensionPrivate
{
public:
    QString m_name;
};

JsRteExtension::JsRteExtension(QObject* parent)
    : QObject(parent)
    , d(new JsRteExtensionPrivate)
{
}

JsRteExtension::~JsRteExtension() = default;

QString JsRteExtension::name() const
{
    return d->m_name;
}

void JsRteExtension::setName(const QString& name)
{
    d->m_name = name;
}

void JsRteExtension::install(QScriptEngine*, QScriptValue&)
{
}

void JsRteExtension::resume()
{
}

void JsRteExtension::suspend()
{
}
