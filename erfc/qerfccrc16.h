#ifndef QERFCCRC16_H
#define QERFCCRC16_H

#include <QByteArray>
#include <QObject>

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
class QErfcCrc16 : public QObject
{
    Q_OBJECT
public:
    static void init(quint16* crc);
    static void update(const uchar* data, uint length, quint16* crc);
    static quint16 calculate(const QByteArray& data, qint64 length = -1);

private:
    QErfcCrc16() = delete;
};

#endif // QERFCCRC16_H
