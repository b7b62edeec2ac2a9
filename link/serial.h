#pragma once

#include <QObject>
#include <QString>
#include <QSerialPort>
#include <cstdint>

// Receive ring: one received byte per slot, sign-extended as the controller
// link always stored them. One slot stays free, so at most size - 1 bytes wait.
struct RxRing
{
    static constexpr int kSize = 4095;
    std::int32_t writePos = 0;
    std::int32_t readPos = 0;
    std::int32_t size = kSize;
    std::int32_t cells[kSize] = {};
};

class Serial_c : public QObject
{
    Q_OBJECT
public:
    // Longest line handed on, line feed included.
    static constexpr int kMaxLine = 300;

    Serial_c(QObject *parent, const QString &productId);
    ~Serial_c() override;

    bool IsOpen() const;
    QString PortName() const;
    void SetPortName(const QString &name);
    void Mute();
    void Unmute();
    bool IsMuted() const { return muted; }

    // The work of ReadData after the port's bytes have been read: store them
    // in the ring and emit the complete lines. Public so that the receive
    // path can be driven with plain bytes.
    void ProcessBytes(const QByteArray &bytes);

    // Cuts count lines out of the ring.
    void ExtractLines(int count);

    const RxRing &Ring() const { return *ring; }
    QSerialPort *Port() const { return port; }

    // The reaction to one error code of the port, whatever raised it. Public
    // so that errors a pseudo-terminal never raises can be driven too.
    void HandleError(QSerialPort::SerialPortError error);

signals:
    void LineReceived(QString line);
    void ConnectionChanged(bool connected);

public slots:
    void ReadData();
    bool CheckPid();
    int OpenPort(bool open = true);
    void Write(QString str);
    void WriteLn(QString str);
    void ReactToError();

private:
    void ClosePort();

    bool muted = false;
    QSerialPort *port = nullptr;
    RxRing *ring = nullptr;
    QString productId;
    // Set while our own close() runs: closing a vanished device raises
    // errors of its own, which must not start a second disconnect.
    bool closing = false;
};
