#include "QVTOSCDatagram.h"

#include "Log.h"
#include "QVTOSCManager.h"
#include "QVTOSCPacket.h"

#include <cstring>

namespace {

// liblo's arguments sit on 4-byte boundaries inside the packet: read them bytewise.
template <class T>
T argumentAs(const lo_arg* a)
{
    T v;
    std::memcpy(&v, a, sizeof v);
    return v;
}

}  // namespace

bool QVTOSCDatagram::dispatch(lo_server server, const char* data, std::size_t size)
{
    switch (QVTOSCPacket::check(data, size, kMaxBundleDepth)) {
    case QVTOSCPacket::Verdict::WellFormed:
        lo_server_dispatch_data(server, const_cast<char*>(data), size);
        return true;
    case QVTOSCPacket::Verdict::TooDeep:
        KLOG_DEBUG("dropped an OSC bundle nested deeper than {} levels", kMaxBundleDepth);
        return false;
    case QVTOSCPacket::Verdict::Malformed:
        break;
    }
    KLOG_DEBUG("dropped a malformed OSC datagram of {} bytes", size);
    return false;
}

QVariantMap QVTOSCDatagram::userInfoForMessage(const char* path, const char* types, lo_arg** argv, int argc)
{
    QVariantMap info{{kQVTOSCAddressKey, QString::fromUtf8(path)}};
    for (int i = 0; i < argc; ++i) {
        const lo_arg* a = argv[i];
        int type = QVTOSCValueTypeInteger;
        QVariant val;
        switch (types[i]) {
        case LO_INT32: val = argumentAs<int32_t>(a); break;
        case LO_INT64: val = qlonglong(argumentAs<int64_t>(a)); break;
        case LO_TRUE: val = 1; break;
        case LO_FALSE: val = 0; break;
        case LO_FLOAT:
            type = QVTOSCValueTypeFloat;
            val = argumentAs<float>(a);
            break;
        case LO_DOUBLE:
            type = QVTOSCValueTypeFloat;
            val = argumentAs<double>(a);
            break;
        case LO_STRING:
        case LO_SYMBOL:
            type = QVTOSCValueTypeString;
            val = QString::fromUtf8(reinterpret_cast<const char*>(a));
            break;
        case LO_CHAR:
            type = QVTOSCValueTypeString;
            val = QString(QChar(argumentAs<unsigned char>(a)));
            break;
        default: continue;
        }
        info.insert(QString::number(i), QVariantMap{{kQVTOSCTypeKey, type}, {kQVTOSCValKey, val}});
    }
    return info;
}
