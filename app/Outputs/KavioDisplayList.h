#pragma once
// The displays outputs can be bound to, and how they are named and told apart.
//
// A display is one Qt screen, identified by the numbers its EDID carries (vendor = bytes 8-9,
// model = bytes 10-11, serial = bytes 12-15) and a display id (GpuDisplays::displayIdForScreen).
// Its name is the EDID's product-name descriptor, else the screen's model, else its connector.
// The EDID comes from the X server's RandR output property "EDID" over Qt's X connection;
// displays without one (virtual servers) keep zeros.
//
// Main thread only.

#include "Outputs/KavioVideoOutputObject.h"

#include <QByteArray>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QScreen;

struct KavioDisplay {
    QString name;        // product name, model or connector
    QRectF frame;        // geometry on its desktop, in points
    bool isMain = false;  // Qt's primary screen
    KavioScreenInfo info;
    QScreen* screen = nullptr;  // nullptr for displays of a test's list
};

namespace KavioEDID {
struct Identity {
    std::uint32_t vendor = 0, model = 0, serial = 0;
    QString productName;  // empty without a product-name descriptor
};
// Reads a base EDID block (128 bytes or more, valid header and checksum); nullopt otherwise.
std::optional<Identity> parse(const QByteArray& edid);
}  // namespace KavioEDID

class KavioDisplayListInterface {
public:
    virtual ~KavioDisplayListInterface() = default;
    // The displays in the platform's order.
    virtual std::vector<KavioDisplay> displays() const = 0;
};

// Qt's screens with their EDID.
class KavioSystemDisplayList : public KavioDisplayListInterface {
public:
    std::vector<KavioDisplay> displays() const override;
    // The EDID bytes of the screen's RandR output, empty when the server has none.
    static QByteArray edidForScreen(const QScreen* screen);
};
