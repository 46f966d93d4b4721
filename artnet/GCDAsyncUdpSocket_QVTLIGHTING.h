#pragma once
// The lighting library's asynchronous UDP endpoint: a non-blocking datagram socket (one IPv4 and
// one IPv6 OS socket at most) whose whole state lives on one private serial queue, the socket
// queue. Results reach a delegate on a delegate queue the user chooses.
//
// Threads: every public operation may be called from any thread. Operations with a result run
// synchronously on the socket queue (inline when the caller already runs there); the others are
// queued there, so a queued setter always takes effect before a later synchronous call.
// Readiness of the OS sockets is watched by one watcher thread per object, which only queues
// work onto the socket queue. Delegate callbacks are queued on the delegate queue, in event
// order, each holding the delegate alive for its call.
//
// On Linux a socket bound to one interface does not receive broadcasts to that interface's
// network. So an IPv4 socket with broadcast enabled that is bound to a named interface or
// address binds the wildcard address instead and drops datagrams that did not arrive on that
// interface.

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <optional>

class DispatchQueue;
class GCDAsyncUdpSocket_QVTLIGHTING;

extern const QString GCDAsyncUdpSocketErrorDomain;  // "GCDAsyncUdpSocketErrorDomain"
extern const QString GCDAsyncUdpSocketQueueName;    // "GCDAsyncUdpSocket": the socket queue's label
// The other error domains the socket reports in.
extern const QString GCDAsyncUdpSocketPOSIXErrorDomain;  // code = errno
extern const QString GCDAsyncUdpSocketNetDBErrorDomain;  // "kCFStreamErrorDomainNetDB"; code = resolver code

// Codes of GCDAsyncUdpSocketErrorDomain.
enum GCDAsyncUdpSocketError : long {
    GCDAsyncUdpSocketNoError = 0,
    GCDAsyncUdpSocketBadConfigError = 1,  // bad state for the operation
    GCDAsyncUdpSocketBadParamError = 2,   // bad argument
    GCDAsyncUdpSocketSendTimeoutError = 3,
    GCDAsyncUdpSocketClosedError = 4,
    GCDAsyncUdpSocketOtherError = 5,      // address family mismatch after resolution
};

struct GCDAsyncUdpSocketErrorInfo {
    QString domain;
    long code = 0;
    QString localizedDescription;
    QString failureReason;  // for POSIX errors: which call failed

    // {"NSLocalizedDescription": ..., "NSLocalizedFailureReason": ... (when set)}
    QVariantMap userInfo() const;
    // One readable line for logs: description, reason, domain and code.
    QString toString() const;
};

// All callbacks are optional (empty by default) and run on the delegate queue.
// `sock` identifies the sender; it may already be gone when the callback runs, so a delegate
// uses it only to compare, never to call.
class GCDAsyncUdpSocketDelegate {
public:
    virtual ~GCDAsyncUdpSocketDelegate() = default;
    virtual void udpSocketDidSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING* sock, long tag);
    // The datagram could not be resolved, routed, sent (an OS send error) or timed out.
    virtual void udpSocketDidNotSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING* sock, long tag,
                                                const GCDAsyncUdpSocketErrorInfo& error);
    // The exact bytes of one datagram (possibly empty) and the sender's socket-address record
    // (sockaddr_in or sockaddr_in6 bytes). No receive filters exist, so the context is always null.
    virtual void udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING* sock, const QByteArray& data,
                                         const QByteArray& address, void* filterContext);
    // After OS sockets that had been created were closed: no error after close(), the cause after
    // a failure.
    virtual void udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING* sock,
                                   const std::optional<GCDAsyncUdpSocketErrorInfo>& error);
};

class GCDAsyncUdpSocket_QVTLIGHTING {
public:
    // The delegate is held weakly, the delegate queue strongly. Creates the socket queue, labelled
    // GCDAsyncUdpSocketQueueName. No OS socket exists until an option call, a bind or a send.
    GCDAsyncUdpSocket_QVTLIGHTING(std::weak_ptr<GCDAsyncUdpSocketDelegate> delegate,
                                  std::shared_ptr<DispatchQueue> delegateQueue);
    // Closes synchronously (a didClose callback follows if OS sockets existed and the delegate
    // is alive), then stops the watcher and the queues. Must not run on the socket queue.
    ~GCDAsyncUdpSocket_QVTLIGHTING();
    GCDAsyncUdpSocket_QVTLIGHTING(const GCDAsyncUdpSocket_QVTLIGHTING&) = delete;
    GCDAsyncUdpSocket_QVTLIGHTING& operator=(const GCDAsyncUdpSocket_QVTLIGHTING&) = delete;

    // Both families are enabled at creation. Queued; they apply to OS sockets made afterwards.
    void setIPv4Enabled(bool enabled);
    void setIPv6Enabled(bool enabled);

    // Each needs a live delegate and a delegate queue, creates the OS sockets when there are none,
    // and answers false with the error (errPtr may be null) on failure.
    // SO_BROADCAST on the IPv4 socket: true when it exists and the option was set.
    bool enableBroadcast(bool flag, GCDAsyncUdpSocketErrorInfo* errPtr);
    // SO_REUSEPORT on the IPv4 socket, and on the IPv6 one unless the IPv4 call failed.
    bool enableReusePort(bool flag, GCDAsyncUdpSocketErrorInfo* errPtr);

    // Binds `port` on an interface: nullopt is the wildcard, "localhost"/"loopback" the loopback
    // addresses, anything else an interface name or a numeric address held by a local interface
    // (the empty string matches none: error code 2). Binds once; a failed bind closes the OS
    // sockets without a callback, so options must be set again before retrying.
    bool bindToPort(std::uint16_t port, const std::optional<QString>& interfaceDescription,
                    GCDAsyncUdpSocketErrorInfo* errPtr);

    // Starts continuous receiving: every datagram becomes one udpSocketDidReceiveData callback.
    // Needs OS sockets (error code 1 otherwise). True at once when already receiving.
    bool beginReceiving(GCDAsyncUdpSocketErrorInfo* errPtr);

    // Queues one datagram to host (name or numeric address) and port. Empty data is ignored
    // without a callback. A negative timeout waits for the socket as long as it takes. Failures
    // come back only as udpSocketDidNotSendDataWithTag; an OS send error is reported that way
    // too and leaves the socket open.
    void sendData(const QByteArray& data, const QString& host, std::uint16_t port, double timeout,
                  long tag);

    // Synchronously ends the current send, drops the queued ones and closes the OS sockets.
    // The object keeps its configuration, delegate and queues, and may be bound again.
    void close();

    // The port the IPv4 (else IPv6) socket is bound to; 0 when not bound.
    std::uint16_t localPort();

    // Host text and port of a socket-address record: a sockaddr_in (AF_INET) or sockaddr_in6
    // (AF_INET6) of at least its size. Anything else: null host, port 0, false. hostPtr and
    // portPtr may be null.
    static bool getHost(QString* hostPtr, std::uint16_t* portPtr, const QByteArray& address);

    // The IPv4 address of the local interface that an interface description names (read as
    // bindToPort reads it), and that interface's broadcast address, both dotted. `broadcast` is
    // empty when the interface has none (loopback, point-to-point). nullopt when no local
    // interface matches or the description is empty.
    struct InterfaceIPv4 {
        QString address;
        QString broadcast;
    };
    static std::optional<InterfaceIPv4> interfaceIPv4(const QString& description);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
