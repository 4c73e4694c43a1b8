#include "qerfcexception.h"

namespace {
const char* const codeNames[] = {
    "StackEnabled", "StackDisabled", "InterfaceBindError", "InterfaceReleaseError",
    "RegisterIdError", "DescriptionError", "PayloadError", "AddressError",
    "FunctionIdError", "FunctionRegisterError", "EventIdError", "EventRegisterError",
    "EventNotRegistered", "BroadcastNotAllowed", "NoResponseEnabled", "TimeoutError",
};
}

QErfcException::QErfcException(int code)
    : m_code(code)
{
}

QErfcException::~QErfcException() = default;

int QErfcException::code() const
{
    return m_code;
}

const char* QErfcException::what() const noexcept
{
    if (m_code >= 0 && m_code < int(sizeof(codeNames) / sizeof(codeNames[0])))
        return codeNames[m_code];
    return "UnknownError";
}

void QErfcException::raise() const
{
    throw *this;
}

QErfcException* QErfcException::clone() const
{
    return new QErfcException(*this);
}
