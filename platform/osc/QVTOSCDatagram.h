#pragma once
// How an OSC input turns a received datagram into "QVTOSC-RECEIVED" user infos: our own checks
// first (QVTOSCPacket), then liblo's decoding of the messages and bundles that pass them.
// Kept apart from the sockets so that the same path can be fed bytes directly.

#include <lo/lo.h>

#include <QVariantMap>

#include <cstddef>

namespace QVTOSCDatagram {

// Deeper bundles are dropped whole: nobody nests that far, and it bounds the checks' recursion.
constexpr int kMaxBundleDepth = 8;

// Hands a datagram to `server`'s methods through liblo when it is well-formed OSC within the
// bundle depth; a datagram that is not is dropped whole (logged at debug level) and liblo never
// sees it. Answers whether it was handed on. Runs on the caller's thread, as the methods do.
bool dispatch(lo_server server, const char* data, std::size_t size);

// The user info of "QVTOSC-RECEIVED" for one message as liblo hands it to a method: see
// QVTOSCManager.h for the keys and how each OSC type maps onto them.
QVariantMap userInfoForMessage(const char* path, const char* types, lo_arg** argv, int argc);

}  // namespace QVTOSCDatagram
