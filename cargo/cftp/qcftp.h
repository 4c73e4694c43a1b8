#ifndef QCFTP_H
#define QCFTP_H

#include <QByteArray>
#include <QMetaType>
#include <QString>

// Shared types of the CFTP file transfer: response codes and the client's and
// server's states are plain integers, registered under these names so that
// they travel through queued signals.
namespace QCFTP {

typedef int ResponseCode;

enum : int {
    Success = 0,
    WrongParameters = 1,     // also an answer the client cannot read
    PathDoesNotExist = 8,
    PathIsNotAFile = 9,
    ActionNotAllowed = 20,
    UnknownCommand = 125,
    NotLoggedIn = 126,
    ConnectionLost = 127     // made by the client itself, never sent
};

namespace Client {
typedef int State;
enum : int {
    Disconnected = 0,
    Connecting = 1,
    Connected = 2,     // the handshake goes out at once
    Handshaking = 3,
    HandshakeDone = 4, // the login goes out at once
    LoggingIn = 5,
    Ready = 6,
    Busy = 7
};
} // namespace Client

namespace Server {
typedef int State;
enum : int {
    Closed = 0,
    BeginListening = 1,
    Listening = 2,
    ClientConnecting = 3,
    ClientConnected = 4, // not logged in
    LoggedIn = 5
};
} // namespace Server

// Largest file either side takes in one STR or GET.
constexpr qint64 MaxFileSize = qint64(1) << 30;
// Largest header (the lines up to the empty one) a side reads.
constexpr qint64 MaxRequestHeader = qint64(64) << 10;
constexpr qint64 MaxResponseHeader = qint64(16) << 20;

// The login token for a password and the server's challenge: the MD5 of
// MD5(password as Latin-1) XOR the challenge's first 16 bytes, as 32
// lower-case hex digits. A challenge under 16 bytes gives the MD5 of nothing.
QByteArray loginToken(const QString& password, const QByteArray& challenge);

// Registers "QCFTP::ResponseCode", "QCFTP::Client::State" and "QCFTP::Server::State".
void registerMetaTypes();

} // namespace QCFTP

#endif // QCFTP_H
