#pragma once
// One switcher as the library knows it: found on the network (one record per address and
// service), or made for a connection by typed address or USB (empty id, names and address).
// Every property may be read and written from any thread.

#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QVTAtemInput;

class QVTAtemDeviceInfo {
public:
    using Inputs = std::vector<std::shared_ptr<QVTAtemInput>>;

    QVTAtemDeviceInfo() = default;
    QVTAtemDeviceInfo(QString deviceID, QString productName, QString customName, QString ip);
    QVTAtemDeviceInfo(const QVTAtemDeviceInfo&) = delete;
    QVTAtemDeviceInfo& operator=(const QVTAtemDeviceInfo&) = delete;

    QString deviceID() const { return deviceID_.get(); }        // TXT "unique id"
    QString productName() const { return productName_.get(); }  // TXT "name", or the switcher's own on connection
    QString customName() const { return customName_.get(); }    // the service instance name
    QString ip() const { return ip_.get(); }                    // dotted IPv4
    // Filled by a listener on connection, nullopt otherwise.
    std::optional<Inputs> inputs() const { return inputs_.get(); }
    void setDeviceID(const QString& value) { deviceID_.set(value); }
    void setProductName(const QString& value) { productName_.set(value); }
    void setCustomName(const QString& value) { customName_.set(value); }
    void setIp(const QString& value) { ip_.set(value); }
    void setInputs(std::optional<Inputs> value) { inputs_.set(std::move(value)); }

    // "<QVTAtemDeviceInfo id='…' productName='…' customName='…' ip=… inputs=…>"
    QString description() const;

private:
    // A property read and written under its own lock.
    template <class T>
    class Locked {
    public:
        Locked() = default;
        explicit Locked(T value) : value_(std::move(value)) {}
        T get() const
        {
            std::lock_guard lock(mutex_);
            return value_;
        }
        void set(T value)
        {
            std::lock_guard lock(mutex_);
            value_ = std::move(value);
        }

    private:
        mutable std::mutex mutex_;
        T value_{};
    };

    Locked<QString> deviceID_, productName_, customName_, ip_;
    Locked<std::optional<Inputs>> inputs_;
};
