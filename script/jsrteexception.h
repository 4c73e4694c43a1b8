#ifndef JSRTEEXCEPTION_H
#define JSRTEEXCEPTION_H

#include <QException>

// The exception of the script engine's own operations. It carries one error
// code and no other text; what() gives the code's name.
class JsRteException : public QException
{
public:
    enum Error {
        None = 0,
        NameAlreadyUsed = 1,
        NotInitialised = 2,
        AlreadyInitialised = 3,
        FileNotExists = 4,
        CantOpenFile = 5,
        UiFileNotExists = 6,
        CantOpenUiFile = 7,
        CantExtractPackage = 8,
        StartScriptIsMissing = 9
    };

    explicit JsRteException(int code);
    ~JsRteException() override;

    int code() const;
    const char* what() const noexcept override;
    void raise() const override;
    JsRteException* clone() const override;

private:
    int m_code;
};

#endif // JSRTEEXCEPTION_H
