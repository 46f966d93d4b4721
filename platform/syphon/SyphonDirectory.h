#pragma once
// The frame-sharing sources of the session, kept up to date: every PipeWire "Video/Source" node
// as a server description {kNameKey: the node's name (what SyphonClient connects to), kAppNameKey:
// the application that made it ("" when it does not say), kUUIDKey: the node's serial}. A node
// that comes or goes is posted as "SyphonServerAnnounceNotification" or
// "SyphonServerRetireNotification" on the default centre (object: the directory; user info: its
// description) from the main queue, so observers run on the main thread.
//
// Without a PipeWire daemon at first use the directory stays empty (logged once by the layer).
//
// Threads: queries from any thread (under a lock the PipeWire loop thread takes to update).

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class SyphonDirectory {
public:
    static constexpr const char* kAnnounceNotification = "SyphonServerAnnounceNotification";
    static constexpr const char* kRetireNotification = "SyphonServerRetireNotification";
    static constexpr const char* kNameKey = "SyphonServerDescriptionNameKey";
    static constexpr const char* kAppNameKey = "SyphonServerDescriptionAppNameKey";
    static constexpr const char* kUUIDKey = "SyphonServerDescriptionUUIDKey";

    // Made on first use; lives for the process.
    static SyphonDirectory& sharedDirectory();

    // A directory of its own (tests). Returns once the daemon has listed the present nodes.
    SyphonDirectory();
    ~SyphonDirectory();
    SyphonDirectory(const SyphonDirectory&) = delete;
    SyphonDirectory& operator=(const SyphonDirectory&) = delete;

    bool isConnected() const;
    // The present servers, oldest first.
    QVariantList servers() const;
    // The servers of that name and application; an empty name or application matches any.
    QVariantList serversMatchingName(const QString& name, const QString& appName) const;
    // "<application> - <name>" of a description, as the program shows and stores a source.
    static QString displayName(const QVariantMap& description);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
