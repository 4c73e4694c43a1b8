#include "jsrteexception.h"

namespace {
const char* const errorNames[] = {
    "None", "NameAlreadyUsed", "NotInitialised", "AlreadyInitialised", "FileNotExists",
    "CantOpenFile", "UiFileNotExists", "CantOpenUiFile", "CantExtractPackage",
    "StartScriptIsMissing",
};
}

JsRteException::JsRteException(int code)
    : m_code(code)
{
}

JsRteException::~JsRteException() = default;

int JsRteException::code() const
{
    return m_code;
}

const char* JsRteException::what() const noexcept
{
    if (m_code >= 0 && m_code < int(sizeof(errorNames) / sizeof(errorNames[0])))
        return errorNames[m_code];
    return "UnknownError";
}

void JsRteException::raise() const
{
    throw *this;
}

JsRteException* JsRteException::clone() const
{
    return new JsRteException(*this);
}
