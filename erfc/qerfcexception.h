#ifndef QERFCEXCEPTION_H
#define QERFCEXCEPTION_H

#include <QException>
#include <QMetaType>

// The exception of the stack's own operations.
class QErfcException : public QException
{
public:
    enum Code {
        StackEnabled = 0,
        StackDisabled = 1,
        InterfaceBindError = 2,
        InterfaceReleaseError = 3,
        RegisterIdError = 4,
        DescriptionError = 5,
        PayloadError = 6,
        AddressError = 7,
        FunctionIdError = 8,
        FunctionRegisterError = 9,
        EventIdError = 10,
        EventRegisterError = 11,
        EventNotRegistered = 12,
        BroadcastNotAllowed = 13,
        NoResponseEnabled = 14,
        TimeoutError = 15
    };

    explicit QErfcException(int code = StackEnabled);
    ~QErfcException() override;

    int code() const;
    const char* what() const noexcept override;
    void raise() const override;
    QErfcException* clone() const override;

private:
    int m_code;
};

Q_DECLARE_METATYPE(QErfcException)

#endif // QERFCEXCEPTION_H
