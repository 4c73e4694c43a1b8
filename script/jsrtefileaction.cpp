#include "jsrtefileaction_p.h"

JsRteFileAction::JsRteFileAction(Kind kind, int id)
    : m_id(id)
    , m_kind(kind)
{
}

JsRteFileAction::~JsRteFileAction() = default;

void JsRteFileAction::dropScriptValues()
{
    m_thisObject = QScriptValue();
    m_okFunction = QScriptValue();
    m_errorFunction = QScriptValue();
    m_alwaysFunction = QScriptValue();
}
