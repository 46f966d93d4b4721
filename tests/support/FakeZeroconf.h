#pragma once
// A zeroconf stand-in: records what is published and lets a test announce services.

#include "Zeroconf.h"

#include <map>
#include <mutex>
#include <tuple>

class FakeZeroconf : public Zeroconf {
public:
    using Entry = std::tuple<QString, QString, int>;  // name, type, port

    Token publish(const QString& name, const QString& type, int port, const TxtRecords& txt = {}) override
    {
        std::lock_guard lock(mutex_);
        published_[next_] = {name, type, port};
        txt_[next_] = txt;
        return next_++;
    }
    void withdraw(Token token) override
    {
        std::lock_guard lock(mutex_);
        published_.erase(token);
        txt_.erase(token);
    }
    void browse(const QString& type, BrowseHandler handler) override
    {
        std::lock_guard lock(mutex_);
        browsedType_ = type;
        handlers_[type] = std::move(handler);
    }

    std::vector<Entry> published() const
    {
        std::lock_guard lock(mutex_);
        std::vector<Entry> out;
        for (const auto& [token, entry] : published_)
            out.push_back(entry);
        return out;
    }
    // The TXT records of the published services, in publishing order.
    std::vector<TxtRecords> publishedTxt() const
    {
        std::lock_guard lock(mutex_);
        std::vector<TxtRecords> out;
        for (const auto& [token, txt] : txt_)
            out.push_back(txt);
        return out;
    }
    // The type browsed last.
    QString browsedType() const
    {
        std::lock_guard lock(mutex_);
        return browsedType_;
    }
    // The current list of the type browsed last, or of `type`.
    void announce(const std::vector<Service>& services) { announce(browsedType(), services); }
    void announce(const QString& type, const std::vector<Service>& services)
    {
        BrowseHandler handler;
        {
            std::lock_guard lock(mutex_);
            if (const auto it = handlers_.find(type); it != handlers_.end())
                handler = it->second;
        }
        if (handler)
            handler(services);
    }

private:
    mutable std::mutex mutex_;
    std::map<Token, Entry> published_;
    std::map<Token, TxtRecords> txt_;
    Token next_ = 1;
    QString browsedType_;
    std::map<QString, BrowseHandler> handlers_;
};
